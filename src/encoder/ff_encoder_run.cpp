// TFFEncoder: starting, pausing and stopping the run, and the events the tasks raise.
#include <stdexcept>

#include "encoder/ff_encoder.h"
#include "media/main_thread.h"

namespace qv {

void TFFEncoder::StartTask(int count) {
  CheckWorking("StartTask");
  std::unique_lock<std::recursive_mutex> lock(TerminateLock);
  FFinishedCount = 0;
  NextTask = 0;
  FPendingCount = Tasks.Count();
  FAllDone = false;
  FThreaded = count > 0;
  FWorking = true;
  FPaused = false;
  if (FPendingCount == 0) {
    // Nothing to run: the run is over at once, or Working would never clear its way to ClearTasks.
    THandOver handOver;
    IssueFinalEvent(handOver);
    lock.unlock();
    HandOver(handOver);
    return;
  }
  if (FThreaded) {
    // Held while starting: a worker that ends meanwhile starts the next task under the same lock.
    while (FPendingCount > 0) {
      StartNextTask();
      if (--count == 0) break;
    }
    return;
  }
  lock.unlock();
  // Inline: each task runs to its end in this thread; DoTerminate reports it directly.
  for (;;) {
    {
      std::lock_guard<std::recursive_mutex> again(TerminateLock);
      if (FPendingCount <= 0) break;
    }
    StartNextTask();
  }
}

// Takes the next task and starts it. The index is taken before the start: a task that cannot start
// reports its end inside Start, and DoTerminate then starts the one after it.
void TFFEncoder::StartNextTask() {
  std::shared_ptr<TFFmpeg> task;
  {
    std::lock_guard<std::recursive_mutex> lock(TerminateLock);
    if (FPendingCount <= 0) return;
    --FPendingCount;
    task = Tasks.Hold(NextTask++);
  }
  if (!task) return;
  task->ProgressIntervalUs = std::int64_t(FProgressInterval) * 1000;
  if (TConvertThread* worker = task->Start(FThreaded, ThreadPriority)) worker->Resume();
}

void TFFEncoder::Pause() {
  if (!FWorking || FPaused) return;
  Tasks.PauseAll();
  FPaused = true;
}

void TFFEncoder::Resume() {
  if (!FWorking || !FPaused) return;
  Tasks.ResumeAll();
  FPaused = false;
}

void TFFEncoder::Stop(bool wait) {
  {
    std::lock_guard<std::recursive_mutex> lock(TerminateLock);
    FPendingCount = 0;
  }
  // Not under the lock: waiting for a worker that is about to report its end needs it.
  if (FWorking) Tasks.StopAll(wait);
}

void TFFEncoder::DoTerminate(TFFmpeg* task) {
  // The events are handed over after the lock is let go: one that has to be handed over in this
  // thread waits for the handlers before it, and those may call the component.
  THandOver handOver;
  bool startNext = false;
  {
    std::lock_guard<std::recursive_mutex> lock(TerminateLock);
    if (!task) {
      IssueFinalEvent(handOver);
    } else {
      // A task no longer in the list is being freed at teardown: it has nothing left to report, and
      // an event with index -1 would pass for the final one.
      const int index = Tasks.IndexOf(task);
      if (index < 0) return;
      IssueTaskEvent(*task, index, handOver);
      ++FFinishedCount;
      if (FPendingCount < 1) {
        if (FWorking && !FAllDone && FFinishedCount >= Tasks.Count()) IssueFinalEvent(handOver);
      } else {
        startNext = FThreaded;
      }
    }
  }
  HandOver(handOver);
  if (startNext) StartNextTask();
}

void TFFEncoder::IssueTaskEvent(TFFmpeg& task, int index, THandOver& handOver) {
  TTerminateEvent handler = OnTerminate.Load();
  if (!handler) return;
  TTerminateInfo info;
  info.TaskIndex = index;
  info.Completed = task.CompletedNormally;
  info.Failed = task.Failed;
  info.ErrorMessage = task.FailText;
  info.Reason = task.FailReason;
  info.FailedInput = task.FailedInput;
  if (FThreaded || !FWorking)
    handOver.push_back(Deliveries.Issue(std::move(handler), this, info, TriggerEventInMainThread));
  else
    handler(this, info);
}

void TFFEncoder::IssueFinalEvent(THandOver& handOver) {
  TTerminateEvent handler = OnTerminate.Load();
  if (!handler) {
    FAllDone = true;
    return;
  }
  TTerminateInfo info;
  info.TaskIndex = -1;
  info.Completed = true;
  if (FThreaded || !FWorking) {
    // Done before the delivery exists: its handler may run at once and must find the run over (a
    // handler that clears the tasks on the final event would be refused otherwise).
    FAllDone = true;
    handOver.push_back(Deliveries.Issue(std::move(handler), this, info, TriggerEventInMainThread));
  } else {
    // Inline the handler runs inside the last task's end, which must not be freed under it.
    handler(this, info);
    FAllDone = true;
  }
}

void TFFEncoder::HandOver(THandOver& handOver) {
  for (TTerminateDelivery& delivery : handOver) Deliveries.Dispatch(std::move(delivery));
  handOver.clear();
}

void TFFEncoder::DoProgress(TFFmpeg& task, int inputIndex, std::int64_t totalDuration, std::int64_t currentTime,
                            std::int64_t totalSize, double bitRate, double quality, int fps, int frameNumber) {
  if (!OnProgress) return;
  std::lock_guard<std::mutex> lock(ProgressLock);
  const int index = Tasks.IndexOf(&task);
  if (index < 0) return;  // a task being freed at teardown
  ProgressScratch.TaskIndex = index;
  ProgressScratch.InputIndex = inputIndex;
  ProgressScratch.FrameNumber = frameNumber;
  ProgressScratch.FPS = fps;
  ProgressScratch.Quality = float(quality);
  ProgressScratch.Bitrate = float(bitRate);
  ProgressScratch.TotalSize = totalSize;
  ProgressScratch.CurrentTime = currentTime;
  ProgressScratch.TotalDuration = totalDuration;
  // The slot is read when the call runs: it may have been cleared while the call was queued.
  auto call = [this] { OnProgress(this, &ProgressScratch); };
  if (TriggerEventInMainThread)
    CallInMainThread(call);
  else
    call();
}

void TFFEncoder::DoPreviewBitmap(TFFmpeg& task, const TBitmap& bitmap, std::int64_t pts, int frameNumber) {
  if (!OnPreviewBitmap) return;
  std::lock_guard<std::mutex> lock(PreviewLock);
  PreviewScratch.TaskIndex = Tasks.IndexOf(&task);
  PreviewScratch.Bitmap = &bitmap;
  PreviewScratch.FrameNumber = frameNumber;
  PreviewScratch.PTS = pts;
  auto call = [this] { OnPreviewBitmap(this, PreviewScratch); };
  if (TriggerEventInMainThread)
    CallInMainThread(call);
  else
    call();
}

void TFFEncoder::VideoHook(const TLockedHandler<TVideoHookEvent>& slot, TFFmpeg& task, TBitmap& bitmap, bool* disable,
                           bool* changed, std::int64_t pts, int frameNumber) {
  std::lock_guard<std::mutex> lock(VideoHookLock);
  const TVideoHookEvent handler = slot.Load();
  if (!handler) return;
  HookScratch.TaskIndex = Tasks.IndexOf(&task);
  HookScratch.Bitmap = &bitmap;
  HookScratch.FrameNumber = frameNumber;
  HookScratch.PTS = pts;
  HookScratch.Update = *changed;
  HookScratch.StopHook = *disable;
  // The bitmap belongs to the worker, which is inside this call: nothing else draws on it meanwhile.
  handler(this, &HookScratch);
  *changed = HookScratch.Update;
  *disable = HookScratch.StopHook;
}

void TFFEncoder::DoVideoInputHook(TFFmpeg& task, TBitmap& bitmap, bool* disable, bool* changed, std::int64_t pts,
                                  int frameNumber) {
  VideoHook(OnVideoInputHook, task, bitmap, disable, changed, pts, frameNumber);
}

void TFFEncoder::DoVideoOutputHook(TFFmpeg& task, TBitmap& bitmap, bool* disable, bool* changed, std::int64_t pts,
                                   int frameNumber) {
  VideoHook(OnVideoOutputHook, task, bitmap, disable, changed, pts, frameNumber);
}

void TFFEncoder::DoAudioHook(TFFmpeg& task, std::uint8_t* samples, int sampleFormat, int channels, int sampleRate,
                             int size, std::int64_t pts) {
  std::lock_guard<std::mutex> lock(AudioHookLock);
  OnAudioHook(this, Tasks.IndexOf(&task), pts, samples, size, sampleRate, channels, AVSampleFormat(sampleFormat));
}

void TFFEncoder::BindHookCallbacks(TFFmpeg& task, const TOutputOptions& options) {
  auto alive = task.Alive();
  TFFmpeg* t = &task;
  if (options.AudioHook)
    task.OnAudioHook = [this, alive, t](TCustomFFmpeg&, std::uint8_t* samples, int fmt, int channels, int rate,
                                        int size, std::int64_t pts) {
      if (*alive) DoAudioHook(*t, samples, fmt, channels, rate, size, pts);
    };
  if (options.VideoInputHook)
    task.OnVideoInputHook = [this, alive, t](TCustomFFmpeg&, TBitmap& bitmap, bool* disable, bool* changed,
                                             std::int64_t pts, int frame) {
      if (*alive) DoVideoInputHook(*t, bitmap, disable, changed, pts, frame);
    };
  if (options.VideoOutputHook)
    task.OnVideoOutputHook = [this, alive, t](TCustomFFmpeg&, TBitmap& bitmap, bool* disable, bool* changed,
                                              std::int64_t pts, int frame) {
      if (*alive) DoVideoOutputHook(*t, bitmap, disable, changed, pts, frame);
    };
}

}  // namespace qv
