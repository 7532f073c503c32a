#include "cli/convert_run.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "cli/console.h"
#include "cli/convert_check.h"
#include "cli/convert_progress.h"
#include "encoder/ff_encoder.h"
#include "encoder/ffmpeg_task.h"
#include "engine/recording_repair.h"
#include "export/gif_passes.h"
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

namespace {

// One run of the command's inputs into `output` with `outputOptions`; the task's index, or -1.
int AddConvertTask(TFFEncoder& encoder, const TConvertCommand& cmd, const std::string& output,
                   const std::string& outputOptions) {
  TInputOptions in;
  in.ExtOptions = cmd.Inputs[0].ExtOptions;
  const int task = encoder.AddTask(Utf8ToWide(cmd.Inputs[0].FileName), in);
  if (task < 0) return -1;
  for (size_t i = 1; i < cmd.Inputs.size(); ++i) {
    in.Reset();
    in.ExtOptions = cmd.Inputs[i].ExtOptions;
    if (!encoder.AddInputFile(task, Utf8ToWide(cmd.Inputs[i].FileName), in)) return -1;
  }
  TOutputOptions out;
  out.ExtOptions = outputOptions;
  return encoder.SetOutputFile(task, Utf8ToWide(output), out) ? task : -1;
}

}  // namespace

int RunConvert(const TConvertCommand& cmd) {
  // From the start: a signal while the files open gives up the open that waits (a FIFO nobody
  // writes, a network input), and one that comes later stops the run as soon as it begins.
  TSignalPipe signals;
  std::optional<TSignalInterrupt> interruptOpens(std::in_place, signals);
  TConsole console;
  // The transcoder logs its progress text as well whenever its dup/drop counts change; the
  // progress line shows those, so its copy is not printed a second time.
  constexpr int kMaxPasses = 2;
  std::array<std::atomic<const void*>, kMaxPasses> transcoders{};
  TConsoleLog consoleLog(console, [&transcoders](const std::string& line) {
    for (const auto& t : transcoders) {
      const void* speaker = t.load();
      if (speaker && line.rfind(LogSpeaker("transcoder", speaker) + "frame=", 0) == 0) return true;
    }
    return false;
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

  // A GIF first gets a palette made from its own pictures, in a run of its own.
  std::optional<TPaletteFile> palette;
  std::vector<std::pair<std::string, std::string>> passes{{cmd.Output, cmd.OutputOptions}};
  if (WantsOwnPalette(cmd.Output, cmd.OutputOptions)) {
    palette.emplace();
    if (!palette->Ok()) {
      console.Line("quorvane-convert: no folder for the GIF's palette");
      return 1;
    }
    const TGifPasses gif = PlanGifPasses(cmd.OutputOptions, palette->FileName());
    passes = {{palette->FileName(), gif.PaletteOptions}, {cmd.Output, gif.PictureOptions}};
  }
  for (size_t p = 0; p < passes.size(); ++p) {
    const int task = AddConvertTask(encoder, cmd, passes[p].first, passes[p].second);
    if (task < 0) return openFailed();
    transcoders[p] = static_cast<const TCustomFFmpeg*>(encoder.Task(task));
  }
  const int lastTask = int(passes.size()) - 1;

  std::optional<TProgressInfo> lastProgress;
  std::optional<TTerminateInfo> taskEnd;
  bool allDone = false;
  encoder.OnProgress = [&](TObject*, PProgressInfo info) {
    lastProgress = *info;
    // The worker waits while this runs, so its counts hold still.
    const TFFmpeg* run = encoder.Task(info->TaskIndex);
    console.Progress(ProgressLine(*info, run ? run->NbFramesDup : 0, run ? run->NbFramesDrop : 0));
  };
  encoder.OnTerminate = [&](TObject*, const TTerminateInfo& info) {
    if (info.TaskIndex < 0) {
      allDone = true;
    } else if (!taskEnd || !taskEnd->Failed) {
      taskEnd = info;
      // A pass that did not complete leaves the next without its palette.
      if (info.TaskIndex < lastTask && !info.Completed) encoder.Stop(false);
    }
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
