// TFFmpegList: the component's owning list of tasks; a task's index is its place in the list.
// Ownership is shared with whoever waits on a task (StopAll, starting one): a handler run during
// that wait may clear the list, and the task then lives until the wait is over. A task taken out of
// the list raises no more events.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "encoder/ffmpeg_task.h"

namespace qv {

class TFFmpegList {
 public:
  TFFmpegList() = default;
  ~TFFmpegList() { Clear(); }
  TFFmpegList(const TFFmpegList&) = delete;
  TFFmpegList& operator=(const TFFmpegList&) = delete;

  int Add(std::unique_ptr<TFFmpeg> task);
  // Frees every task (each stops and waits for its run), then empties the list.
  void Clear();
  // Frees one task; later indexes shift down.
  void Delete(int index);
  TFFmpeg* Items(int index) const;  // nullptr when out of range
  std::shared_ptr<TFFmpeg> Hold(int index) const;  // the same, kept alive while held
  int IndexOf(const TFFmpeg* task) const;
  int Count() const;

  void PauseAll();
  void ResumeAll();
  // Asks every task to end: a running one stops, a never-started one ends through its terminator.
  void StopAll(bool wait);
  void SetPreviewAll(bool on);        // bit 0 of each task's preview flags
  void SetPreviewBitmapAll(bool on);  // bit 1

 private:
  std::vector<std::shared_ptr<TFFmpeg>> Snapshot() const;
  std::shared_ptr<TFFmpeg> Remove(size_t index);  // under Lock
  void SetPreviewBit(int bit, bool on);
  // Workers look their task up while the main thread may be between calls; the lock is never held
  // while a task is freed or stopped (both may wait for a worker that wants IndexOf).
  mutable std::mutex Lock;
  std::vector<std::shared_ptr<TFFmpeg>> Tasks;
};

}  // namespace qv
