// Start, Run, Stop, Terminate, Pause and Resume of a transcoder run, and the end of a run: closing
// the codecs that were opened, closing the files, the finished path with its terminate event.
#include <filesystem>
#include <system_error>

#include "engine/custom_ffmpeg.h"
#include "media/codec_lock.h"
#include "media/ff_utils.h"
#include "media/main_thread.h"

namespace qv {

namespace {

// The engine-wide lock around the lists of open codecs and their closing at the end of a run.
std::mutex& EngineCodecLock() {
  static std::mutex lock;
  return lock;
}

void RemoveEmptyFiles(const std::vector<std::string>& names) {
  for (const auto& name : names) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(name, ec) && std::filesystem::file_size(name, ec) == 0 && !ec)
      std::filesystem::remove(name, ec);
  }
}

}  // namespace

std::mutex& RunCodecListLock() { return EngineCodecLock(); }

void TCustomFFmpeg::RecordFailure(const std::exception& e) {
  // Several steps may fail in one run; the first message is what the user is told.
  try {
    Log(llQuiet, e.what());
  } catch (...) {
  }
  if (Failed.exchange(true)) return;
  FailText = e.what();
  FailReason = FailText;
}

TCustomFFmpeg::TInputFailure TCustomFFmpeg::DescribeInputFailure(int fileIndex, int code) {
  // A device is named by its format, never by its option string: that tells the user nothing.
  TInputFile& in = Input(fileIndex);
  const std::string label = in.IsDevice() ? in.Device->Device()->name : in.FileName;
  const std::string words = in.IsDevice() ? in.Device->ErrorText() : std::string();
  const std::string named = words.empty() ? ErrorCodeText(label, code) : label + ": " + words;
  return {fileIndex, words.empty() ? named : words, Format("Input #%d failed: %s", fileIndex, named.c_str())};
}

void TCustomFFmpeg::RecordInputFailure(const TInputFailure& failure) {
  if (Failed.exchange(true)) return;
  FailText = failure.Message;
  FailReason = failure.Reason;
  FailedInput = failure.Input;
}

TConvertThread* TCustomFFmpeg::Start(bool threaded, TThreadPriority priority) {
  if (Running || Finished) return nullptr;
  const char* missing = Outputs.empty()  ? "At least one output file must be specified"
                        : Inputs.empty() ? "At least one input file must be specified"
                                         : nullptr;
  if (missing) {
    try {
      CloseAll();
    } catch (const std::exception& e) {
      RecordFailure(e);
    }
    RecordFailure(FFmpegException(missing));
    FinishedPath();
    return nullptr;
  }
  Running = true;
  StopRequested = false;
  CompletedNormally = false;
  Finished = false;
  if (!threaded) {
    Run();
    return nullptr;
  }
  // Reset before the thread exists, so a Stop(wait) right after Start cannot slip past the run.
  RunDone.Reset();
  Worker = std::make_unique<TConvertThread>(
      [this] {
        Run();
        RunDone.Set();
      },
      priority);
  return Worker.get();
}

void TCustomFFmpeg::Run() {
  CompletedNormally = false;
  try {
    Transcode();
  } catch (const std::exception& e) {
    RecordFailure(e);
  }
  try {
    CloseRunCodecs();
  } catch (const std::exception& e) {
    RecordFailure(e);
  }
  try {
    CloseAll();
  } catch (const std::exception& e) {
    RecordFailure(e);
  }
  FinishedPath();
}

void TCustomFFmpeg::CloseRunCodecs() {
  std::lock_guard<std::mutex> lock(EngineCodecLock());
  for (AVCodecContext* enc : OpenEncoders) {
    try {
      // The pass-2 statistics belong to the run records, not to the codec.
      for (auto& ost : Ost)
        if (ost.Enc == enc && ost.StatsIn && enc->stats_in == reinterpret_cast<char*>(ost.StatsIn.get()))
          enc->stats_in = nullptr;
      CloseCodec(enc);
    } catch (const std::exception& e) {
      RecordFailure(e);
    }
  }
  OpenEncoders.clear();
  for (AVCodecContext* dec : OpenDecoders) {
    try {
      CloseCodec(dec);
    } catch (const std::exception& e) {
      RecordFailure(e);
    }
  }
  OpenDecoders.clear();
  for (auto& ost : Ost) ost.EncoderOpen = false;
  for (auto& ist : Ist) ist.DecoderOpen = false;
}

