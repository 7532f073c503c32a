// TFFmpegList: the component's owning list of tasks; a task's index is its place in the list.
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
  int IndexOf(const TFFmpeg* task) const;
  int Count() const;

  void PauseAll();
  void ResumeAll();
  // Asks every task to end: a running one stops, a never-started one ends through its terminator.
  void StopAll(bool wait);
  void SetPreviewAll(bool on);        // bit 0 of each task's preview flags
  void SetPreviewBitmapAll(bool on);  // bit 1

 private:
  std::vector<TFFmpeg*> Snapshot() const;
  void SetPreviewBit(int bit, bool on);
  // Workers look their task up while the main thread may be between calls; the lock is never held
  // while a task is freed or stopped (both may wait for a worker that wants IndexOf).
  mutable std::mutex Lock;
  std::vector<std::unique_ptr<TFFmpeg>> Tasks;
};

}  // namespace qv
