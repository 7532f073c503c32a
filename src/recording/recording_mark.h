// The record that a recording is under way: a small file in a folder of marks naming the
// recording's file. It is on the disk before the recording starts and is removed once the file is
// finished, so a mark left behind names a file that its recording never finished (the program was
// killed or crashed, the power cut) and that the next start can repair (recovery.h).
//
// While its recording runs the mark is locked (flock), and the system lets go of the lock when the
// process ends, however it ends: whoever looks for marks left behind passes over the locked ones,
// whose recordings are still running, in this process or another.
//
// Threads: a mark belongs to the recording that made it (the main thread).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace qv {

class TRecordingMark {
 public:
  // Writes a mark naming `fileName` (UTF-8) in `folder`, made if missing. nullptr with `error` in
  // words when it cannot be written.
  static std::unique_ptr<TRecordingMark> Create(const std::string& folder, const std::string& fileName,
                                                std::string& error);
  // Lets go of the lock; the mark stays unless Remove was called.
  ~TRecordingMark();
  TRecordingMark(const TRecordingMark&) = delete;
  TRecordingMark& operator=(const TRecordingMark&) = delete;

  // The file is finished: the mark goes.
  void Remove();

 private:
  TRecordingMark(int fd, std::string path) : Fd(fd), Path(std::move(path)) {}
  int Fd;
  std::string Path;
};

struct TLeftMark {
  std::string Path;      // the mark itself
  std::string FileName;  // the recording's file it names
};

// The marks in `folder` whose recordings no longer run, oldest first.
std::vector<TLeftMark> FindLeftMarks(const std::string& folder);
void RemoveMark(const TLeftMark& mark);

}  // namespace qv
