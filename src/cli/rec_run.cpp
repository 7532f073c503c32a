#include "cli/rec_run.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>

#include "capture/sound_sources.h"
#include "cli/console.h"
#include "cli/output_claim.h"
#include "cli/rec_permission.h"
#include "cli/rec_setup.h"
#include "encoder/ff_encoder.h"
#include "media/loader.h"
#include "media/logger.h"
#include "media/main_thread.h"
#include "media/signal_pipe.h"
#include "media/text_utils.h"
#include "media/unicode_url.h"

namespace qv {

namespace {

// Single keys from a terminal on standard input, without echo; Ctrl-C still raises SIGINT.
class TTerminalKeys {
 public:
  TTerminalKeys() {
    if (!::isatty(0) || tcgetattr(0, &Saved) != 0) return;
    termios raw = Saved;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    Active = tcsetattr(0, TCSANOW, &raw) == 0;
  }
  ~TTerminalKeys() {
    if (Active) tcsetattr(0, TCSANOW, &Saved);
  }
  TTerminalKeys(const TTerminalKeys&) = delete;
  TTerminalKeys& operator=(const TTerminalKeys&) = delete;
  bool Active = false;

 private:
  termios Saved{};
};

// An eventfd that the main-thread call queue pokes, so the loop below sleeps in one poll().
class TWakeFd {
 public:
  TWakeFd() : Fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (Fd >= 0)
      SetMainThreadWaker([fd = Fd] {
        const std::uint64_t one = 1;
        (void)!::write(fd, &one, sizeof(one));
      });
  }
  ~TWakeFd() {
    SetMainThreadWaker(nullptr);
    if (Fd >= 0) ::close(Fd);
  }
  TWakeFd(const TWakeFd&) = delete;
  TWakeFd& operator=(const TWakeFd&) = delete;
  void Drain() {
    std::uint64_t n = 0;
    if (Fd >= 0) (void)!::read(Fd, &n, sizeof(n));
  }
  const int Fd;
};

// What went wrong at the start, with what the user can do about it.
std::string StartFailureText(const TStartResult& result, const TRecCommand& cmd, const std::string& output) {
  switch (result.Failure) {
    case TStartFailure::Sound:
      return result.Reason + "\nquorvane-rec: to record without sound, add --no-audio" +
             (cmd.AudioSource.empty() ? "" : "; --list-audio-sources lists the sound sources");
    case TStartFailure::Output:
      return "cannot write \"" + output + "\": " + result.Reason;
    case TStartFailure::Screen:
    case TStartFailure::Busy:
    case TStartFailure::None:
      break;
  }
  return result.Reason;
}

void SetLogLevel(TConsole& console) {
  // Warnings and errors of the devices and the engine are worth seeing; their notices are not.
  GetLogger()->SetLogLevel(llWarning);
  // QV_LOG_LEVEL (a level name or number) shows more, for finding out what a recording did.
  if (const char* level = std::getenv("QV_LOG_LEVEL")) {
    try {
      GetLogger()->SetLogLevelByName(level);
    } catch (const std::exception&) {
      console.Line(std::string("quorvane-rec: ignoring QV_LOG_LEVEL=") + level);
    }
  }
}

// "1920x1080, 25 fps, mkv"; the size only when it is known before the first frame.
std::string OutputSummary(const TRecordingRequest& request) {
  const bool chosen = request.OutWidth > 0 && request.OutHeight > 0;
  const int width = chosen ? request.OutWidth : request.Area.Width;
  const int height = chosen ? request.OutHeight : request.Area.Height;
  const std::string size = width > 0 && height > 0 ? std::to_string(width) + "x" + std::to_string(height) + ", " : "";
  return size + std::to_string(request.FrameRate) + " fps, " + FormatName(request.Format);
}

std::string Summary(const std::string& output, const TRecordingProgress& p) {
  char text[200];
  std::snprintf(text, sizeof(text), " (%s, %lld slots, %d coded, %.0f kB, dup=%d drop=%d)", ClockText(p.ElapsedUs).c_str(),
                (long long)p.Slots, p.Frames, double(GetFileSize(output)) / 1024.0, p.Duplicates, p.Drops);
  return output + text;
}

// Runs the recording's main loop until the run has ended: main-thread calls, signals (INT, TERM,
// HUP stop; USR1 pauses, USR2 resumes) and, on a terminal, the space bar and q.
void RunUntilEnded(TRecording& recording, TSignalPipe& signals, TTerminalKeys& keys, TWakeFd& wake,
                   TConsole& console, const std::string& output, const std::optional<TRecordingEnd>& end) {
  bool watchKeys = keys.Active;
  auto stop = [&] {
    if (recording.State() == TRecordingState::Stopping) return;
    console.Line("Stopping: finishing " + output);
    recording.Stop(false);
  };
  auto setPaused = [&](bool on) {
    if (on) recording.Pause();
    else recording.Resume();
    console.Progress(RecProgressLine(recording.Progress()));
  };
  while (!end) {
    pollfd fds[3] = {{signals.Fd(), POLLIN, 0}, {wake.Fd, POLLIN, 0}, {watchKeys ? 0 : -1, POLLIN, 0}};
    ::poll(fds, 3, 200);
    if (fds[1].revents & POLLIN) wake.Drain();
    RunMainThreadCalls();
    while (const int number = signals.Take()) {
      if (number == SIGUSR1) setPaused(true);
      else if (number == SIGUSR2) setPaused(false);
      else stop();
    }
    // A terminal that went away (its window closed) has nothing more to say; its HUP stops us.
    if (fds[2].revents & (POLLHUP | POLLERR | POLLNVAL)) watchKeys = false;
    if (watchKeys && (fds[2].revents & POLLIN)) {
      char key = 0;
      while (::read(0, &key, 1) == 1) {
        if (key == ' ') setPaused(recording.State() == TRecordingState::Recording);
        else if (key == 'q' || key == 'Q') stop();
      }
    }
  }
}

std::string SoundText(const TRecCommand& cmd) {
  if (!cmd.Audio) return "";
  return cmd.AudioSource.empty() ? " with sound" : " with sound from \"" + cmd.AudioSource + "\"";
}

// "3", "2", "1", a second apart. False when a signal (Ctrl-C, TERM, HUP) called it off; the pause
// signals mean nothing before there is a recording.
bool CountDown(int seconds, TSignalPipe& signals, TConsole& console) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  for (int left = seconds; left > 0; --left) {
    console.Line("Recording in " + std::to_string(left) + "...");
    const Clock::time_point due = start + std::chrono::seconds(seconds - left + 1);
    for (Clock::time_point now = Clock::now(); now < due; now = Clock::now()) {
      pollfd fd = {signals.Fd(), POLLIN, 0};
      ::poll(&fd, 1, int(std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count()) + 1);
      while (const int number = signals.Take())
        if (number != SIGUSR1 && number != SIGUSR2) return false;
    }
  }
  return true;
}

