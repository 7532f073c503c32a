// Trims and exports of 20 s recordings in each format, judged by ffprobe and by the decoded
// pictures against the source's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "engine/engine_test_support.h"
#include "export/export_job.h"
#include "export/gif_passes.h"
#include "support/media_env.h"

namespace qv {
namespace {

using test::Probe;
using test::Quote;
using test::RunCommand;

QV_MEDIA_TEST_ENV;

const char* const kSources = "-f lavfi -i testsrc2=duration=20:size=320x240:rate=25 -f lavfi -i sine=duration=20";

// Where a stream's last packet ends, in ms ("v" or "a").
int StreamEndMs(const std::string& path, const std::string& kind) {
  return std::atoi(RunCommand("ffprobe -v error -select_streams " + kind +
                              ":0 -show_entries packet=pts_time,duration_time -of csv=p=0 " + Quote(path) +
                              " | awk -F, '{ e = $1 + $2; if (e > m) m = e } END { printf \"%d\", m * 1000 + 0.5 }'")
                       .c_str());
}

// PSNR (dB) of `path`'s first picture against `source`'s at `seconds`, the source at its size.
double FirstPicturePsnr(const std::string& path, const std::string& source, double seconds) {
  const std::string size = Probe(path, "stream=width,height", "v:0 -of csv=s=x:p=0");
  const std::string out = RunCommand(
      "ffmpeg -nostdin -hide_banner -i " + Quote(path) + " -ss " + std::to_string(seconds) + " -i " + Quote(source) +
      " -filter_complex '[0:v]format=rgb24,trim=end_frame=1[a];[1:v]scale=" + size +
      ",format=rgb24,trim=end_frame=1[b];[a][b]psnr' -f null - 2>&1 | grep -o 'average:[0-9.inf]*' | tail -1");
  if (out.rfind("average:", 0) != 0) return -1;
  return out.substr(8) == "inf" ? 99 : std::atof(out.substr(8).c_str());
}

class ExportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new test::TTempDir;
    // Key frames only at 0 and 10 s: 3 and 12 s must be coded again.
    test::MakeClip(*Dir / "rec.avi", std::string(kSources) + " -ar 22050 -c:v msmpeg4v2 -g 250 -b:v 2M -c:a adpcm_ms");
    test::MakeClip(*Dir / "rec.mkv", std::string(kSources) + " -c:v libx264 -x264-params keyint=250:scenecut=0 -c:a libopus");
    test::MakeClip(*Dir / "rec.mp4", std::string(kSources) +
                                         " -c:v libx264 -x264-params keyint=250:scenecut=0 -c:a aac -movflags frag_keyframe+empty_moov");
    // Key frames every 3 s.
    test::MakeClip(*Dir / "keys.avi", std::string(kSources) + " -c:v msmpeg4v2 -g 75 -b:v 2M -c:a adpcm_ms");
  }
  static void TearDownTestSuite() { delete Dir; }

  static TExportPlan Plan(const TExportRequest& request, const std::string& palette = "") {
    TMediaFacts facts;
    std::string error;
    EXPECT_TRUE(ReadMediaFacts(request.Source, facts, error)) << error;
    return PlanExport(request, facts, palette);
  }
  static TExportRequest Trim(const std::string& source) {
    TExportRequest r;
    r.Source = *Dir / source;
    r.InUs = 3000000;
    r.OutUs = 12000000;
    return r;
  }

  static test::TTempDir* Dir;
};
test::TTempDir* ExportTest::Dir = nullptr;

TEST_F(ExportTest, TrimsEachFormatAtThePicturesOfItsPoints) {
  // Sound frames: MS ADPCM 2036 samples at 22050 Hz, Opus 20 ms, AAC 1024 samples at 44100 Hz.
  const std::pair<const char*, int> kRows[] = {{"rec.avi", 93}, {"rec.mkv", 21}, {"rec.mp4", 24}};
  for (const auto& [source, audioFrameMs] : kRows) {
    SCOPED_TRACE(source);
    const TExportPlan plan = Plan(Trim(source));
    EXPECT_FALSE(plan.Copies);
    TExportJob job;
    const TExportResult result = job.Run(plan);
    ASSERT_TRUE(result.Completed) << result.Error;
    EXPECT_GT(job.CodedStreams(), 0);
    const std::string ext = std::string(source).substr(3);
    EXPECT_EQ(result.Output, *Dir / ("rec (trimmed)" + ext));
    const int video = StreamEndMs(result.Output, "v");
    EXPECT_NEAR(video, 9000, 40);
    EXPECT_GT(FirstPicturePsnr(result.Output, *Dir / source, 3.0), 35);
    EXPECT_NEAR(StreamEndMs(result.Output, "a"), video, audioFrameMs);
  }
}

TEST_F(ExportTest, TrimAtKeyFramesCopiesAndNeverOverwrites) {
  const TExportPlan plan = Plan(Trim("keys.avi"));
  ASSERT_TRUE(plan.Copies);
  TExportJob job;
  const TExportResult result = job.Run(plan);
  ASSERT_TRUE(result.Completed) << result.Error;
  EXPECT_EQ(job.CodedStreams(), 0);
  EXPECT_NEAR(StreamEndMs(result.Output, "v"), 9000, 40);
  EXPECT_GT(FirstPicturePsnr(result.Output, *Dir / "keys.avi", 3.0), 35);
  // The next trim of the same recording takes the next free name.
  EXPECT_EQ(Plan(Trim("keys.avi")).Output, *Dir / "keys (trimmed) 2.avi");
}

TEST_F(ExportTest, Mp4ForSharingPlaysFromTheStart) {
  TExportRequest r;
  r.Kind = TExportKind::Mp4;
  r.Source = *Dir / "rec.avi";
  const TExportResult result = TExportJob().Run(Plan(r));
  ASSERT_TRUE(result.Completed) << result.Error;
  EXPECT_EQ(RunCommand("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + Quote(result.Output) + " | tr '\\n' ' '"),
            "h264 aac ");
  std::ifstream in(result.Output, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_NE(bytes.find("moov"), std::string::npos);
  EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
}

TEST_F(ExportTest, GifHasItsOwnPaletteAndTheChosenRate) {
  TExportRequest r = Trim("rec.mkv");
  r.Kind = TExportKind::Gif;
  r.GifFps = 10;
  r.GifWidth = 240;
  r.OutUs = 7000000;
  TPaletteFile palette;
  const TExportPlan plan = Plan(r, palette.FileName());
  const TExportResult result = TExportJob().Run(plan);
  ASSERT_TRUE(result.Completed) << result.Error;
  EXPECT_EQ(result.Output, *Dir / "rec.gif");
  EXPECT_GT(FirstPicturePsnr(result.Output, r.Source, 3.0), 30);
  EXPECT_EQ(RunCommand("ffprobe -v error -show_entries packet=duration -of csv=p=0 " + Quote(result.Output) + " | sort -u"),
            "10");
}

TEST_F(ExportTest, CancelLeavesNoFile) {
  TExportRequest r;
  r.Kind = TExportKind::Mp4;
  r.Source = *Dir / "rec.mkv";
  const TExportPlan plan = Plan(r);
  TExportJob job;
  job.OnProgress = [&](double) { job.Cancel(); };
  const TExportResult result = job.Run(plan);
  EXPECT_TRUE(result.Cancelled);
  EXPECT_FALSE(result.Completed);
  EXPECT_FALSE(std::filesystem::exists(plan.Output));
}

}  // namespace
}  // namespace qv
