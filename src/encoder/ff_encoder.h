// TFFEncoder: the encoder component. It turns inputs plus an output into conversion tasks, runs
// each task's transcoder in a worker thread (or inline), forwards pause, resume and stop, and raises
// progress, preview, hook and terminate events.
//
// Threads: the component is driven from the main thread (MarkMainThread). Progress, preview and
// terminate handlers run on the main thread when TriggerEventInMainThread is set (the default): a
// worker posts the call and waits, so the main thread must keep running queued calls
// (RunMainThreadCalls / WaitMainThreadCalls, or the shell's event loop). Audio and video hooks
// always run on the worker thread. The handler slots are set and cleared on the main thread while
// workers and delivery threads read them, so each is a locked slot that callers copy from.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "encoder/custom_encoder.h"
#include "encoder/encoder_records.h"
#include "encoder/ffmpeg_task_list.h"
#include "encoder/task_threads.h"
#include "engine/convert_thread.h"
#include "media/locked_handler.h"

namespace qv {

class TFFEncoder : public TCustomEncoder {
 public:
  TFFEncoder();
  ~TFFEncoder() override;
  TFFEncoder(const TFFEncoder&) = delete;
  TFFEncoder& operator=(const TFFEncoder&) = delete;

  // ---- published properties ----
  bool Preview() const { return FPreview; }
  void SetPreview(bool on);
  bool PreviewBitmap() const { return FPreviewBitmap; }
  void SetPreviewBitmap(bool on);
  int ProgressInterval() const { return FProgressInterval; }
  void SetProgressInterval(int ms);  // values <= 100 are stored as 100
  // Worker priority; mapped to the worker's nice value (see engine/convert_thread.h).
  TThreadPriority ThreadPriority = tpNormal;
  bool TriggerEventInMainThread = true;
  TLockedHandler<TAudioHookEvent> OnAudioHook;
  TLockedHandler<TBeforeFindStreamInfoEvent> OnBeforeFindStreamInfo;
  TLockedHandler<TPreviewBitmapEvent> OnPreviewBitmap;
  TLockedHandler<TProgressEvent> OnProgress;
  TLockedHandler<TTerminateEvent> OnTerminate;
  TLockedHandler<TVideoHookEvent> OnVideoInputHook;
  TLockedHandler<TVideoHookEvent> OnVideoOutputHook;

  // ---- public settings, handed to each new task ----
  int MaxFiles = 20;  // inputs and outputs per task (1..512)
  bool RaiseOnBadOption = true;
  int IoTimeout = 10000;  // ms
  int Verbosity = 1;

  // ---- operations ----
  bool LibrariesLoaded() const;
  bool LoadLibraries(const std::wstring& path);
  void ClearTasks();
  int AddTask(const std::wstring& fileName, const TInputOptions* options = nullptr);
  int AddTask(const std::wstring& fileName, const TInputOptions& options) { return AddTask(fileName, &options); }
  bool AddInputFile(int taskIndex, const std::wstring& fileName, const TInputOptions* options = nullptr);
  bool AddInputFile(int taskIndex, const std::wstring& fileName, const TInputOptions& options) {
    return AddInputFile(taskIndex, fileName, &options);
  }
  bool SetOutputFile(int taskIndex, const std::wstring& fileName, const TOutputOptions* options = nullptr);
  bool SetOutputFile(int taskIndex, const std::wstring& fileName, const TOutputOptions& options) {
    return SetOutputFile(taskIndex, fileName, &options);
  }
  void RemoveTask(int taskIndex);
  void StartTask(int count);
  void Pause();
  void Resume();
  void Stop(bool wait);
  const std::string& LastError() const { return FLastError; }

  // ---- state (read access) ----
  int TaskCount() const { return Tasks.Count(); }
  TFFmpeg* Task(int index) const { return Tasks.Items(index); }
  bool Working() const { return FWorking; }
  bool Paused() const { return FPaused; }
  bool AllDone() const { return FAllDone; }
  bool Threaded() const { return FThreaded; }
  int FinishedCount() const;
  int PendingCount() const;
  // The last per-task terminate event has been handed to the handler.
  bool TerminateDelivered() const { return Deliveries.Delivered(); }
  // Returns once every terminate event issued so far has been handled; on the main thread it runs
  // the queued main-thread calls meanwhile, so handlers marshalled there get to run.
  void WaitTerminateDelivered() { Deliveries.WaitAll(); }

  // ---- task callbacks ----
  void DoVideoInputHook(TFFmpeg& task, TBitmap& bitmap, bool* disable, bool* changed, std::int64_t pts,
                        int frameNumber) override;
  void DoVideoOutputHook(TFFmpeg& task, TBitmap& bitmap, bool* disable, bool* changed, std::int64_t pts,
                         int frameNumber) override;
  void DoPreviewBitmap(TFFmpeg& task, const TBitmap& bitmap, std::int64_t pts, int frameNumber) override;
  void DoProgress(TFFmpeg& task, int inputIndex, std::int64_t totalDuration, std::int64_t currentTime,
                  std::int64_t totalSize, double bitRate, double quality, int fps, int frameNumber) override;
  void DoTerminate(TFFmpeg* task) override;
  void DoAudioHook(TFFmpeg& task, std::uint8_t* samples, int sampleFormat, int channels, int sampleRate, int size,
                   std::int64_t pts);

 private:
  void CheckWorking(const char* operation) const;
  TFFmpeg* TaskAt(int index);  // nullptr with LastError when out of range
  void BindRunCallbacks(TFFmpeg& task);
  void BindHookCallbacks(TFFmpeg& task, const TOutputOptions& options);
  bool OpenInputOf(TFFmpeg& task, int inputIndex, const std::wstring& fileName, const TInputOptions* options);
  void StartNextTask();
  // Under TerminateLock: the events to hand over once the lock is let go (see TTerminateDeliveries).
  using THandOver = std::vector<TTerminateDelivery>;
  void IssueTaskEvent(TFFmpeg& task, int index, THandOver& handOver);
  void IssueFinalEvent(THandOver& handOver);
  void HandOver(THandOver& handOver);  // outside TerminateLock
  void VideoHook(const TLockedHandler<TVideoHookEvent>& slot, TFFmpeg& task, TBitmap& bitmap, bool* disable,
                 bool* changed, std::int64_t pts, int frameNumber);

  bool FPreview = false;
  bool FPreviewBitmap = false;
  int FProgressInterval = 500;
  std::string FLastError;

  TFFmpegList Tasks;
  std::mutex AudioHookLock, PreviewLock, ProgressLock, VideoHookLock;
  // Recursive: a task that fails to start reports its end at once, in the thread that started it,
  // which may be StartTask starting the tasks under this lock.
  std::recursive_mutex TerminateLock;
  TProgressInfo ProgressScratch;
  TPreviewInfo PreviewScratch;
  THookInfo HookScratch;

  // Run state; FinishedCount, NextTask and PendingCount change under TerminateLock.
  int FFinishedCount = 0;
  int NextTask = -1;
  int FPendingCount = 0;
  std::atomic<bool> FAllDone{false};
  std::atomic<bool> FThreaded{false};
  std::atomic<bool> FWorking{false};
  std::atomic<bool> FPaused{false};
  TTerminateDeliveries Deliveries;
};

}  // namespace qv
