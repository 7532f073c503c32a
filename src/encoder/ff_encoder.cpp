// TFFEncoder: properties, libraries, the task list and adding inputs.
#include "encoder/ff_encoder.h"

#include <stdexcept>

#include "engine/ffmpeg_exception.h"
#include "media/loader.h"
#include "media/unicode_url.h"

namespace qv {

TFFEncoder::TFFEncoder() = default;

TFFEncoder::~TFFEncoder() {
  // The tasks go first: each is cut off from its events, then stopped and waited for (queued
  // main-thread calls keep running meanwhile, so a worker inside a marshalled event can finish).
  // Only then are the handlers cleared: no worker can be reading them any more.
  Tasks.Clear();
  OnAudioHook = nullptr;
  OnPreviewBitmap = nullptr;
  OnProgress = nullptr;
  OnTerminate = nullptr;
  OnVideoInputHook = nullptr;
  OnVideoOutputHook = nullptr;
  Deliveries.Shutdown();
}

void TFFEncoder::SetPreview(bool on) {
  FPreview = on;
  Tasks.SetPreviewAll(on);
}

void TFFEncoder::SetPreviewBitmap(bool on) {
  FPreviewBitmap = on;
  Tasks.SetPreviewBitmapAll(on);
}

void TFFEncoder::SetProgressInterval(int ms) { FProgressInterval = ms <= 100 ? 100 : ms; }

bool TFFEncoder::LibrariesLoaded() const { return FFLoader().AllLoaded(kEncoderLibraries); }

bool TFFEncoder::LoadLibraries(const std::wstring& path) {
  FFLoader().SetLibraryPath(WideToUtf8(path));
  if (FFLoader().LoadLibraries(kEncoderLibraries)) return true;
  FLastError = FFLoader().LastError();
  return false;
}

void TFFEncoder::CheckWorking(const char* operation) const {
  if (FWorking) throw std::runtime_error(Format("Cannot %s while working.", operation));
}

TFFmpeg* TFFEncoder::TaskAt(int index) {
  TFFmpeg* task = Tasks.Items(index);
  if (!task) FLastError = Format("Task index %d out of bounds (%d tasks)", index, Tasks.Count());
  return task;
}

int TFFEncoder::FinishedCount() const {
  std::lock_guard<std::recursive_mutex> lock(const_cast<std::recursive_mutex&>(TerminateLock));
  return FFinishedCount;
}

int TFFEncoder::PendingCount() const {
  std::lock_guard<std::recursive_mutex> lock(const_cast<std::recursive_mutex&>(TerminateLock));
  return FPendingCount;
}

void TFFEncoder::ClearTasks() {
  if (FWorking && !FAllDone) throw std::runtime_error("Cannot ClearTasks while working.");
  Tasks.Clear();
  FLastError.clear();
  std::lock_guard<std::recursive_mutex> lock(TerminateLock);
  FFinishedCount = 0;
  NextTask = -1;
  FPendingCount = 0;
  FAllDone = false;
  FThreaded = false;
  FWorking = false;
  FPaused = false;
}

void TFFEncoder::BindRunCallbacks(TFFmpeg& task) {
  auto alive = task.Alive();
  TFFmpeg* t = &task;
  task.OnProgress = [this, alive, t](TCustomFFmpeg&, int fileIndex, std::int64_t totalDuration,
                                     std::int64_t currentTime, std::int64_t totalSize, double bitRate, double quality,
                                     int fps, int frameNumber) {
    if (*alive) DoProgress(*t, fileIndex, totalDuration, currentTime, totalSize, bitRate, quality, fps, frameNumber);
  };
  task.OnTerminate = [this, alive, t](TCustomFFmpeg&) {
    if (*alive) DoTerminate(t);
  };
}

// Steps shared by AddTask and AddInputFile: the record, its option text, the typed fields, the open.
bool TFFEncoder::OpenInputOf(TFFmpeg& task, int inputIndex, const std::wstring& fileName,
                             const TInputOptions* options) {
  try {
    if (options) {
      TInputOptions copy = *options;
      if (copy.FileName.empty()) copy.FileName = fileName;
      task.StoreInputOptions(inputIndex, copy);
      task.ApplyOptionText(copy.ExtOptions, true);
      // An empty format leaves one given through ExtOptions ("f=...") in force.
      if (!copy.FileFormat.empty()) task.SetForceFormat(copy.FileFormat);
      task.SetStartTime(copy.StartTime);
      task.SetProgramId(copy.ProgramId);
    } else {
      task.ResetInputOptions(inputIndex);
    }
    task.IoTimeout = IoTimeout;
    if (task.OpenInput(fileName)) return true;
    FLastError = task.LastError();
  } catch (const std::exception& e) {
    FLastError = e.what();
  }
  task.ResetInputOptions(inputIndex);
  return false;
}

int TFFEncoder::AddTask(const std::wstring& fileName, const TInputOptions* options) {
  CheckWorking("AddTask");
  std::unique_ptr<TFFmpeg> task;
  try {
    task = std::make_unique<TFFmpeg>(MaxFiles, this);
    task->RaiseOnBadOption = RaiseOnBadOption;
    task->SetVerbosity(Verbosity);
    task->SetPreviewFlags((FPreview ? 1 : 0) | (FPreviewBitmap ? 2 : 0));
  } catch (const std::exception& e) {
    FLastError = e.what();
    return -1;
  }
  auto alive = task->Alive();
  TFFmpeg* t = task.get();
  task->OnBeforeFindStreamInfo = [this, alive, t](AVFormatContext* ctx) {
    // Raised on the caller's thread, during the open below.
    if (*alive) OnBeforeFindStreamInfo(t, ctx);
  };
  task->OnPreviewBitmap = [this, alive, t](TCustomFFmpeg&, const TBitmap& bitmap, std::int64_t pts, int frame) {
    if (*alive) DoPreviewBitmap(*t, bitmap, pts, frame);
  };
  if (!OpenInputOf(*task, 0, fileName, options)) return -1;
  BindRunCallbacks(*task);
  return Tasks.Add(std::move(task));
}

bool TFFEncoder::AddInputFile(int taskIndex, const std::wstring& fileName, const TInputOptions* options) {
  CheckWorking("AddInputFile");
  TFFmpeg* task = TaskAt(taskIndex);
  if (!task) return false;
  if (task->InputCount() >= MaxFiles) {
    FLastError = Format("max input files %d reached", MaxFiles);
    return false;
  }
  return OpenInputOf(*task, task->InputCount(), fileName, options);
}

void TFFEncoder::RemoveTask(int taskIndex) {
  CheckWorking("RemoveTask");
  Tasks.Delete(taskIndex);
}

}  // namespace qv
