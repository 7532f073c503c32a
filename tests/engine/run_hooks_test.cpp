// Video hooks during a run: the encoder component's input/output hooks with their disable and changed
// flags, and frame-hook libraries (shared objects with "Configure"/"Process"/"Release") built here.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "engine/run_test_support.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

using namespace test;

// A frame hook that fills the luma plane with the value given as its argument; "fail" makes its
// Configure refuse. Release leaves a mark file next to the library.
const char* kHookSource = R"(
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
typedef struct { int value; char mark[512]; } Ctx;
int Configure(void** ctx, int argc, char* argv[]) {
  if (argc > 1 && strcmp(argv[1], "fail") == 0) return 1;
  Ctx* c = calloc(1, sizeof(Ctx));
  c->value = argc > 1 ? atoi(argv[1]) : 16;
  snprintf(c->mark, sizeof(c->mark), "%s.released", argv[0]);
  *ctx = c;
  return 0;
}
void Process(void* ctx, uint8_t* data[4], int linesize[4], int pixfmt, int width, int height, int64_t pts) {
  Ctx* c = ctx;
  (void)pixfmt; (void)pts;
  for (int y = 0; y < height; ++y) memset(data[0] + y * linesize[0], c->value, (size_t)width);
}
void Release(void* ctx) {
  Ctx* c = ctx;
  FILE* f = fopen(c->mark, "w");
  if (f) fclose(f);
  free(c);
}
)";

class RunHooks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new TTempDir;
    MakeClip(*Dir / "src.mkv", "-f lavfi -i testsrc=duration=1:size=320x240:rate=25 -pix_fmt yuv420p -c:v ffv1");
    // Fields of a moving picture woven into frames: every frame combs.
    for (const char* format : {"bgr0", "yuv420p"})
      MakeClip(*Dir / (std::string("interlaced_") + format + ".mkv"),
               std::string("-f lavfi -i testsrc=duration=1:size=160x120:rate=50 -vf scroll=h=0.02,interlace,format=") +
                   format + " -c:v ffv1");
    std::ofstream(*Dir / "hook.c") << kHookSource;
    std::filesystem::create_directories(*Dir / "my hooks");
    std::ofstream(*Dir / "nohook.c") << "int Configure(void) { return 0; }\n";
    int status = 0;
    RunCommand("cc -shared -fPIC -o " + Quote(*Dir / "my hooks/fill.so") + " " + Quote(*Dir / "hook.c") + " 2>&1 && " +
                   "cc -shared -fPIC -o " + Quote(*Dir / "noprocess.so") + " " + Quote(*Dir / "nohook.c") + " 2>&1",
               &status);
    HaveCompiler = status == 0;
  }
  static void TearDownTestSuite() { delete Dir; }
  static std::string Path(const std::string& name) { return *Dir / name; }
  static TTempDir* Dir;
  static bool HaveCompiler;
};
TTempDir* RunHooks::Dir = nullptr;
bool RunHooks::HaveCompiler = false;

