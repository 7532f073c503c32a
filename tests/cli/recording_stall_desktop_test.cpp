// A recording whose reading stalls in the middle keeps the stall in the picture: the slots missed are
// filled with the last picture, so the file has a frame slot for every 40 ms of wall time and the
// sound ends with the picture. Once with only the reading thread stalled (the devices keep running),
// once with the whole recorder stopped. The rig's desktop and tone; ffprobe judges.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "capture/capture_session.h"
#include "capture/screen_capture.h"
#include "capture/wave_capture.h"
#include "encoder/encoder_support.h"
#include "encoder/ff_encoder.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

extern char** environ;

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::Quote;
using test::RunCommand;
using test::W;

struct TStreams {
  int Frames = 0;
  double VideoEnd = 0, AudioEnd = 0;  // seconds
};

// Where the last packet of a stream ("v" or "a") ends.
double StreamEnd(const std::string& path, const char* stream) {
  std::istringstream lines(RunCommand(std::string("ffprobe -v error -select_streams ") + stream +
                                      ":0 -show_entries packet=pts_time,duration_time -of csv=p=0 " + Quote(path)));
  double end = 0, pts = 0, duration = 0;
  char comma = 0;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    if (fields >> pts >> comma >> duration) end = std::max(end, pts + duration);
  }
  return end;
}

TStreams Probe(const std::string& path) {
  TStreams s;
  // Slots in the header: a frame that repeats the one before is an empty chunk, counted there only.
  s.Frames = std::atoi(
      RunCommand("ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 " + Quote(path))
          .c_str());
  s.VideoEnd = StreamEnd(path, "v");
  s.AudioEnd = StreamEnd(path, "a");
  std::printf("%s: %d frames, audio minus video %+.0f ms\n", path.c_str(), s.Frames, (s.AudioEnd - s.VideoEnd) * 1000);
  return s;
}

void ExpectWholeTimeLine(const TStreams& s) {
  EXPECT_NEAR(s.Frames, 250, 2);
  EXPECT_NEAR(s.AudioEnd - s.VideoEnd, 0.0, 0.06);
}

class RecordingStall : public ::testing::Test {
 protected:
  test::TTempDir Dir;
};

TEST_F(RecordingStall, ReadingThreadStalledWhileTheDevicesRun) {
  RegisterScreenCapture();
  RegisterWaveCapture();
  const std::shared_ptr<TCaptureSession> session = TCaptureSession::Create();
  const std::string sessionOption = "session=" + std::to_string(session->Number());
  TFFEncoder encoder;
  std::atomic<bool> done{false};
  TTerminateInfo end;
  int duplicates = 0;
  encoder.OnTerminate = [&](TObject*, const TTerminateInfo& info) {
    if (info.TaskIndex >= 0) {
      end = info;
      duplicates = encoder.Task(info.TaskIndex)->NbFramesDup;
    }
    if (info.TaskIndex < 0) done = true;
  };
  // Half way through, the worker that reads the devices sleeps for 0.8 s once.
  bool stalled = false;
  encoder.OnVideoOutputHook = [&](TObject*, PHookInfo info) {
    info->Update = false;
    if (info->FrameNumber < 125 || stalled) return;
    stalled = true;
    std::this_thread::sleep_for(800ms);
  };

  TInputOptions in;
  in.Reset();
  in.FileFormat = "screencapture";
  ASSERT_EQ(encoder.AddTask(W("offset=0,0;framesize=320,240;framerate=25/1;" + sessionOption), in), 0)
      << encoder.LastError();
  in.Reset();
  in.FileFormat = "wavecapture";
  ASSERT_TRUE(encoder.AddInputFile(0, W("r=44100;c=2;f=16;" + sessionOption), in)) << encoder.LastError();
  TOutputOptions out;
  out.Reset();
  out.FileFormat = "avi";
  out.VideoCodec = "msmpeg4v2";
  out.VideoBitrate = 360000;
  out.AudioCodec = "adpcm_ms";
  out.AudioBitrate = 80000;
  out.AudioSampleRate = 44100;
  out.RecordingTime = 10000000;
  out.VideoOutputHook = true;
  const std::string path = Dir / "thread.avi";
  ASSERT_TRUE(encoder.SetOutputFile(0, W(path), out)) << encoder.LastError();
  encoder.StartTask(1);
  ASSERT_TRUE(test::PumpUntil([&] { return done.load(); }, 60s));
  EXPECT_TRUE(end.Completed) << end.ErrorMessage;
  ASSERT_TRUE(stalled);
  EXPECT_GE(duplicates, 18);  // the 20 slots of the stall, less what the slots around it absorb
  ExpectWholeTimeLine(Probe(path));
}

TEST_F(RecordingStall, WholeRecorderStopped) {
  const std::string path = Dir / "stopped.avi";
  const std::string program = std::string(QV_BIN_DIR) + "/quorvane-rec";
  const char* argv[] = {program.c_str(), "--region", "0,0,320,240", "--duration", "10", path.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, (Dir / "rec.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ASSERT_EQ(rc, 0) << program;
  std::this_thread::sleep_for(4s);
  kill(pid, SIGSTOP);
  std::this_thread::sleep_for(800ms);
  kill(pid, SIGCONT);
  int status = 0;
  for (int i = 0; i < 600 && waitpid(pid, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(100ms);
  if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "quorvane-rec did not end: " << RunCommand("cat " + Quote(Dir / "rec.log"));
  }
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << RunCommand("cat " + Quote(Dir / "rec.log"));
  ExpectWholeTimeLine(Probe(path));
}

}  // namespace
}  // namespace qv
