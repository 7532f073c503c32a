// What the repair of an MP4 or an MKV does to the file, worked out before any byte is touched. Both
// containers are written in whole pieces (an MP4 fragment, a Matroska cluster), so a recording cut
// off (killed, a full disk) lost only its last piece, part written: the repair keeps the whole ones
// where they are, cuts the file after the last of them and rewrites a few bytes in place (sizes, a
// length), and may add an index after them. Nothing is copied, so it takes no room on a disk that
// filled up, and a file of tens of GB is read only where its pieces begin.
//
// Runs on the calling thread; nothing here is shared.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/avi_repair.h"

namespace qv {

// Reads a file by offset (pread), so a parser walks a file of any size without loading it.
class TFileReader {
 public:
  explicit TFileReader(const std::string& fileName);
  ~TFileReader();
  TFileReader(const TFileReader&) = delete;
  TFileReader& operator=(const TFileReader&) = delete;

  bool IsOpen() const { return Fd >= 0; }
  std::int64_t Size() const { return Bytes; }
  // All `count` bytes at `offset`, or false (past the end, a read error).
  bool Read(std::int64_t offset, void* data, std::size_t count) const;
  // What a file cut off may end with and a repair may drop: nothing more than a piece cut short,
  // which runs past the end, or zeros (a power cut leaves the blocks the size reached unwritten).
  // Anything else past `offset` is damage in the middle, which is no reason to cut.
  bool OnlyZerosFrom(std::int64_t offset) const;

 private:
  int Fd = -1;
  std::int64_t Bytes = 0;
};

struct TPatch {
  std::int64_t Offset = 0;
  std::string Bytes;
};

struct TRepairPlan {
  bool Complete = false;      // nothing to do: the file is left as it is
  std::int64_t KeepBytes = 0;  // the file is cut to this length
  std::vector<TPatch> Patches;  // within the bytes kept
  // Written after the bytes kept (an index) when the disk takes it, then the patches that point at it.
  std::string Append;
  std::vector<TPatch> AppendPatches;
  std::string Error;          // in words, when the file cannot be repaired
};

// "It is damaged at byte N, before its end; …": a plan's refusal to cut.
std::string DamagedText(std::int64_t offset);

using TRepairPlanner = TRepairPlan (*)(const TFileReader& file);

// Plans the repair of `fileName`, applies it (cut, patch, sync), then reads the file back with
// libavformat's `demuxer`: Ok only when it opens, states its length and yields packets. A complete
// file is left as it is and only read for its length. Needs the media libraries loaded.
TAviRepair RepairInPlace(const std::string& fileName, TRepairPlanner planner, const char* demuxer);

}  // namespace qv
