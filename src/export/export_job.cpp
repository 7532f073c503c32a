#include "export/export_job.h"

#include <chrono>
#include <filesystem>

#include "encoder/ff_encoder.h"
#include "encoder/ffmpeg_task.h"
#include "media/loader.h"
#include "media/logger.h"
#include "media/main_thread.h"
#include "media/unicode_url.h"

namespace qv {

TExportJob::TExportJob() : Encoder(std::make_unique<TFFEncoder>()) {}

TExportJob::~TExportJob() {
  if (!FRunning) return;
  Cancel();
  Encoder->Stop(true);
}

bool TExportJob::AddPass(size_t pass) {
  const TExportPass& p = Plan.Passes[pass];
  TInputOptions in;
  in.ExtOptions = p.InputOptions;
  const int task = Encoder->AddTask(Utf8ToWide(Plan.Source), in);
  if (task < 0) return false;
  TOutputOptions out;
  out.ExtOptions = p.OutputOptions;
  if (!Encoder->SetOutputFile(task, Utf8ToWide(p.Output), out)) return false;
  TFFmpeg* run = Encoder->Task(task);
  for (int o = 0; o < run->OutputCount(); ++o)
    for (const TOutputStreamInfo& s : run->Output(o).Streams) FCodedStreams += s.StreamCopy ? 0 : 1;
  return true;
}

bool TExportJob::Start(const TExportPlan& plan) {
  if (FRunning) return false;
  Plan = plan;
  FError.clear();
  FCancelled = FFailed = false;
  FProgress = 0;
  FCodedStreams = 0;
  PassesDone = 0;
  Encoder->ClearTasks();
  if (!Encoder->LibrariesLoaded() && !Encoder->LoadLibraries(Utf8ToWide(DefaultLibraryPath()))) {
    FError = Encoder->LastError();
    return false;
  }
  for (size_t p = 0; p < Plan.Passes.size(); ++p) {
    if (AddPass(p)) continue;
    FError = Encoder->LastError();
    Encoder->ClearTasks();
    return false;
  }
  const double passes = double(Plan.Passes.size());
  Encoder->OnProgress = [this, passes](TObject*, PProgressInfo info) {
    const double total = double(Plan.DurationUs > 0 ? Plan.DurationUs : info->TotalDuration);
    const double part = total > 0 ? std::min(1.0, double(info->CurrentTime) / total) : 0;
    FProgress = (double(info->TaskIndex) + part) / passes;
    if (OnProgress) OnProgress(FProgress);
  };
  Encoder->OnTerminate = [this](TObject*, const TTerminateInfo& info) {
    if (info.TaskIndex < 0) {
      Finish();
      return;
    }
    ++PassesDone;
    if (info.Failed && !FFailed) {
      FFailed = true;
      FError = info.Reason.empty() ? info.ErrorMessage : info.Reason;
    }
    // A run that did not complete leaves the next without what it needs (a GIF's palette).
    if (!info.Completed && PassesDone < Plan.Passes.size()) Encoder->Stop(false);
  };
  FRunning = true;
  Encoder->StartTask(1);
  return true;
}

void TExportJob::Cancel() {
  if (!FRunning || FCancelled) return;
  FCancelled = true;
  Encoder->Stop(false);
}

void TExportJob::Finish() {
  Encoder->ClearTasks();  // closes the files before one may be removed
  FRunning = false;
  TExportResult result;
  result.Cancelled = FCancelled;
  result.Completed = !FCancelled && !FFailed && PassesDone == Plan.Passes.size();
  result.Error = FError;
  if (result.Completed) {
    result.Output = Plan.Output;
    FProgress = 1;
  } else {
    std::error_code ignored;
    std::filesystem::remove(Plan.Output, ignored);
    if (!FCancelled && result.Error.empty()) result.Error = "The export did not finish.";
    GetLogger()->Log(this, llInfo, LogSpeaker("export", this) + Plan.Output + (FCancelled ? ": cancelled" : ": failed: " + result.Error));
  }
  Result = result;
  HaveResult = true;
  if (OnFinished) OnFinished(result);
}

TExportResult TExportJob::Run(const TExportPlan& plan) {
  HaveResult = false;
  if (!Start(plan)) {
    TExportResult failed;
    failed.Error = FError;
    return failed;
  }
  while (!HaveResult) WaitMainThreadCalls(std::chrono::milliseconds(50));
  return Result;
}

}  // namespace qv
