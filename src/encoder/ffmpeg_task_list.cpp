#include "encoder/ffmpeg_task_list.h"

namespace qv {

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task) {
  std::lock_guard<std::mutex> lock(Lock);
  Tasks.push_back(std::move(task));
  return int(Tasks.size()) - 1;
}

void TFFmpegList::Clear() {
  // Freed one at a time, in order; each task stops and waits for its run as it is freed.
  for (;;) {
    std::shared_ptr<TFFmpeg> victim;
    {
      std::lock_guard<std::mutex> lock(Lock);
      if (Tasks.empty()) return;
      victim = Remove(0);
    }
  }
}

void TFFmpegList::Delete(int index) {
  std::shared_ptr<TFFmpeg> victim;
  {
    std::lock_guard<std::mutex> lock(Lock);
    if (index < 0 || index >= int(Tasks.size())) return;
    victim = Remove(size_t(index));
  }
}

std::shared_ptr<TFFmpeg> TFFmpegList::Remove(size_t index) {
  std::shared_ptr<TFFmpeg> task = std::move(Tasks[index]);
  Tasks.erase(Tasks.begin() + std::ptrdiff_t(index));
  task->Detach();
  return task;
}

TFFmpeg* TFFmpegList::Items(int index) const { return Hold(index).get(); }

std::shared_ptr<TFFmpeg> TFFmpegList::Hold(int index) const {
  std::lock_guard<std::mutex> lock(Lock);
  return index >= 0 && index < int(Tasks.size()) ? Tasks[size_t(index)] : nullptr;
}

int TFFmpegList::IndexOf(const TFFmpeg* task) const {
  std::lock_guard<std::mutex> lock(Lock);
  for (size_t i = 0; i < Tasks.size(); ++i)
    if (Tasks[i].get() == task) return int(i);
  return -1;
}

int TFFmpegList::Count() const {
  std::lock_guard<std::mutex> lock(Lock);
  return int(Tasks.size());
}

std::vector<std::shared_ptr<TFFmpeg>> TFFmpegList::Snapshot() const {
  std::lock_guard<std::mutex> lock(Lock);
  return Tasks;
}

void TFFmpegList::PauseAll() {
  for (const auto& t : Snapshot()) t->Pause();
}

void TFFmpegList::ResumeAll() {
  for (const auto& t : Snapshot()) t->Resume();
}

void TFFmpegList::StopAll(bool wait) {
  for (const auto& t : Snapshot()) t->Terminate(wait);
}

void TFFmpegList::SetPreviewBit(int bit, bool on) {
  for (const auto& t : Snapshot()) {
    int flags = t->PreviewFlags();
    t->SetPreviewFlags(on ? flags | bit : flags & ~bit);
  }
}

void TFFmpegList::SetPreviewAll(bool on) { SetPreviewBit(1, on); }
void TFFmpegList::SetPreviewBitmapAll(bool on) { SetPreviewBit(2, on); }

}  // namespace qv
