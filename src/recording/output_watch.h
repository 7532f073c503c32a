// The recording's watch over its output file: the free space left on its file system, and the file
// itself, which the user may delete (or delete or rename its folder) while it is being written.
//
// Threads: both classes belong to the recording's main thread. TOutputWatch keeps a descriptor of
// its own on the file, read-only; the engine's writer never sees it. That descriptor keeps the data
// of a file removed mid-recording alive, so it can be written out again once the file is finished.
#pragma once

#include <cstdint>
#include <string>

#include "recording/output_format.h"

namespace qv {

// What finishing the file still needs against what is free, judged from the recording's figures.
enum class TDiskVerdict { Fine, Warn, Stop };

struct TDiskReading {
  std::int64_t FreeBytes = 0;  // free to us on the output's file system
  std::int64_t FileBytes = 0;  // the file so far
  std::int64_t ElapsedUs = 0;  // recorded time so far (pauses left out)
  std::int64_t Frames = 0;     // video frames so far
};

class TDiskWatch {
 public:
  // Space kept free beyond the index: the header rewritten at the end, the muxer's last buffers and
  // the file system's own blocks.
  static constexpr std::int64_t kMarginBytes = 2 << 20;
  // An AVI's chunk costs 16 bytes in the closing index, and 8 more in its stream's own index once
  // the file is past its first gigabyte.
  static constexpr std::int64_t kIndexBytesPerChunk = 24;
  // Sound adds fewer than two chunks per video frame at the rates recorded (about 43 ADPCM blocks a
  // second at 44.1 kHz against 25 frames), so three per frame covers the whole file.
  static constexpr std::int64_t kChunksPerFrame = 3;
  // An MKV's or MP4's samples are listed as they are written; what the end adds is an entry per key
  // frame or fragment (Cues, mfra: under 40 bytes a second), so four bytes a frame at 10 fps or
  // more. The piece the muxer holds, a second at most, is in the lead below.
  static constexpr std::int64_t kFragmentedIndexBytesPerFrame = 4;
  // The stop must land before the space is gone: the next look comes within a second, the run's
  // stop and its flush take a little more.
  static constexpr double kStopLeadSeconds = 3;
  static constexpr double kWarnLeadSeconds = 60;

  explicit TDiskWatch(TOutputFormat format = TOutputFormat::Avi);

  // Stop once the space falls below what finishing needs; Warn, once, a minute before that at the
  // current data rate. After Stop it keeps saying Stop.
  TDiskVerdict Judge(const TDiskReading& now);

 private:
  // Bytes that finishing needs if the recording goes on for `seconds` more.
  std::int64_t NeedFor(const TDiskReading& now, double seconds) const;
  void UpdateRates(const TDiskReading& now);

  std::int64_t IndexBytesPerFrame;
  TDiskReading Previous;
  bool HavePrevious = false;
  double BytesPerSecond = 0, FramesPerSecond = 0;
  bool Warned = false;
  bool Stopped = false;
};

class TOutputWatch {
 public:
  TOutputWatch() = default;
  ~TOutputWatch();
  TOutputWatch(const TOutputWatch&) = delete;
  TOutputWatch& operator=(const TOutputWatch&) = delete;

  // Starts watching the file `path` (just created by the run). False when it cannot be opened; the
  // recording goes on unwatched.
  bool Open(const std::string& path);
  bool IsOpen() const { return Fd >= 0; }
  // Free bytes on the file's file system, -1 when unknown. Still answers once the file is removed.
  std::int64_t FreeBytes() const;
  // The file was removed (its link count is 0) or its path no longer names it (its folder renamed
  // or deleted, another file put in its place).
  bool Vanished() const;
  // The file's size, removed or not; -1 when unknown.
  std::int64_t Bytes() const;
  // Writes the data of the (removed) file to a new file: the output's own folder, made again, or
  // failing that `spareFolder`. The name taken (its own, or with " (2)" and so on when that is
  // taken); empty with the reasons in `error` when neither place takes it.
  std::string SaveCopy(const std::string& spareFolder, std::string& error) const;
  void Close();

 private:
  bool CopyTo(const std::string& path, std::string& error) const;

  std::string Path;
  int Fd = -1;
  std::uint64_t Device = 0, Inode = 0;
};

}  // namespace qv
