// An output file that a crash takes little of. A recording killed at any moment must leave a file
// that plays up to where it was, so:
//  - what the muxer writes waits in memory only until the engine says a muxed unit is whole
//    (Commit), and then goes to the kernel in one write: the file on disk ends at a whole chunk,
//    whatever the size of a chunk, and no write-back buffer holds seconds of it;
//  - a thread of its own asks the disk to store the data about once a second (fdatasync), so a
//    power cut loses about a second, and neither a slow disk nor the sync holds up the capture.
//
// Threads: the thread that muxes (the engine's worker, or whoever closes the output) owns the AVIO
// context, the pending bytes and every write. The sync thread only calls fdatasync on the
// descriptor, which stays open until that thread has been joined; a failed sync is kept under the
// lock and reported by the next Commit.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/ff_owners.h"

namespace qv {

class TCrashSafeFile {
 public:
  // Creates (or empties) the file named `path` (bytes as the file system takes them). nullptr with a
  // negative AVERROR code in `error` when it cannot be opened. Needs libavformat loaded.
  static std::unique_ptr<TCrashSafeFile> Create(const std::string& path, int& error);
  // Commits what is still pending, stops the sync thread, syncs a last time and closes.
  ~TCrashSafeFile();
  TCrashSafeFile(const TCrashSafeFile&) = delete;
  TCrashSafeFile& operator=(const TCrashSafeFile&) = delete;

  // For AVFormatContext::pb, with AVFMT_FLAG_CUSTOM_IO; this object keeps ownership.
  AVIOContext* IO() const { return Io.get(); }
  // Flushes the AVIO context and hands what the muxer wrote since the last commit to the kernel in
  // one piece. 0, or a negative AVERROR code: a failed write (the file is then cut back to where the
  // unit began, so it still ends at a whole chunk) or a failed sync since the last commit.
  int Commit();
  // The file behind `pb`, or nullptr when `pb` is not one of these.
  static TCrashSafeFile* Of(const AVIOContext* pb);

 private:
  explicit TCrashSafeFile(int fd);
  static int AppendThunk(void* opaque, std::uint8_t* data, int size);
  static std::int64_t SeekThunk(void* opaque, std::int64_t offset, int whence);
  std::int64_t Seek(std::int64_t offset, int whence);
  int WritePending();
  void SyncLoop();
  int TakeSyncError();

  // The muxing thread's.
  const int Fd;
  TCustomIoPtr Io;
  std::vector<std::uint8_t> Pending;
  std::int64_t Position = 0;  // the descriptor's offset
  std::int64_t End = 0;       // the file's size as written so far
  // Shared with the sync thread.
  std::atomic<bool> Dirty{false};  // written since the last sync
  std::mutex Lock;
  std::condition_variable Wake;
  bool Stopping = false;  // under Lock
  int SyncError = 0;      // under Lock
  std::thread Syncer;
};

}  // namespace qv
