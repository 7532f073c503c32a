#include "engine/recording_repair.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "engine/mkv_repair.h"
#include "engine/mp4_repair.h"
#include "media/ff_owners.h"

namespace qv {

namespace {

enum class TKind { Avi, Mp4, Mkv, Other, Unreadable };

TKind KindOf(const std::string& fileName) {
  unsigned char head[8] = {};
  TFilePtr file(std::fopen(fileName.c_str(), "rb"));
  if (!file) return TKind::Unreadable;
  if (std::fread(head, 1, sizeof head, file.get()) != sizeof head) return TKind::Other;
  if (std::memcmp(head, "RIFF", 4) == 0) return TKind::Avi;
  if (std::memcmp(head + 4, "ftyp", 4) == 0) return TKind::Mp4;
  if (std::memcmp(head, "\x1A\x45\xDF\xA3", 4) == 0) return TKind::Mkv;
  return TKind::Other;
}

}  // namespace

TAviRepair RepairRecordingFile(const std::string& fileName) {
  // A repair of an AVI cut short left the original under another name only.
  if (::access(UnfinishedName(fileName).c_str(), F_OK) == 0) return RepairAviFile(fileName);
  switch (KindOf(fileName)) {
    case TKind::Mp4: return RepairInPlace(fileName, PlanMp4Repair, "mp4");
    case TKind::Mkv: return RepairInPlace(fileName, PlanMkvRepair, "matroska");
    // The AVI repair says in the library's words why a file cannot be read.
    case TKind::Avi:
    case TKind::Unreadable: return RepairAviFile(fileName);
    case TKind::Other: break;
  }
  TAviRepair result = RepairAviFile(fileName);
  if (!result.Ok) result.Error = "It is neither an AVI, an MKV nor an MP4 file (" + result.Error + ").";
  return result;
}

}  // namespace qv
