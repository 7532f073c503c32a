// A whole run on real files: a generated clip transcoded to an AVI that ffprobe and ffmpeg judge.
#include <gtest/gtest.h>

#include "engine/run_test_support.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

using namespace test;

class RunTranscode : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new TTempDir;
    MakeClip(*Dir / "src.mkv", "-f lavfi -i testsrc=duration=5:size=640x480:rate=25 -c:v ffv1");
  }
  static void TearDownTestSuite() { delete Dir; }
  static std::string Path(const std::string& name) { return *Dir / name; }
  static TTempDir* Dir;
};
TTempDir* RunTranscode::Dir = nullptr;

TEST_F(RunTranscode, ClipBecomesMsmpeg4v2Avi) {
  const std::string out = Path("clip.avi");
  TCustomFFmpeg e;
  TTerminateProbe probe;
  probe.Attach(e);
  OpenAll(e, {{{}, Path("src.mkv")}}, {{"vcodec", "msmpeg4v2"}, {"s", "640x480"}, {"b", "4000k"}}, out);
  EXPECT_EQ(e.Start(false, tpNormal), nullptr);
  EXPECT_EQ(probe.Count, 1);
  EXPECT_FALSE(probe.Failed) << probe.Text;
  EXPECT_TRUE(probe.Completed);
  EXPECT_EQ(Probe(out, "stream=codec_name", "v:0"), "msmpeg4v2");
  EXPECT_EQ(Probe(out, "stream=width,height", "v:0"), "640\n480");
  const int frames = FrameCount(out);
  EXPECT_NEAR(frames, 125, 1);
  const double duration = Duration(out);
  EXPECT_NEAR(duration, 5.0, 0.1);
  const double psnr = Psnr(out, Path("src.mkv"));
  EXPECT_GT(psnr, 30.0);
  std::printf("msmpeg4v2 640x480: %d frames, %.3f s, PSNR %.2f dB\n", frames, duration, psnr);
}

}  // namespace
}  // namespace qv
