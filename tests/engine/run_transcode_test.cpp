// A whole run on real files: a generated clip transcoded to an AVI that ffprobe and ffmpeg judge.
#include <gtest/gtest.h>

#include <algorithm>

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
    const std::string small = "-f lavfi -i testsrc=duration=2:size=160x120:rate=25 ";
    // Frames 10..14 missing: frame 15 arrives five frame periods after frame 9.
    MakeClip(*Dir / "gap.mkv", small + "-vf \"select='not(between(n,10,14))'\" -fps_mode passthrough -c:v ffv1");
    // Frames 20..29 squeezed into 0.2 frame periods each, the rest at their usual distance.
    MakeClip(*Dir / "burst.mkv", small + "-vf \"setpts='(if(lt(N,20),N,if(lt(N,30),20+(N-20)*0.2,N-8)))/(25*TB)'\" "
             "-fps_mode passthrough -c:v ffv1");
    MakeClip(*Dir / "gop.avi", "-f lavfi -i testsrc=duration=3:size=160x120:rate=25 -c:v mpeg4 -g 25");
    {
      std::FILE* meta = std::fopen((*Dir / "chapters.txt").c_str(), "w");
      std::fputs(";FFMETADATA1\ntitle=Quorvane test\n"
                 "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=one\n"
                 "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=3000\ntitle=two\n"
                 "[CHAPTER]\nTIMEBASE=1/1000\nSTART=3000\nEND=5000\ntitle=three\n",
                 meta);
      std::fclose(meta);
    }
    MakeClip(*Dir / "chapters.mkv", "-f lavfi -i testsrc=duration=5:size=160x120:rate=25 -i " + Quote(*Dir / "chapters.txt") +
                                        " -map_metadata 1 -map_chapters 1 -c:v ffv1");
    std::FILE* srt = std::fopen((*Dir / "cues.srt").c_str(), "w");
    std::fputs("1\n00:00:00,500 --> 00:00:01,500\none\n\n2\n00:00:02,000 --> 00:00:03,000\ntwo\n\n"
               "3\n00:00:03,500 --> 00:00:04,200\nthree\n",
               srt);
    std::fclose(srt);
    MakeClip(*Dir / "subtitled.mkv", "-f lavfi -i testsrc=duration=5:size=160x120:rate=25 -i " +
                                         Quote(*Dir / "cues.srt") + " -c:v ffv1 -c:s srt");
    MakeClip(*Dir / "two.mkv", "-f lavfi -i testsrc=duration=2:size=320x240:rate=25 -c:v ffv1");
    MakeClip(*Dir / "three.mkv", "-f lavfi -i testsrc2=duration=3:size=320x240:rate=25 -c:v ffv1");
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

// Lines of a video statistics file: one per encoded picture.
int CountLines(const std::string& path) {
  return std::atoi(RunCommand("wc -l < " + Quote(path)).c_str());
}

TEST_F(RunTranscode, VideoSyncDuplicatesAndDropsByTheRules) {
  struct TCase {
    const char* Clip;
    const char* VSync;  // nullptr: automatic
    int Dups, Drops, Encoded;
  } cases[] = {
      // AVI has a constant frame rate: a frame five periods late fills the gap (4 duplicates).
      {"gap.mkv", nullptr, 4, 0, 49},
      // Frames more than 1.1 periods early are dropped: 7 of the 10 squeezed ones.
      {"burst.mkv", nullptr, 0, 7, 43},
      // Method 0: every decoded frame once, with its own time stamp.
      {"gap.mkv", "0", 0, 0, 45},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Clip) + " vsync " + (c.VSync ? c.VSync : "auto"));
    const std::string out = Path("sync.avi");
    const std::string stats = Path("sync.vstats");
    std::remove(stats.c_str());
    TCustomFFmpeg e;
    TTerminateProbe probe;
    probe.Attach(e);
    TOptionList opts = {{"vcodec", "msmpeg4v2"}, {"vstats_file", stats}};
    if (c.VSync) opts.push_back({"vsync", c.VSync});
    OpenAll(e, {{{}, Path(c.Clip)}}, opts, out);
    e.Start(false);
    ASSERT_FALSE(probe.Failed) << probe.Text;
    EXPECT_EQ(e.NbFramesDup, c.Dups);
    EXPECT_EQ(e.NbFramesDrop, c.Drops);
    EXPECT_EQ(CountLines(stats), c.Encoded);
    if (!c.VSync) {
      EXPECT_EQ(FrameCount(out), c.Encoded);
    }
  }
}