// The portal's permission for this recording: the one handed in, else the one kept from the last
// recording on this desktop (unless it is to be forgotten).
void TakeScreenPermission(const TRecCommand& cmd, TRecordingRequest& request, TConsole& console) {
  if (request.Backend != TCaptureBackend::PipeWire || request.PipeWireNode) return;
  const bool window = request.Area.Kind == TAreaKind::Window;
  if (cmd.ForgetScreenPermission) {
    if (std::string error = KeepScreenPermission("", window); !error.empty())
      console.Line("quorvane-rec: the kept screen permission cannot be forgotten: " + error);
  }
  request.PortalRestoreToken = !cmd.RestoreToken.empty() ? cmd.RestoreToken
                               : cmd.ForgetScreenPermission ? ""
                                                            : KeptScreenPermission(window);
}

// A token may be good once: the portal's new one replaces the kept one after every start.
void KeepNewScreenPermission(const TRecordingRequest& request, const TRecording& recording, TConsole& console) {
  if (request.Backend != TCaptureBackend::PipeWire || request.PipeWireNode) return;
  const std::string token = recording.PortalRestoreToken();
  const bool window = request.Area.Kind == TAreaKind::Window;
  if (token.empty() || token == KeptScreenPermission(window)) return;
  if (std::string error = KeepScreenPermission(token, window); !error.empty())
    console.Line("quorvane-rec: the screen permission cannot be kept (" + error + "); the next recording asks again");
}

}  // namespace

int ForgetScreenPermission() {
  for (const bool window : {false, true}) {
    if (std::string error = KeepScreenPermission("", window); !error.empty()) {
      std::printf("quorvane-rec: %s cannot be removed: %s\n", ScreenPermissionFile(window).c_str(), error.c_str());
      return 1;
    }
  }
  std::printf("The screen permissions kept for this desktop are forgotten: the next recording asks again.\n");
  return 0;
}

