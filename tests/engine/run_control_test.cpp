// Run control: threaded start, pause and resume through the pause gate, stop with waiting, terminate,
// and the failure path (message in FailText, one terminate event, nothing left open) on bad input.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/run_test_support.h"
#include "media/main_thread.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

using namespace test;
using namespace std::chrono_literals;

class RunControl : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new TTempDir;
    MakeClip(*Dir / "long.mkv", "-f lavfi -i testsrc=duration=20:size=160x120:rate=25 -pix_fmt yuv420p -c:v ffv1");
    MakeClip(*Dir / "clip.avi", "-f lavfi -i testsrc=duration=4:size=320x240:rate=25 -c:v mpeg4 -g 10");
    MakeClip(*Dir / "big.mkv", "-f lavfi -i testsrc=duration=5:size=640x480:rate=25 -c:v ffv1");
    // A truncated copy and one with garbage over its middle.
    const auto size = std::filesystem::file_size(*Dir / "clip.avi");
    std::filesystem::copy_file(*Dir / "clip.avi", *Dir / "truncated.avi");
    std::filesystem::resize_file(*Dir / "truncated.avi", size / 2);
    std::filesystem::copy_file(*Dir / "clip.avi", *Dir / "corrupt.avi");
    std::fstream f(*Dir / "corrupt.avi", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(size / 3));
    std::string junk(size / 3, '\0');
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = char((i * 7919u) >> 3);
    f.write(junk.data(), std::streamsize(junk.size()));
  }
  static void TearDownTestSuite() { delete Dir; }
  static std::string Path(const std::string& name) { return *Dir / name; }
  static TTempDir* Dir;
};
TTempDir* RunControl::Dir = nullptr;

int OpenFdCount() {
  int n = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd"); it != std::filesystem::directory_iterator(); ++it) ++n;
  return n;
}

TEST_F(RunControl, StartTwiceReturnsNoneAndStopDuringPauseEndsIncomplete) {
  const std::string out = Path("paused.avi");
  TCustomFFmpeg e;
  TTerminateProbe probe;
  probe.Attach(e);
  std::atomic<int> frames{0};
  e.OnVideoOutputHook = [&](TCustomFFmpeg&, TBitmap&, bool*, bool* changed, std::int64_t, int) {
    *changed = false;
    ++frames;
  };
  OpenAll(e, {{{{"re", "1"}}, Path("long.mkv")}}, {{"vcodec", "msmpeg4v2"}}, out);
  TConvertThread* worker = e.Start(true, tpLower);
  ASSERT_NE(worker, nullptr);
  EXPECT_TRUE(worker->Suspended()) << "the worker starts suspended";
  EXPECT_EQ(e.Start(true), nullptr) << "a second start while running";
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(frames, 0) << "nothing runs before the caller resumes the worker";
  worker->Resume();
  std::this_thread::sleep_for(600ms);
  e.Pause();
  EXPECT_TRUE(e.Paused());
  std::this_thread::sleep_for(150ms);  // the worker reaches the gate
  const int atPause = frames;
  EXPECT_GT(atPause, 5);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(frames, atPause) << "a paused run encodes nothing";
  e.Stop(true);
  EXPECT_FALSE(e.Running);
  EXPECT_TRUE(e.Finished);
  EXPECT_EQ(probe.Count, 1);
  EXPECT_FALSE(probe.Failed) << probe.Text;
  EXPECT_FALSE(probe.Completed);
  EXPECT_EQ(e.Start(true), nullptr) << "a finished engine does not start again";
  // The stop still flushed and wrote the trailer: the file reads cleanly.
  EXPECT_NEAR(FrameCount(out), frames.load(), 2);
  EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -i " + Quote(out) + " -f null - 2>&1"), "");
}

