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
    std::unique_ptr<TFFmpeg> victim;
    {
      std::lock_guard<std::mutex> lock(Lock);
      if (Tasks.empty()) return;
      victim = std::move(Tasks.front());
      Tasks.erase(Tasks.begin());
    }
  }
}

void TFFmpegList::Delete(int index) {
  std::unique_ptr<TFFmpeg> victim;
  {
    std::lock_guard<std::mutex> lock(Lock);
    if (index < 0 || index >= int(Tasks.size())) return;
    victim = std::move(Tasks[size_t(index)]);
    Tasks.erase(Tasks.begin() + index);
  }
}

TFFmpeg* TFFmpegList::Items(int index) const {
  std::lock_guard<std::mutex> lock(Lock);
  return index >= 0 && index < int(Tasks.size()) ? Tasks[size_t(index)].get() : nullptr;
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

std::vector<TFFmpeg*> TFFmpegList::Snapshot() const {
  std::lock_guard<std::mutex> lock(Lock);
  std::vector<TFFmpeg*> all;
  for (const auto& t : Tasks) all.push_back(t.get());
  return all;
}

void TFFmpegList::PauseAll() {
  for (TFFmpeg* t : Snapshot()) t->Pause();
}

void TFFmpegList::ResumeAll() {
  for (TFFmpeg* t : Snapshot()) t->Resume();
}

void TFFmpegList::StopAll(bool wait) {
  for (TFFmpeg* t : Snapshot()) t->Terminate(wait);
}

void TFFmpegList::SetPreviewBit(int bit, bool on) {
  for (TFFmpeg* t : Snapshot()) {
    int flags = t->PreviewFlags();
    t->SetPreviewFlags(on ? flags | bit : flags & ~bit);
  }
}

void TFFmpegList::SetPreviewAll(bool on) { SetPreviewBit(1, on); }
void TFFmpegList::SetPreviewBitmapAll(bool on) { SetPreviewBit(2, on); }

}  // namespace qv
