#include "engine/mp4_repair.h"

#include <cstdint>
#include <initializer_list>
#include <cstring>

namespace qv {

namespace {

std::uint64_t BigEndian(const unsigned char* bytes, int count) {
  std::uint64_t value = 0;
  for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
  return value;
}

// A box type is four printable characters; anything else is where the damage begins.
bool IsBoxType(const unsigned char* type) {
  for (int i = 0; i < 4; ++i)
    if (type[i] < 0x20 || type[i] > 0x7e) return false;
  return true;
}

struct TBox {
  char Type[5] = {};
  std::int64_t End = 0;
};

enum class TBoxRead { Whole, CutShort, Invalid };

// The boxes a recording's writer may have been writing when it was cut off; any other type in a box
// that runs past the end is damage.
bool IsWrittenLast(const char* type) {
  for (const char* known : {"moof", "mdat", "mfra", "moov", "ftyp", "free", "skip", "sidx", "styp"})
    if (std::strcmp(type, known) == 0) return true;
  return false;
}

// Whether a whole box starts at `offset`, or one cut short by the end of the file, or none.
TBoxRead ReadBox(const TFileReader& file, std::int64_t offset, TBox& box) {
  unsigned char head[16];
  if (!file.Read(offset, head, 8)) return TBoxRead::CutShort;
  if (!IsBoxType(head + 4)) return TBoxRead::Invalid;
  std::memcpy(box.Type, head + 4, 4);
  std::uint64_t size = BigEndian(head, 4);
  std::int64_t headSize = 8;
  if (size == 1) {
    if (!file.Read(offset + 8, head + 8, 8)) return TBoxRead::CutShort;
    size = BigEndian(head + 8, 8);
    headSize = 16;
  } else if (size == 0) {
    size = std::uint64_t(file.Size() - offset);  // the box runs to the end of the file
  }
  if (size < std::uint64_t(headSize)) return TBoxRead::Invalid;
  if (size > std::uint64_t(file.Size() - offset)) return IsWrittenLast(box.Type) ? TBoxRead::CutShort : TBoxRead::Invalid;
  box.End = offset + std::int64_t(size);
  return TBoxRead::Whole;
}

}  // namespace

TRepairPlan PlanMp4Repair(const TFileReader& file) {
  TRepairPlan plan;
  std::int64_t offset = 0, kept = 0;
  bool moov = false, fragment = false, moofWaiting = false;
  TBox box;
  TBoxRead read = TBoxRead::Whole;
  while (offset < file.Size() && (read = ReadBox(file, offset, box)) == TBoxRead::Whole) {
    const std::string type = box.Type;
    if (offset == 0 && type != "ftyp") break;
    moov = moov || type == "moov";
    // A moof counts only with the mdat that holds its samples.
    if (type == "moof") {
      moofWaiting = true;
    } else {
      fragment = fragment || (moofWaiting && type == "mdat");
      moofWaiting = false;
      kept = box.End;
    }
    offset = box.End;
  }
  plan.KeepBytes = kept;
  plan.Complete = moov && kept == file.Size();
  if (offset == 0) plan.Error = "It is not an MP4 file.";
  else if (read == TBoxRead::Invalid && !file.OnlyZerosFrom(offset))
    plan.Error = DamagedText(offset);
  // Without fragments the samples are listed in a moov written at the end, which a file cut off
  // lacks.
  else if (!moov) plan.Error = "It holds no moov box (only a fragmented MP4 can be repaired).";
  else if (!fragment && !plan.Complete) plan.Error = "No picture or sound in it can be read.";
  return plan;
}

}  // namespace qv
