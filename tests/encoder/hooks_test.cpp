// Hooks and previews through the component: where they run, what they carry, that a changed bitmap
// reaches the file, that StopHook ends the calls, and the preview's pace.
#include <gtest/gtest.h>

#include <cstring>

#include "encoder/encoder_support.h"
#include "encoder/ff_encoder.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::W;

class Hooks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new test::TTempDir;
    test::MakeClip(*Dir / "av.avi",
                   "-f lavfi -i testsrc=duration=2:size=160x120:rate=25 -f lavfi -i sine=duration=2:sample_rate=22050 "
                   "-c:v mpeg4 -c:a pcm_s16le");
  }
  static void TearDownTestSuite() { delete Dir; }
  void SetUp() override {
    Enc.OnTerminate = [this](TObject*, const TTerminateInfo& info) {
      if (info.TaskIndex == -1) Done = true;
      if (info.TaskIndex >= 0) End = info;
    };
  }
  void Run(TOutputOptions o, const std::string& out, const std::string& inputOptions = "") {
    TInputOptions in;
    in.ExtOptions = inputOptions;
    ASSERT_EQ(Enc.AddTask(W(*Dir / "av.avi"), in), 0) << Enc.LastError();
    if (o.VideoCodec.empty()) o.VideoCodec = "mpeg4";
    ASSERT_TRUE(Enc.SetOutputFile(0, W(*Dir / out), o)) << Enc.LastError();
    Enc.StartTask(1);
    ASSERT_TRUE(test::PumpUntil([&] { return Done.load(); }));
    EXPECT_TRUE(End.Completed) << End.ErrorMessage;
  }
  double FirstFrameLuma(const std::string& out) {
    std::string text = test::RunCommand("ffmpeg -nostdin -hide_banner -i " + test::Quote(*Dir / out) +
                                        " -vf signalstats,metadata=print:key=lavfi.signalstats.YAVG -frames:v 1 "
                                        "-f null - 2>&1");
    auto at = text.find("YAVG=");
    return at == std::string::npos ? -1 : std::atof(text.c_str() + at + 5);
  }

  static test::TTempDir* Dir;
  TFFEncoder Enc;
  std::atomic<bool> Done{false};
  TTerminateInfo End;
};
test::TTempDir* Hooks::Dir = nullptr;

TEST_F(Hooks, OutputHookPaintsTheFramesOnTheWorker) {
  int calls = 0, lastFrame = 0, badBitmaps = 0, onMain = 0;
  Enc.OnVideoOutputHook = [&](TObject* sender, PHookInfo info) {
    EXPECT_EQ(sender, &Enc);
    ++calls;
    onMain += IsMainThread();
    if (info->TaskIndex != 0 || !info->Bitmap || info->Bitmap->BitsPixel() != 32 || info->Bitmap->Width() != 160 ||
        info->Bitmap->Height() != 120 || !info->Update || info->StopHook)
      ++badBitmaps;
    if (info->FrameNumber <= lastFrame) ++badBitmaps;
    lastFrame = info->FrameNumber;
    std::memset(info->Bitmap->Bits(), 0, size_t(info->Bitmap->Stride()) * size_t(info->Bitmap->Height()));
  };
  TOutputOptions o;
  o.VideoOutputHook = true;
  o.HookBitmapBits = 32;
  Run(o, "painted.avi");
  EXPECT_EQ(calls, 50);
  EXPECT_EQ(badBitmaps, 0);
  EXPECT_EQ(onMain, 0);
  EXPECT_NEAR(FirstFrameLuma("painted.avi"), 16, 3);  // black in limited-range luma
}

TEST_F(Hooks, UnchangedFramesAndStopHook) {
  int inputCalls = 0, outputCalls = 0;
  Enc.OnVideoInputHook = [&](TObject*, PHookInfo info) {
    ++inputCalls;
    std::memset(info->Bitmap->Bits(), 0, size_t(info->Bitmap->Stride()) * size_t(info->Bitmap->Height()));
    info->Update = false;  // painted, but said unchanged: the frame must stay as it was
  };
  Enc.OnVideoOutputHook = [&](TObject*, PHookInfo info) {
    ++outputCalls;
    info->StopHook = true;
  };
  TOutputOptions o;
  o.VideoInputHook = true;
  o.VideoOutputHook = true;
  Run(o, "unchanged.avi");
  EXPECT_EQ(inputCalls, 50);
  EXPECT_EQ(outputCalls, 1);
  EXPECT_GT(FirstFrameLuma("unchanged.avi"), 40);  // the test pattern, not black
}

TEST_F(Hooks, HooksNotAskedForAreNotCalled) {
  int calls = 0;
  Enc.OnVideoOutputHook = [&](TObject*, PHookInfo) { ++calls; };
  Enc.OnAudioHook = [&](TObject*, int, std::int64_t, std::uint8_t*, int, int, int, AVSampleFormat) { ++calls; };
  Run(TOutputOptions(), "nohooks.avi");
  EXPECT_EQ(calls, 0);
}

TEST_F(Hooks, AudioHookSeesTheDecodedSamples) {
  int calls = 0, bad = 0;
  std::int64_t bytes = 0;
  Enc.OnAudioHook = [&](TObject*, int task, std::int64_t, std::uint8_t* samples, int size, int rate, int channels,
                        AVSampleFormat fmt) {
    ++calls;
    bytes += size;
    if (task != 0 || !samples || rate != 22050 || channels != 1 || fmt != AV_SAMPLE_FMT_S16 || IsMainThread()) ++bad;
  };
  TOutputOptions o;
  o.AudioHook = true;
  o.AudioCodec = "pcm_s16le";
  Run(o, "audiohook.avi");
  EXPECT_GT(calls, 0);
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(bytes, 2 * 22050 * 2);
}

TEST_F(Hooks, PreviewBitmapsComeToTheMainThreadAtMostTenASecond) {
  int calls = 0, bad = 0;
  Enc.SetPreviewBitmap(true);
  Enc.OnPreviewBitmap = [&](TObject*, const TPreviewInfo& info) {
    ++calls;
    if (!IsMainThread() || !info.Bitmap || info.Bitmap->Width() != 160 || info.FrameNumber < 1 || info.TaskIndex != 0)
      ++bad;
  };
  Run(TOutputOptions(), "preview.avi", "re");  // two seconds at the clip's own pace
  EXPECT_GE(calls, 1);
  EXPECT_LE(calls, 22);
  EXPECT_EQ(bad, 0);
}

}  // namespace
}  // namespace qv
