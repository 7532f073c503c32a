// TExportJob: runs an export plan through the encoder component, one run after another, with
// progress and cancel. The user's file is either finished or not there: a cancelled or failed job
// removes what it had written (the recording itself is only ever read).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "export/export_plan.h"

namespace qv {

class TFFEncoder;

struct TExportResult {
  bool Completed = false;
  bool Cancelled = false;
  std::string Error;   // why it failed, in words for the user
  std::string Output;  // the finished file (Completed only)
};

class TExportJob {
 public:
  TExportJob();
  ~TExportJob();
  TExportJob(const TExportJob&) = delete;
  TExportJob& operator=(const TExportJob&) = delete;

  // Opens every run's files and starts the first run; false with Error() when that fails (nothing
  // is left written then). Events come on the main thread, which must keep running its queued
  // calls (the toolkit's loop, or WaitMainThreadCalls).
  bool Start(const TExportPlan& plan);
  void Cancel();
  bool Running() const { return FRunning; }
  const std::string& Error() const { return FError; }
  // 0..1 over all runs.
  double Progress() const { return FProgress; }
  // Output streams the runs code (an encoder is opened for each); 0 for a copy.
  int CodedStreams() const { return FCodedStreams; }

  std::function<void(double progress)> OnProgress;
  std::function<void(const TExportResult& result)> OnFinished;

  // Start, then wait on this thread for the end (tests and command-line use).
  TExportResult Run(const TExportPlan& plan);

 private:
  bool AddPass(size_t pass);
  void Finish();  // after the last run's end, on the main thread

  std::unique_ptr<TFFEncoder> Encoder;
  TExportPlan Plan;
  std::string FError;
  bool FRunning = false, FCancelled = false, FFailed = false;
  double FProgress = 0;
  int FCodedStreams = 0;
  size_t PassesDone = 0;
  TExportResult Result;
  bool HaveResult = false;
};

}  // namespace qv