TEST_F(RunTranscode, RecordingTimeStartTimeJoinAndFilters) {
  struct TCase {
    const char* Name;
    TOptionList BeforeInput;
    std::vector<std::string> Inputs;
    TOptionList BeforeOutput;
    bool Join;
    int Frames;
    double Duration;
    const char* Size;
    bool HeaderOnEveryKey = false;  // each key packet starts with the MPEG-4 headers (VOS start code)
  } cases[] = {
      {"t", {}, {"src.mkv"}, {{"t", "2"}}, false, 50, 2.0, "640\n480"},
      {"ss", {{"ss", "1.5"}}, {"src.mkv"}, {}, false, 88, 3.5, "640\n480"},
      {"join", {}, {"two.mkv", "three.mkv"}, {}, true, 125, 5.0, "320\n240"},
      {"vf", {}, {"src.mkv"}, {{"vf", "scale=320:240"}}, false, 125, 5.0, "320\n240"},
      {"vframes", {}, {"src.mkv"}, {{"vframes", "10"}}, false, 10, 0.4, "640\n480"},
      // A recording time at the end of the range plus a start time: the sum stays representable.
      {"t+ss", {{"ss", "1.5"}}, {"src.mkv"}, {{"t", "9223372036854"}}, false, 88, 3.5, "640\n480"},
      {"loop_input", {{"loop_input", "1"}}, {"two.mkv"}, {{"t", "5"}}, false, 125, 5.0, "320\n240"},
      // Headers kept out of the packets, put back before each key packet by a bitstream filter that
      // must run on the second clip's packets too.
      {"join+vbsf", {}, {"two.mkv", "three.mkv"},
       {{"vcodec", "mpeg4"}, {"flags", "+global_header"}, {"vbsf", "dump_extra"}}, true, 125, 5.0, "320\n240", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string out = Path(std::string(c.Name) + ".avi");
    TCustomFFmpeg e;
    TTerminateProbe probe;
    probe.Attach(e);
    SetOptions(e, c.BeforeInput);
    for (const auto& in : c.Inputs) ASSERT_TRUE(e.OpenInput(Path(in))) << e.LastError();
    e.SetOption("vcodec", "msmpeg4v2");
    SetOptions(e, c.BeforeOutput);
    ASSERT_GE(e.OpenOutput(out, c.Join), 0) << e.LastError();
    if (c.Join) e.PrepareJoin();
    e.Start(false);
    ASSERT_FALSE(probe.Failed) << probe.Text;
    EXPECT_TRUE(probe.Completed);
    EXPECT_NEAR(FrameCount(out), c.Frames, 1);
    EXPECT_NEAR(Duration(out), c.Duration, 0.1);
    EXPECT_EQ(Probe(out, "stream=width,height", "v:0"), c.Size);
    if (c.HeaderOnEveryKey) {
      const auto packets = Packets(out);
      const auto keys = std::count_if(packets.begin(), packets.end(), [](const auto& p) { return p.second; });
      const int headed = std::atoi(RunCommand("ffprobe -v error -select_streams v:0 -show_packets -show_data " +
                                              Quote(out) + " | grep -c '^00000000: 0000 01b0'").c_str());
      EXPECT_GT(keys, 5);  // the first clip alone holds five
      EXPECT_EQ(headed, keys);
    }
  }
}

TEST_F(RunTranscode, StreamCopyStartsAtAKeyFrameUnlessCopyinkf) {
  for (bool copyinkf : {false, true}) {
    SCOPED_TRACE(copyinkf ? "copyinkf" : "key frame start");
    const std::string out = Path("copy.avi");
    TCustomFFmpeg e;
    TTerminateProbe probe;
    probe.Attach(e);
    TOptionList opts = {{"vcodec", "copy"}, {"ss", "0.5"}};
    if (copyinkf) opts.push_back({"copyinkf", "1"});
    OpenAll(e, {{{}, Path("gop.avi")}}, opts, out);
    e.Start(false);
    ASSERT_FALSE(probe.Failed) << probe.Text;
    auto packets = Packets(out);
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(Probe(out, "stream=codec_name", "v:0"), "mpeg4");
    // Key frames every 25 frames: the copy from 0.5 s starts at frame 25 (1.0 s) or at once.
    EXPECT_EQ(packets.front().second, !copyinkf);
    EXPECT_NEAR(int(packets.size()), copyinkf ? 63 : 50, 1);
  }
}

TEST_F(RunTranscode, AStreamCopiedAndReencodedAtOnceReachesBothOutputs) {
  const std::string copy = Path("both_copy.avi");
  const std::string encoded = Path("both_encoded.avi");
  TCustomFFmpeg e;
  TTerminateProbe probe;
  probe.Attach(e);
  ASSERT_TRUE(e.OpenInput(Path("gop.avi"))) << e.LastError();
  e.SetOption("vcodec", "copy");
  ASSERT_GE(e.OpenOutput(copy), 0) << e.LastError();
  e.SetOption("vcodec", "msmpeg4v2");
  ASSERT_GE(e.OpenOutput(encoded), 0) << e.LastError();
  e.Start(false);
  ASSERT_FALSE(probe.Failed) << probe.Text;
  const std::string count = "stream=nb_read_packets";
  EXPECT_EQ(Probe(copy, count, "v:0 -count_packets"), "75");
  EXPECT_EQ(Probe(encoded, count, "v:0 -count_packets"), "75");
  EXPECT_EQ(Probe(copy, "stream=codec_name", "v:0"), "mpeg4");
}

TEST_F(RunTranscode, SubtitlesKeepTheirTimesEncodedOrCopied) {
  struct TCase {
    const char* Name;
    TOptionList Options;
    const char* Codec;
    const char* Packets;  // pts_time,duration_time of each subtitle packet
    double Length;        // the last progress report's time, seconds
  } cases[] = {
      {"encoded", {{"scodec", "ass"}}, "ass", "0.500000,1.000000\n2.000000,1.000000\n3.500000,0.700000", 5},
      {"copied", {{"scodec", "copy"}}, "subrip", "0.500000,1.000000\n2.000000,1.000000\n3.500000,0.700000", 5},
      {"encoded from 1 s", {{"scodec", "ass"}, {"ss", "1"}}, "ass", "1.000000,1.000000\n2.500000,0.700000", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string out = Path("subtitles.mkv");
    TCustomFFmpeg e;
    TTerminateProbe probe;
    probe.Attach(e);
    std::int64_t reported = 0;
    e.OnProgress = [&](TCustomFFmpeg&, int, std::int64_t, std::int64_t time, std::int64_t, double, double, int, int) {
      reported = time;
    };
    TOptionList opts = c.Options;
    opts.push_back({"vcodec", "mpeg4"});
    OpenAll(e, {{{}, Path("subtitled.mkv")}}, opts, out);
    e.Start(false);
    ASSERT_FALSE(probe.Failed) << probe.Text;
    // The sparse subtitles do not hold the reported time back at their last cue.
    EXPECT_NEAR(double(reported) / AV_TIME_BASE, c.Length, 0.1);
    EXPECT_EQ(Probe(out, "stream=codec_name", "s:0"), c.Codec);
    EXPECT_EQ(RunCommand("ffprobe -v error -select_streams s:0 -show_entries packet=pts_time,duration_time -of csv=p=0 " +
                         Quote(out)),
              c.Packets);
  }
}

TEST_F(RunTranscode, ForcedKeyFramesChaptersAndMetadata) {
  const std::string out = Path("chapters_out.mkv");
  TCustomFFmpeg e;
  TTerminateProbe probe;
  probe.Attach(e);
  OpenAll(e, {{{}, Path("chapters.mkv")}},
          {{"vcodec", "mpeg4"}, {"g", "1000"}, {"force_key_frames", "1,2.5"}, {"t", "2.8"}}, out);
  e.Start(false);
  ASSERT_FALSE(probe.Failed) << probe.Text;
  std::vector<double> keys;
  for (const auto& [t, key] : Packets(out))
    if (key) keys.push_back(t);
  // 2.5 s is frame 62.5 at 25 fps: it rounds to frame 63 (2.52 s).
  EXPECT_EQ(keys, (std::vector<double>{0.0, 1.0, 2.52}));
  // Global metadata comes along; chapters are cut to the recording time (the third starts after it).
  EXPECT_EQ(Probe(out, "format_tags=title"), "Quorvane test");
  EXPECT_EQ(RunCommand("ffprobe -v error -show_entries chapter=start_time,end_time -of csv=p=0 " + Quote(out)),
            "0.000000,1.000000\n1.000000,2.800000");
}

TEST_F(RunTranscode, TwoPassEncodingReadsTheFirstPassLog) {
  const std::string prefix = Path("pass");
  for (int pass : {1, 2}) {
    SCOPED_TRACE(pass);
    const std::string out = Path("pass" + std::to_string(pass) + ".avi");
    TCustomFFmpeg e;
    TTerminateProbe probe;
    probe.Attach(e);
    OpenAll(e, {{{}, Path("src.mkv")}},
            {{"vcodec", "msmpeg4v2"}, {"b", "300k"}, {"pass", std::to_string(pass)}, {"passlogfile", prefix}}, out);
    e.Start(false);
    ASSERT_FALSE(probe.Failed) << probe.Text;
    EXPECT_NEAR(FrameCount(out), 125, 1);
    if (pass == 1) {
      std::string log = RunCommand("head -c 200 " + Quote(prefix + "-0.log"));
      EXPECT_NE(log.find("in:0 out:0 type:"), std::string::npos) << log;
    }
  }
  // The clip is too simple for one pass to get down to 300k; the second pass, planned from the first
  // pass's log, comes much closer (the ffmpeg command line gets the same figures).
  const double rate1 = std::atof(Probe(Path("pass1.avi"), "format=bit_rate").c_str());
  const double rate2 = std::atof(Probe(Path("pass2.avi"), "format=bit_rate").c_str());
  std::printf("two-pass at 300k: pass 1 %.0f bit/s, pass 2 %.0f bit/s\n", rate1, rate2);
  EXPECT_LT(rate2, rate1 * 0.95);
}

}  // namespace
}  // namespace qv
