#include "cli/convert_run.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>

#include "cli/console.h"
#include "cli/convert_check.h"
#include "cli/convert_progress.h"
#include "encoder/ff_encoder.h"
#include "encoder/ffmpeg_task.h"
#include "engine/recording_repair.h"
#include "media/ff_utils.h"
#include "media/loader.h"
#include "media/logger.h"
#include "media/main_thread.h"
#include "media/signal_pipe.h"
#include "media/unicode_url.h"

namespace qv {

namespace {

bool LoadLibraries(TFFEncoder& encoder, TConsole& console) {
  if (encoder.LibrariesLoaded() || encoder.LoadLibraries(Utf8ToWide(DefaultLibraryPath()))) return true;
  console.Line("quorvane-convert: " + encoder.LastError());
  return false;
}

}  // namespace

int RunRepair(const std::string& fileName) {
  TConsole console;
  TConsoleLog consoleLog(console);
  TFFEncoder encoder;
  if (!LoadLibraries(encoder, console)) return 1;
  const TAviRepair repair = RepairRecordingFile(fileName);
  if (!repair.Ok) {
    console.Line("quorvane-convert: " + fileName + " was not repaired: " + repair.Error);
    return 1;
  }
  console.Line((repair.WasComplete ? fileName + " is complete; nothing to repair (" : "Repaired: " + fileName + " (") +
               LengthText(repair.DurationUs) + ")");
  return 0;
}

int RunConvert(const TConvertCommand& cmd) {
  // From the start: a signal while the files open gives up the open that waits (a FIFO nobody
  // writes, a network input), and one that comes later stops the run as soon as it begins.
  TSignalPipe signals;
  std::optional<TSignalInterrupt> interruptOpens(std::in_place, signals);
  TConsole console;
  // The transcoder logs its progress text as well whenever its dup/drop counts change; the
  // progress line shows those, so its copy is not printed a second time.
  std::atomic<const void*> transcoder{nullptr};
  TConsoleLog consoleLog(console, [&transcoder](const std::string& line) {
    const void* speaker = transcoder.load();
    return speaker && line.rfind(LogSpeaker("transcoder", speaker) + "frame=", 0) == 0;
  });

  TFFEncoder encoder;
  if (!LoadLibraries(encoder, console)) return 1;
  if (const std::string refused = RefusedOption(cmd); !refused.empty()) {
    console.Line("quorvane-convert: " + refused);
    return 2;
  }
  if (const std::string refused = ExistingOutputRefusal(cmd.Output, cmd.Overwrite); !refused.empty()) {
    console.Line("quorvane-convert: " + refused);
    return 2;
  }
  auto openFailed = [&]() {
    if (signals.Pending()) {
      console.Line("quorvane-convert: stopped while opening the files");
      return 130;
    }
    console.Line("quorvane-convert: " + encoder.LastError());
    return 1;
  };

  TInputOptions in;
  in.ExtOptions = cmd.Inputs[0].ExtOptions;
  const int task = encoder.AddTask(Utf8ToWide(cmd.Inputs[0].FileName), in);
  if (task < 0) return openFailed();
  transcoder = static_cast<const TCustomFFmpeg*>(encoder.Task(task));
  for (size_t i = 1; i < cmd.Inputs.size(); ++i) {
    in.Reset();
    in.ExtOptions = cmd.Inputs[i].ExtOptions;
    if (!encoder.AddInputFile(task, Utf8ToWide(cmd.Inputs[i].FileName), in)) return openFailed();
  }
  TOutputOptions out;
  out.ExtOptions = cmd.OutputOptions;
  if (!encoder.SetOutputFile(task, Utf8ToWide(cmd.Output), out)) return openFailed();

  std::optional<TProgressInfo> lastProgress;
  std::optional<TTerminateInfo> taskEnd;
  bool allDone = false;
  encoder.OnProgress = [&](TObject*, PProgressInfo info) {
    lastProgress = *info;
    // The worker waits while this runs, so its counts hold still.
    const TFFmpeg* run = encoder.Task(task);
    console.Progress(ProgressLine(*info, run ? run->NbFramesDup : 0, run ? run->NbFramesDrop : 0));
  };
  encoder.OnTerminate = [&](TObject*, const TTerminateInfo& info) {
    if (info.TaskIndex < 0)
      allDone = true;
    else
      taskEnd = info;
  };

  // Events come to this thread: the worker waits for each progress report to be printed.
  // From here a signal stops the run, which still writes the file to its end.
  interruptOpens.reset();
  encoder.StartTask(1);
  bool stopping = false;
  while (!allDone) {
    WaitMainThreadCalls(std::chrono::milliseconds(50));
    if (signals.Take() != 0 && !stopping) {
      stopping = true;
      console.Line("Stopping: finishing " + cmd.Output);
      encoder.Stop(false);
    }
  }

  TTerminateInfo end = taskEnd.value_or(TTerminateInfo());
  console.Line(FinalLine(end, lastProgress ? &*lastProgress : nullptr, cmd.Output));
  if (end.Failed) {
    console.Line("quorvane-convert: " + (end.ErrorMessage.empty() ? std::string("conversion failed") : end.ErrorMessage));
    return 1;
  }
  return end.Completed ? 0 : 130;
}

}  // namespace qv