int PrintAudioSources() {
  const std::vector<TSoundSource> sources = SurveySoundSources();
  std::size_t width = 0;
  for (const TSoundSource& source : sources) width = std::max(width, source.Name.size());
  auto print = [&](bool available) {
    for (const TSoundSource& source : sources)
      if (source.Unavailable.empty() == available)
        std::printf("  %-*s  %s%s\n", int(width), source.Name.c_str(), source.Description.c_str(),
                    available ? "" : (" (" + source.Unavailable + ")").c_str());
  };
  const auto unavailable = std::count_if(sources.begin(), sources.end(),
                                         [](const TSoundSource& s) { return !s.Unavailable.empty(); });
  if (std::size_t(unavailable) < sources.size()) {
    std::printf("Sound sources (give the name to --audio-source):\n");
    print(true);
  } else {
    std::printf("No sound source can record now (--no-audio records without sound).\n");
  }
  if (unavailable > 0) {
    std::printf("Not available now:\n");
    print(false);
  }
  return 0;
}

std::string RecProgressLine(const TRecordingProgress& p) {
  // Slots and coded pictures rather than the encoder's frames and pictures a second: a still
  // screen codes one picture in many slots, which made a good recording look stalled.
  char text[256];
  std::snprintf(text, sizeof(text), "time=%s slots=%lld coded=%d size=%.0fkB dup=%d drop=%d%s",
                ClockText(p.ElapsedUs).c_str(), (long long)p.Slots, p.Frames, double(p.FileBytes) / 1024.0,
                p.Duplicates, p.Drops, p.State == TRecordingState::Paused ? " [paused]" : "");
  return text;
}

int RunRecording(const TRecCommand& cmd) {
  // From the start: a signal while the devices open stops the recording as soon as it runs.
  TSignalPipe signals({SIGUSR1, SIGUSR2});
  TConsole console;
  auto fail = [&console](const std::string& text) {
    console.Line("quorvane-rec: " + text);
    return 1;
  };
  SetLogLevel(console);
  TConsoleLog consoleLog(console);

  TScreenFacts facts;
  if (std::string error = ReadScreenFacts(cmd, facts); !error.empty()) return fail(error);
  TRecSetup setup;
  if (std::string error = SetUpRecording(cmd, facts, setup); !error.empty()) return fail(error);
  if (!setup.Note.empty()) console.Line("quorvane-rec: note: " + setup.Note);
  TakeScreenPermission(cmd, setup.Request, console);
  // The name as the format settled it (an extension added). Taken before anything else can fail
  // or wait (a countdown): a second recording onto it is refused at once, and the claim, which
  // outlives the recording below, takes away the empty file of a start that did not come off.
  const std::string& output = setup.Request.FileName;
  TOutputClaim claim;
  if (std::string refused = claim.Take(output, cmd.Overwrite); !refused.empty()) {
    console.Line("quorvane-rec: " + refused);
    return 2;
  }

  TRecording recording;
  TFFEncoder& encoder = recording.Encoder();
  if (!encoder.LibrariesLoaded() && !encoder.LoadLibraries(Utf8ToWide(DefaultLibraryPath())))
    return fail("cannot load the media libraries: " + encoder.LastError());

  if (!CountDown(cmd.CountdownSeconds, signals, console))
    return fail("cancelled during the countdown; nothing was recorded");

  std::optional<TRecordingEnd> end;
  // Sources mixed: each one's level after the counts ("Microphone −18 dB, Desktop −30 dB").
  recording.OnProgress = [&console, &recording](const TRecordingProgress& p) {
    const std::string levels = SoundLevelsText(recording.SoundLevels());
    console.Progress(RecProgressLine(p) + (levels.empty() ? "" : " " + levels));
  };
  recording.OnNotice = [&console](const std::string& notice) { console.Line("quorvane-rec: " + notice); };
  recording.OnEnd = [&end](const TRecordingEnd& e) { end = e; };
  TWakeFd wake;
  if (TStartResult started = recording.Start(setup.Request); !started)
    return fail(StartFailureText(started, cmd, output));
  KeepNewScreenPermission(setup.Request, recording, console);

  TTerminalKeys keys;
  console.Line("Recording " + setup.Description + SoundText(cmd) + " to " + output + " (" +
               OutputSummary(setup.Request) + ")" +
               (keys.Active ? "; space pauses/resumes, q stops" : "; Ctrl-C stops, SIGUSR1/SIGUSR2 pause/resume"));
  RunUntilEnded(recording, signals, keys, wake, console, output, end);

  // A full disk stops the recording by itself: said, and not a success.
  if (end->Failed || end->DiskFull) return fail(end->Message());
  if (GetFileSize(end->Where()) <= 0) return fail("nothing was recorded; no file written");
  if (!end->SavedAs.empty()) console.Line("quorvane-rec: " + end->Message());
  console.Line("Finished: " + Summary(end->Where(), recording.Progress()));
  return 0;
}

}  // namespace qv