std::vector<std::string> TCustomFFmpeg::CreatedFilesFrom(size_t index) const {
  std::vector<std::string> names;
  for (size_t k = index; k < Outputs.size(); ++k) {
    const TOutputFile& out = *Outputs[k];
    if (out.Owner && out.Created && out.Ctx && !(out.Ctx->oformat->flags & AVFMT_NOFILE)) names.push_back(out.FileName);
  }
  return names;
}

void TCustomFFmpeg::CloseOutputsFrom(int index) {
  if (index < 0 || index >= OutputCount()) return;
  const std::vector<std::string> created = CreatedFilesFrom(size_t(index));
  // Join slots come after the output they borrow their context from: dropped first.
  while (OutputCount() > index) Outputs.pop_back();
  JoinMode = false;  // only the last output can be a joined one
  RemoveEmptyFiles(created);
}

void TCustomFFmpeg::CloseAll() {
  FreeRunRecords();
  // Files: an output that never got a byte is removed (a failed start leaves nothing behind), unless
  // it was there before: a file of the user's is never taken away.
  const std::vector<std::string> created = CreatedFilesFrom(0);
  CloseFiles();
  RemoveEmptyFiles(created);
  ReleaseFrameHooks();
  SubtitleOut.reset();
  VStatsFile.reset();
  InputConverter.reset();
  OutputConverter.reset();
  std::lock_guard<std::mutex> lock(PreviewLock());
  PreviewWin.reset();
}

void TCustomFFmpeg::FinishedPath() {
  Running = false;
  Finished = true;
  // The worker object stays until the engine joins it: a thread cannot free itself here.
  if (OnTerminate) {
    try {
      OnTerminate(*this);
    } catch (const std::exception& e) {
      try {
        Log(llError, e.what());
      } catch (...) {
      }
    }
  }
}

void TCustomFFmpeg::Stop(bool wait) {
  StopRequested = true;
  if (Worker) {
    Worker->Release();  // a paused run must see the request
    if (wait && Worker->Id() != std::this_thread::get_id()) {
      while (!RunDone.WaitFor(std::chrono::milliseconds(20)))
        if (IsMainThread()) ProcessMessages();
      Worker->Join();
    }
  } else {
    WatchStart = 0;
  }
}

void TCustomFFmpeg::Terminate(bool wait) {
  if (Running) {
    Stop(wait);
    return;
  }
  if (Finished) return;
  if (!TerminatorStarted) {
    TerminatorStarted = true;
    TerminateDone.Reset();
    auto finish = [this] {
      try {
        FinishedPath();
      } catch (...) {
      }
      TerminateDone.Set();
    };
    try {
      Terminator = std::thread(finish);
    } catch (const std::system_error&) {
      finish();  // no thread to be had: the end is reported here rather than never
    }
  }
  if (wait && Terminator.get_id() != std::this_thread::get_id()) {
    // The terminate event may be marshalled to the main thread: keep its queue moving meanwhile.
    while (!TerminateDone.WaitFor(std::chrono::milliseconds(20)))
      if (IsMainThread()) ProcessMessages();
  }
}

void TCustomFFmpeg::Pause() {
  if (Worker && Running) Worker->Suspend();
}

void TCustomFFmpeg::Resume() {
  if (Worker) Worker->Resume();
}

bool TCustomFFmpeg::Paused() const { return Worker && Running && Worker->Suspended(); }

void TCustomFFmpeg::PauseGate() {
  if (!Worker || Worker->Id() != std::this_thread::get_id()) return;
  // Paused time is no playing time for rate emulation.
  const std::int64_t before = ff::av_gettime_relative();
  Worker->Gate();
  PausedUs += ff::av_gettime_relative() - before;
}

void TCustomFFmpeg::ShutdownRun() {
  if (Worker) {
    Stop(true);
    Worker->Join();
  }
  if (Terminator.joinable()) {
    if (Terminator.get_id() == std::this_thread::get_id())
      Terminator.detach();
    else
      Terminator.join();
  }
  try {
    CloseRunCodecs();
    CloseAll();
  } catch (...) {
  }
}

void TCustomFFmpeg::SetHookBitsPixel(int bits) {
  TFormatConverter probe;
  probe.SetBitsPixel(bits);  // throws "Invalid BitsPixel %d"
  HookBitsPixel = bits;
  if (InputConverter) InputConverter->SetBitsPixel(bits);
  if (OutputConverter) OutputConverter->SetBitsPixel(bits);
}

}  // namespace qv