TEST_F(RunControl, ResumeAfterPauseRunsToTheEnd) {
  TCustomFFmpeg e;
  TTerminateProbe probe;
  probe.Attach(e);
  OpenAll(e, {{{}, Path("clip.avi")}}, {{"vcodec", "msmpeg4v2"}}, Path("resumed.avi"));
  TConvertThread* worker = e.Start(true);
  ASSERT_NE(worker, nullptr);
  e.Pause();
  worker->Resume();  // the caller's resume of a fresh worker
  e.Resume();
  e.Stop(false);
  // Stop without waiting returns at once; the terminate event follows.
  for (int i = 0; i < 500 && probe.Count == 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(probe.Count, 1);
  EXPECT_FALSE(probe.Completed);
}

TEST_F(RunControl, StopOnTheMainThreadKeepsMarshalledEventsMoving) {
  TCustomFFmpeg e;
  std::atomic<int> onMain{0};
  // The terminate event waits for the main thread, which is inside Stop(true).
  e.OnTerminate = [&](TCustomFFmpeg&) { CallInMainThread([&] { onMain = IsMainThread() ? 1 : 2; }); };
  OpenAll(e, {{{{"re", "1"}}, Path("long.mkv")}}, {{"vcodec", "msmpeg4v2"}}, Path("marshal.avi"));
  TConvertThread* worker = e.Start(true);
  ASSERT_NE(worker, nullptr);
  worker->Resume();
  std::this_thread::sleep_for(300ms);
  e.Stop(true);
  EXPECT_EQ(onMain, 1);
}

TEST_F(RunControl, RateEmulationPacesFromTheInputsOwnStartAndStopsPromptly) {
  const std::string out = Path("paced.avi");
  TCustomFFmpeg e;
  // An input offset is no lead to wait for: the picture is paced from where the input begins.
  OpenAll(e, {{{{"re", "1"}, {"itsoffset", "5"}}, Path("long.mkv")}}, {{"vcodec", "msmpeg4v2"}}, out);
  TConvertThread* worker = e.Start(true);
  ASSERT_NE(worker, nullptr);
  worker->Resume();
  std::this_thread::sleep_for(500ms);
  const auto before = std::chrono::steady_clock::now();
  e.Stop(true);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before);
  std::printf("Stop(true) of a paced run returned after %lld ms\n", static_cast<long long>(took.count()));
  EXPECT_LT(took, 1000ms);
  EXPECT_FALSE(e.Failed) << e.FailText;
  // About half a second of a 25 fps picture, not the whole 20 s and not nothing (the offset's five
  // seconds are filled with copies of the first picture).
  const int frames = FrameCount(out) - e.NbFramesDup;
  EXPECT_GT(frames, 5);
  EXPECT_LT(frames, 40);
}

TEST_F(RunControl, TerminateOfANeverStartedEngineFiresOnce) {
  TCustomFFmpeg e;
  TTerminateProbe probe;
  probe.Attach(e);
  std::thread::id seen;
  e.OnTerminate = [&](TCustomFFmpeg& s) {
    seen = std::this_thread::get_id();
    probe.Failed = s.Failed;
    ++probe.Count;
  };
  e.Terminate(true);
  EXPECT_EQ(probe.Count, 1);
  EXPECT_NE(seen, std::this_thread::get_id()) << "fired from a terminator thread";
  e.Terminate(true);
  EXPECT_EQ(probe.Count, 1);
  EXPECT_TRUE(e.Finished);
  EXPECT_EQ(e.Start(false), nullptr);
}