// Mean luma of frame `n` of a video file.
double MeanLuma(const std::string& path, int n) {
  const std::string raw = path + ".gray";
  RunCommand("ffmpeg -nostdin -v error -y -i " + Quote(path) + " -vf \"select=eq(n\\," + std::to_string(n) +
             "),format=gray\" -frames:v 1 -f rawvideo " + Quote(raw));
  std::ifstream f(raw, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (bytes.empty()) return -1;
  double sum = 0;
  for (unsigned char b : bytes) sum += b;
  return sum / double(bytes.size());
}

void PaintBlack(TBitmap& bitmap) {
  for (int y = 0; y < bitmap.Height(); ++y)
    std::memset(bitmap.ScanLine(y), 0, size_t(bitmap.Width()) * size_t(bitmap.BitsPixel() / 8));
}

TEST_F(RunHooks, OutputHookFlagsDecideWhatIsEncoded) {
  struct TCase {
    const char* Name;
    bool Paint, Throw, Disable, ClearChanged;
    int Calls;       // expected calls over 25 frames
    bool Black;      // expected look of the encoded frames after the first
    bool Logged;     // "Error occurs VideoHook event: " in the log
  } cases[] = {
      {"paints", true, false, false, false, 25, true, false},
      {"paints but says unchanged", true, false, false, true, 25, false, false},
      {"throws after painting", true, true, false, false, 25, false, true},
      {"disables itself", true, false, true, false, 1, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string out = Path("hook.avi");
    TLogRecorder log;
    TCustomFFmpeg e;
    TTerminateProbe probe;
    probe.Attach(e);
    int calls = 0;
    std::vector<int> numbers;
    e.OnVideoOutputHook = [&](TCustomFFmpeg&, TBitmap& bitmap, bool* disable, bool* changed, std::int64_t,
                              int frameNumber) {
      ++calls;
      numbers.push_back(frameNumber);
      EXPECT_TRUE(*changed);
      EXPECT_FALSE(*disable);
      if (c.Paint) PaintBlack(bitmap);
      if (c.ClearChanged) *changed = false;
      if (c.Disable) *disable = true;
      if (c.Throw) throw std::runtime_error("boom");
    };
    OpenAll(e, {{{}, Path("src.mkv")}}, {{"vcodec", "msmpeg4v2"}, {"b", "2000k"}}, out);
    e.Start(false);
    ASSERT_FALSE(probe.Failed) << probe.Text;
    EXPECT_EQ(calls, c.Calls);
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.front(), 1);
    EXPECT_EQ(numbers.back(), c.Calls);
    EXPECT_EQ(FrameCount(out), 25);
    const double luma = MeanLuma(out, 10);
    if (c.Black)
      EXPECT_LT(luma, 20) << "frame 10 should be black";
    else
      EXPECT_GT(luma, 60) << "frame 10 should be the test picture";
    EXPECT_EQ(log.Contains("Error occurs VideoHook event: boom"), c.Logged);
  }
}

TEST_F(RunHooks, InputHookSeesEveryDecodedPictureInOrder) {
  TCustomFFmpeg e;
  TTerminateProbe probe;
  probe.Attach(e);
  std::vector<int> numbers;
  std::vector<std::int64_t> times;
  e.OnVideoInputHook = [&](TCustomFFmpeg&, TBitmap& bitmap, bool*, bool* changed, std::int64_t pts, int n) {
    numbers.push_back(n);
    times.push_back(pts);
    EXPECT_EQ(bitmap.Width(), 320);
    *changed = false;
  };
  OpenAll(e, {{{}, Path("src.mkv")}}, {{"vcodec", "msmpeg4v2"}}, Path("in.avi"));
  e.Start(false);
  ASSERT_FALSE(probe.Failed) << probe.Text;
  ASSERT_EQ(numbers.size(), 25u);
  for (size_t i = 0; i < numbers.size(); ++i) {
    EXPECT_EQ(numbers[i], int(i) + 1);
    EXPECT_EQ(times[i], std::int64_t(i) * 40000);
  }
}

// Whether ffmpeg's field detector takes most pictures of a file for interlaced ones.
bool LooksInterlaced(const std::string& path) {
  const std::string out = RunCommand("ffmpeg -nostdin -hide_banner -i " + Quote(path) +
                                     " -vf idet -f null - 2>&1 | grep 'Multi frame'");
  int tff = 0, bff = 0, progressive = 0;
  const size_t at = out.find("TFF:");
  EXPECT_NE(at, std::string::npos) << out;
  if (at == std::string::npos) return false;
  std::sscanf(out.c_str() + at, "TFF: %d BFF: %d Progressive: %d", &tff, &bff, &progressive);
  return tff + bff > progressive;
}

TEST_F(RunHooks, DeinterlacingTakesAnyPixelFormatAndTheHookSeesEveryPicture) {
  for (const char* format : {"bgr0", "yuv420p"}) {
    SCOPED_TRACE(format);
    const std::string in = Path(std::string("interlaced_") + format + ".mkv");
    const std::string out = Path("deinterlaced.avi");
    ASSERT_TRUE(LooksInterlaced(in));
    TCustomFFmpeg e;
    TTerminateProbe probe;
    probe.Attach(e);
    int calls = 0;
    e.OnVideoInputHook = [&](TCustomFFmpeg&, TBitmap&, bool*, bool* changed, std::int64_t, int) {
      ++calls;
      *changed = false;
    };
    e.SetOption("deinterlace", "1");
    OpenAll(e, {{{}, in}}, {{"vcodec", "msmpeg4v2"}, {"b", "2000k"}}, out);
    e.Start(false);
    ASSERT_FALSE(probe.Failed) << probe.Text;
    EXPECT_EQ(calls, 25);
    EXPECT_EQ(FrameCount(out), 25);
    EXPECT_FALSE(LooksInterlaced(out));
  }
}

TEST_F(RunHooks, FrameHookLibraryProcessesEveryPicture) {
  if (!HaveCompiler) GTEST_SKIP() << "no C compiler to build the frame hook";
  const std::string lib = Path("my hooks/fill.so");
  const std::string out = Path("vhook.avi");
  {
    TCustomFFmpeg e;
    TTerminateProbe probe;
    probe.Attach(e);
    // A path with a blank: the text is split at "|" only.
    e.SetOption("vhook", lib + "|200");
    OpenAll(e, {{{}, Path("src.mkv")}}, {{"vcodec", "msmpeg4v2"}, {"b", "2000k"}}, out);
    e.Start(false);
    ASSERT_FALSE(probe.Failed) << probe.Text;
    EXPECT_TRUE(std::filesystem::exists(lib + ".released"));
  }
  // Luma 200 of the limited range reads back as full-range grey.
  EXPECT_NEAR(MeanLuma(out, 5), (200 - 16) * 255.0 / 219, 3);
}

TEST_F(RunHooks, FrameHookRefusalsAndStreamCopyRefusals) {
  if (!HaveCompiler) GTEST_SKIP() << "no C compiler to build the frame hook";
  TLogRecorder log;
  TCustomFFmpeg e;
  EXPECT_EQ(e.AddFrameHook(""), -2);
  EXPECT_EQ(e.AddFrameHook(Path("missing.so")), -1);
  // Without "|" the text splits at blanks: the folder name "my hooks" cuts the path.
  EXPECT_EQ(e.AddFrameHook(Path("my hooks/fill.so")), -1);
  EXPECT_EQ(e.AddFrameHook(Path("noprocess.so")), -2);
  EXPECT_TRUE(log.Contains("Failed to find Process entrypoint in " + Path("noprocess.so")));
  EXPECT_EQ(e.AddFrameHook(Path("my hooks/fill.so") + "|fail"), -22);
  EXPECT_TRUE(log.Contains("Failed to Configure " + Path("my hooks/fill.so")));
  try {
    e.SetOption("vhook", Path("noprocess.so"));
    ADD_FAILURE() << "vhook accepted a library without Process";
  } catch (const FFmpegException& ex) {
    EXPECT_EQ(std::string(ex.what()), "Failed to add video hook function: " + Path("noprocess.so"));
  }

  // Copied video is never decoded: hooks, frame hooks and previews refuse it.
  struct TCase {
    const char* Name;
    std::function<void(TCustomFFmpeg&)> Arm;
    const char* Message;
  } cases[] = {
      {"video hook", [](TCustomFFmpeg& x) { x.OnVideoOutputHook = [](auto&, auto&, auto, auto, auto, auto) {}; },
       "-vcodec copy and VideoHook are incompatible (frames are not decoded)"},
      {"frame hook", [&](TCustomFFmpeg& x) { ASSERT_EQ(x.AddFrameHook(Path("my hooks/fill.so") + "|16"), 0); },
       "-vcodec copy and -vhook are incompatible (frames are not decoded)"},
      {"preview", [](TCustomFFmpeg& x) { x.SetPreviewFlags(1); },
       "-vcodec copy and PostHooks are incompatible (frames are not decoded)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TCustomFFmpeg x;
    TTerminateProbe probe;
    probe.Attach(x);
    c.Arm(x);
    OpenAll(x, {{{}, Path("src.mkv")}}, {{"vcodec", "copy"}}, Path("refused.avi"));
    x.Start(false);
    EXPECT_EQ(probe.Count, 1);
    EXPECT_TRUE(probe.Failed);
    EXPECT_EQ(probe.Text, c.Message);
    EXPECT_FALSE(std::filesystem::exists(Path("refused.avi"))) << "an empty output stays behind";
  }
}

TEST_F(RunHooks, PreviewIsThrottledAndAMissingWindowTurnsItselfOff) {
  // Preview bitmaps: at most one per 100 ms of a run read at its own pace.
  {
    TCustomFFmpeg e;
    std::vector<std::int64_t> when;
    std::vector<int> numbers;
    e.OnPreviewBitmap = [&](TCustomFFmpeg&, const TBitmap& bitmap, std::int64_t, int frameNumber) {
      when.push_back(ff::av_gettime());
      numbers.push_back(frameNumber);
      EXPECT_EQ(bitmap.Width(), 320);
      EXPECT_EQ(bitmap.Height(), 240);
    };
    e.SetPreviewFlags(2);
    OpenAll(e, {{{{"re", "1"}}, Path("src.mkv")}}, {{"vcodec", "msmpeg4v2"}}, Path("preview.avi"));
    e.Start(false);
    ASSERT_FALSE(e.Failed) << e.FailText;
    // 25 frames over one second: every 100 ms at most, so 6 to 11 previews.
    EXPECT_GE(when.size(), 6u);
    EXPECT_LE(when.size(), 11u);
    for (size_t i = 1; i < when.size(); ++i) {
      EXPECT_GT(when[i] - when[i - 1], 100000);
      EXPECT_GT(numbers[i], numbers[i - 1]);
    }
  }
  // A preview window where the program has none (no factory installed): the flag clears itself.
  {
    TCustomFFmpeg e;
    e.SetPreviewFlags(1);
    OpenAll(e, {{{}, Path("src.mkv")}}, {{"vcodec", "msmpeg4v2"}}, Path("nowindow.avi"));
    e.Start(false);
    ASSERT_FALSE(e.Failed) << e.FailText;
    EXPECT_EQ(e.PreviewFlags() & 1, 0);
    EXPECT_EQ(FrameCount(Path("nowindow.avi")), 25);
  }
}

}  // namespace
}  // namespace qv
