#include "cli/rec_run.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <optional>

#include "capture/capture_session.h"
#include "capture/screen_capture.h"
#include "capture/wave_capture.h"
#include "cli/console.h"
#include "cli/rec_setup.h"
#include "encoder/ff_encoder.h"
#include "media/loader.h"
#include "media/logger.h"
#include "media/main_thread.h"
#include "media/unicode_url.h"

namespace qv {

namespace {

sigset_t RecordingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) sigaddset(&set, sig);
  return set;
}

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

// The engine names the input in its errors; for a device that name is the option string, which
// tells the user nothing.
std::string WithoutName(const std::string& error, const std::string& name) {
  return error.rfind(name + ": ", 0) == 0 ? error.substr(name.size() + 2) : error;
}

std::int64_t FileSize(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 ? std::int64_t(st.st_size) : -1;
}

}  // namespace

void BlockRecordingSignals() {
  const sigset_t set = RecordingSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

std::string RecProgressLine(const TProgressInfo& info, int dup, int drop, bool paused) {
  char buf[256];
  std::snprintf(buf, sizeof(buf), "time=%s frames=%6d size=%8.0fkB fps=%3d dup=%d drop=%d%s",
                ClockText(info.CurrentTime).c_str(), info.FrameNumber, double(info.TotalSize) / 1024.0, info.FPS, dup,
                drop, paused ? " [paused]" : "");
  return buf;
}

int RunRecording(const TRecCommand& cmd) {
  TConsole console;
  auto fail = [&console](const std::string& text) {
    console.Line("quorvane-rec: " + text);
    return 1;
  };

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
  TConsoleLog consoleLog(console);

  TScreenFacts facts;
  if (std::string error = ReadScreenFacts(cmd, facts); !error.empty()) return fail(error);

  // The devices of this recording share its pauses and time line through the session.
  const std::shared_ptr<TCaptureSession> session = TCaptureSession::Create();
  TRecPlan plan;
  if (std::string error = PlanRecording(cmd, facts, session->Number(), plan); !error.empty()) return fail(error);
  plan.ScreenOptions += ";session=" + std::to_string(static_cast<long long>(session->Number()));
  if (!plan.Note.empty()) console.Line("quorvane-rec: note: " + plan.Note);

  TFFEncoder encoder;
  if (!encoder.LibrariesLoaded() && !encoder.LoadLibraries(Utf8ToWide(DefaultLibraryPath())))
    return fail("cannot load the media libraries: " + encoder.LastError());

  RegisterScreenCapture();
  if (cmd.Audio) RegisterWaveCapture();
  encoder.ClearTasks();

  TInputOptions in;
  in.Reset();
  in.FileFormat = "screencapture";
  const int task = encoder.AddTask(Utf8ToWide(plan.ScreenOptions), in);
  if (task < 0) return fail("cannot open the screen: " + WithoutName(encoder.LastError(), plan.ScreenOptions));
  if (cmd.Audio) {
    in.Reset();
    in.FileFormat = "wavecapture";
    if (!encoder.AddInputFile(task, Utf8ToWide(plan.AudioOptions), in))
      return fail("cannot open the sound input: " + WithoutName(encoder.LastError(), plan.AudioOptions) +
                  "\nquorvane-rec: to record without sound, add --no-audio");
  }
  const TOutputOptions out = RecOutputOptions(cmd, plan);
  if (!encoder.SetOutputFile(task, Utf8ToWide(cmd.Output), out)) {
    const std::string error = encoder.LastError();
    encoder.RemoveTask(task);
    return fail("cannot write \"" + cmd.Output + "\": " + error);
  }

  std::optional<TProgressInfo> lastProgress;
  std::optional<TTerminateInfo> taskEnd;
  bool allDone = false;
  bool paused = false;
  int dup = 0, drop = 0;
  auto readDupDrop = [&] {
    // Read while the worker waits for this thread (progress) or has ended (terminate).
    if (TFFmpeg* t = encoder.Task(task)) {
      dup = t->NbFramesDup;
      drop = t->NbFramesDrop;
    }
  };
  encoder.OnProgress = [&](TObject*, PProgressInfo info) {
    lastProgress = *info;
    readDupDrop();
    console.Progress(RecProgressLine(*info, dup, drop, paused));
  };
  encoder.OnTerminate = [&](TObject*, const TTerminateInfo& info) {
    if (info.TaskIndex < 0) {
      allDone = true;
    } else {
      readDupDrop();
      taskEnd = info;
    }
  };

  const sigset_t signals = RecordingSignals();
  const int sigFd = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
  TTerminalKeys keys;
  TWakeFd wake;

  console.Line("Recording " + plan.Description + (cmd.Audio ? " with sound" : "") + " to " + cmd.Output + " (" +
               plan.FrameSize + ", 25 fps)" +
               (keys.Active ? "; space pauses/resumes, q stops" : "; Ctrl-C stops, SIGUSR1/SIGUSR2 pause/resume"));
  encoder.StartTask(1);

  bool stopping = false;
  auto setPaused = [&](bool on) {
    if (stopping || on == paused) return;
    if (on) {
      encoder.Pause();
      session->SetPaused(true);
    } else {
      // The capture clocks first, so the first frames and sound after the pause count from now.
      session->SetPaused(false);
      encoder.Resume();
    }
    paused = on;
    if (lastProgress) console.Progress(RecProgressLine(*lastProgress, dup, drop, paused));
    else console.Line(paused ? "Paused" : "Resumed");
  };
  auto stop = [&]() {
    if (stopping) return;
    stopping = true;
    console.Line("Stopping: finishing " + cmd.Output);
    encoder.Stop(false);
  };

  while (!allDone) {
    pollfd fds[3] = {{sigFd, POLLIN, 0}, {wake.Fd, POLLIN, 0}, {keys.Active ? 0 : -1, POLLIN, 0}};
    ::poll(fds, 3, 200);
    if (fds[1].revents & POLLIN) wake.Drain();
    RunMainThreadCalls();
    signalfd_siginfo si{};
    while (sigFd >= 0 && ::read(sigFd, &si, sizeof(si)) == ssize_t(sizeof(si))) {
      if (si.ssi_signo == SIGUSR1) setPaused(true);
      else if (si.ssi_signo == SIGUSR2) setPaused(false);
      else stop();
    }
    if (keys.Active && (fds[2].revents & POLLIN)) {
      char key = 0;
      while (::read(0, &key, 1) == 1) {
        if (key == ' ') setPaused(!paused);
        else if (key == 'q' || key == 'Q') stop();
      }
    }
  }
  if (paused) session->SetPaused(false);
  if (sigFd >= 0) ::close(sigFd);

  const TTerminateInfo end = taskEnd.value_or(TTerminateInfo());
  std::string summary = cmd.Output;
  if (lastProgress) {
    char buf[160];
    std::snprintf(buf, sizeof(buf), " (%d frames, %s, %.0f kB, dup=%d drop=%d)", lastProgress->FrameNumber,
                  ClockText(lastProgress->CurrentTime).c_str(), double(FileSize(cmd.Output)) / 1024.0, dup, drop);
    summary += buf;
  }
  if (end.Failed)
    return fail("recording failed: " + (end.ErrorMessage.empty() ? std::string("unknown error") : end.ErrorMessage));
  if (FileSize(cmd.Output) <= 0) return fail("nothing was recorded; no file written");
  console.Line("Finished: " + summary);
  return 0;
}

}  // namespace qv