TEST_F(RunControl, BadInputEndsTheRunWithItsMessage) {
  // A small file system for the full-disk case.
  const std::string small = Path("small");
  std::filesystem::create_directories(small);
  struct TMount {
    std::string Dir;
    bool Mounted;
    ~TMount() {
      if (Mounted) umount(Dir.c_str());
    }
  } tmpfs{small, mount("tmpfs", small.c_str(), "tmpfs", 0, "size=200k") == 0};
  const bool haveTmpfs = tmpfs.Mounted;
  struct TCase {
    const char* Name;
    TOptionList BeforeInput;
    std::vector<std::string> Inputs;
    TOptionList Options;
    std::string Output;
    std::string Message;  // expected start of FailText
  } cases[] = {
      {"no input", {}, {}, {{"vcodec", "msmpeg4v2"}}, "none.avi", "At least one input file must be specified"},
      {"missing stream", {}, {"clip.avi"}, {{"map", "0:5"}, {"vcodec", "msmpeg4v2"}}, "map.avi",
       "Could not find input stream #0.5"},
      {"map count", {}, {"clip.avi"}, {{"map", "0:0"}, {"map", "0:0"}, {"vcodec", "msmpeg4v2"}}, "maps.avi",
       "Number of stream maps must match number of output streams"},
      {"encoder refuses", {}, {"clip.avi"}, {{"vcodec", "msmpeg4v2"}, {"qmin", "40"}}, "qmin.avi",
       "Error while opening encoder for output stream #0.0 (Video) - maybe incorrect parameters"},
      // libx264 refuses an odd size in 4:2:0 after it has set up its encoder: the sanitizer run
      // shows whether anything of the refused open is left.
      {"H.264 refuses", {}, {"clip.avi"}, {{"vcodec", "libx264"}, {"s", "641x481"}}, "odd.mkv",
       "Error while opening encoder for output stream #0.0 (Video) - maybe incorrect parameters"},
      // The decoder reports damage (instead of hiding it) and the run is asked to stop at an error.
      {"corrupt, exit on error", {{"err_detect", "explode"}}, {"corrupt.avi"}, {{"vcodec", "msmpeg4v2"}, {"xerror", "1"}}, "corrupt_out.avi",
       "Error while decoding stream #0.0 (Video)"},
      {"header refused", {}, {"big.mkv"}, {{"vcodec", "copy"}}, "ffv1.mp4",
       "Could not write header for output file #0 (incorrect codec parameters ?)"},
      {"full disk", {}, {"big.mkv"}, {{"vcodec", "msmpeg4v2"}, {"b", "8000k"}}, "small/full.avi",
       "av_interleaved_write_frame(): No space left on device"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.Output.rfind("small/", 0) == 0 && !haveTmpfs) {
      std::printf("full-disk case skipped: cannot mount a tmpfs here\n");
      continue;
    }
    const int fdsBefore = OpenFdCount();
    {
      TCustomFFmpeg e;
      TTerminateProbe probe;
      probe.Attach(e);
      SetOptions(e, c.BeforeInput);
      for (const auto& in : c.Inputs) ASSERT_TRUE(e.OpenInput(Path(in))) << e.LastError();
      SetOptions(e, c.Options);
      ASSERT_GE(e.OpenOutput(Path(c.Output)), 0) << e.LastError();
      EXPECT_EQ(e.Start(false), nullptr);
      EXPECT_EQ(probe.Count, 1);
      EXPECT_TRUE(probe.Failed);
      EXPECT_EQ(probe.Text.substr(0, c.Message.size()), c.Message) << probe.Text;
      EXPECT_FALSE(probe.Completed);
    }
    EXPECT_EQ(OpenFdCount(), fdsBefore) << "every file is closed";
  }
}

TEST_F(RunControl, DamagedInputsWithoutExitOnErrorStillGiveAReadableFile) {
  for (const char* name : {"truncated.avi", "corrupt.avi"}) {
    SCOPED_TRACE(name);
    const std::string out = Path(std::string("out_") + name);
    TCustomFFmpeg e;
    TTerminateProbe probe;
    probe.Attach(e);
    OpenAll(e, {{{}, Path(name)}}, {{"vcodec", "msmpeg4v2"}}, out);
    e.Start(false);
    EXPECT_EQ(probe.Count, 1);
    EXPECT_FALSE(probe.Failed) << probe.Text;
    EXPECT_TRUE(probe.Completed);
    const int frames = FrameCount(out);
    EXPECT_GT(frames, 10);
    EXPECT_LE(frames, 101);
    EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -i " + Quote(out) + " -f null - 2>&1"), "");
  }
}

}  // namespace
}  // namespace qv
