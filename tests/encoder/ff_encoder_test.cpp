// TFFEncoder without running tasks: properties, adding inputs and outputs, the option text and the
// record fields as they reach the transcoder, capacities and error texts.
#include <gtest/gtest.h>

#include <fstream>

#include "encoder/encoder_support.h"
#include "encoder/ff_encoder.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

using test::W;

class Encoder : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new test::TTempDir;
    test::MakeClip(*Dir / "av.avi",
                   "-f lavfi -i testsrc=duration=1:size=160x120:rate=10 -f lavfi -i sine=duration=1:sample_rate=22050 "
                   "-c:v mpeg4 -c:a pcm_s16le");
    test::MakeClip(*Dir / "v.avi", "-f lavfi -i testsrc=duration=2:size=160x120:rate=25 -c:v mpeg4");
  }
  static void TearDownTestSuite() { delete Dir; }
  static std::wstring In(const std::string& name) { return W(*Dir / name); }
  static std::wstring Out(const std::string& name) { return W(*Dir / name); }
  static test::TTempDir* Dir;
  TFFEncoder Enc;
};
test::TTempDir* Encoder::Dir = nullptr;

TEST_F(Encoder, ProgressIntervalHasAFloorOf100) {
  const std::pair<int, int> cases[] = {{50, 100}, {-5, 100}, {100, 100}, {101, 101}, {500, 500}, {2000, 2000}};
  for (auto [set, read] : cases) {
    Enc.SetProgressInterval(set);
    EXPECT_EQ(Enc.ProgressInterval(), read) << set;
  }
}

TEST_F(Encoder, LibrariesAreLoadedAndVersionIsSet) {
  EXPECT_TRUE(Enc.LibrariesLoaded());
  EXPECT_TRUE(Enc.LoadLibraries(L"/nonexistent-folder")) << Enc.LastError();  // falls back to the system
  EXPECT_FALSE(Enc.Version().empty());
}

TEST_F(Encoder, AddTaskOnAMissingFileLeavesTheListAlone) {
  ASSERT_EQ(Enc.AddTask(In("av.avi")), 0) << Enc.LastError();
  EXPECT_EQ(Enc.AddTask(In("missing.avi")), -1);
  EXPECT_NE(Enc.LastError().find("missing.avi"), std::string::npos) << Enc.LastError();
  EXPECT_EQ(Enc.TaskCount(), 1);
  EXPECT_FALSE(Enc.AddInputFile(0, In("missing.avi")));
  EXPECT_EQ(Enc.Task(0)->InputCount(), 1);
  EXPECT_FALSE(Enc.AddInputFile(5, In("av.avi")));
  EXPECT_EQ(Enc.AddTask(In("v.avi")), 1);
}

TEST_F(Encoder, CapacityTextsNameTheLimit) {
  ASSERT_EQ(Enc.AddTask(In("v.avi")), 0) << Enc.LastError();
  for (int i = 1; i < 20; ++i) ASSERT_TRUE(Enc.AddInputFile(0, In("v.avi"))) << i << ": " << Enc.LastError();
  EXPECT_FALSE(Enc.AddInputFile(0, In("v.avi")));
  EXPECT_EQ(Enc.LastError(), "max input files 20 reached");
  EXPECT_EQ(Enc.Task(0)->InputCount(), 20);

  Enc.ClearTasks();
  Enc.MaxFiles = 1;
  ASSERT_EQ(Enc.AddTask(In("v.avi")), 0) << Enc.LastError();
  EXPECT_FALSE(Enc.AddInputFile(0, In("v.avi")));
  EXPECT_EQ(Enc.LastError(), "max input files 1 reached");
  ASSERT_TRUE(Enc.SetOutputFile(0, Out("cap1.avi"))) << Enc.LastError();
  EXPECT_FALSE(Enc.SetOutputFile(0, Out("cap2.avi")));
  EXPECT_EQ(Enc.LastError(), "max output files 1 reached");
}

TEST_F(Encoder, InputOptionsReachTheTranscoder) {
  TInputOptions o;
  o.FileFormat = "avi";
  // "vf" is an output matter and is held back; "itsoffset" applies to this input.
  o.ExtOptions = "itsoffset=1.5<CRLF>vf=hflip";
  ASSERT_EQ(Enc.AddTask(In("v.avi"), o), 0) << Enc.LastError();
  TFFmpeg* task = Enc.Task(0);
  EXPECT_EQ(task->Input(0).InputTsOffset, 1500000);
  EXPECT_EQ(task->Options().VFilters, "");
  ASSERT_NE(task->InputOptions(0), nullptr);
  EXPECT_EQ(task->InputOptions(0)->FileName, In("v.avi"));  // filled from the call

  o.FileFormat = "no_such_format";
  EXPECT_FALSE(Enc.AddInputFile(0, In("v.avi"), o));
  EXPECT_NE(Enc.LastError().find("no_such_format"), std::string::npos) << Enc.LastError();
  EXPECT_EQ(task->InputCount(), 1);
  // The failed input's record was reset.
  ASSERT_NE(task->InputOptions(1), nullptr);
  EXPECT_TRUE(task->InputOptions(1)->FileFormat.empty());

  o.Reset();
  o.ExtOptions = "no_such_option=1";
  EXPECT_EQ(Enc.AddTask(In("v.avi"), o), -1);
  EXPECT_NE(Enc.LastError().find("no_such_option"), std::string::npos) << Enc.LastError();
  EXPECT_EQ(Enc.TaskCount(), 1);
}

struct TStreamDesc {
  AVMediaType Kind;
  std::string Codec;
  int Width = 0, Height = 0;
  bool operator==(const TStreamDesc&) const = default;
};

std::vector<TStreamDesc> Streams(TOutputFile& out) {
  std::vector<TStreamDesc> s;
  for (const auto& st : out.Streams) {
    TStreamDesc d{st.Kind, st.Codec ? st.Codec->name : "", 0, 0};
    if (st.Kind == AVMEDIA_TYPE_VIDEO && st.Enc) {
      d.Width = st.Enc->width;
      d.Height = st.Enc->height;
    }
    s.push_back(d);
  }
  return s;
}

TEST_F(Encoder, OutputOptionsBuildTheStreams) {
  struct TCase {
    const char* Name;
    std::function<void(TOutputOptions&)> Fill;
    std::vector<TStreamDesc> Expected;
  } cases[] = {
      {"record fields",
       [](TOutputOptions& o) {
         o.VideoCodec = "msmpeg4v2";
         o.AudioCodec = "adpcm_ms";
         o.FrameSize = "320x240";
         o.VideoBitrate = 800000;
       },
       {{AVMEDIA_TYPE_VIDEO, "msmpeg4v2", 320, 240}, {AVMEDIA_TYPE_AUDIO, "adpcm_ms"}}},
      {"option text codecs and size",
       [](TOutputOptions& o) { o.ExtOptions = "VCODEC=mpeg4<CRLF>acodec=pcm_s16le<CRLF>s=80x60<CRLF>b=300k"; },
       {{AVMEDIA_TYPE_VIDEO, "mpeg4", 80, 60}, {AVMEDIA_TYPE_AUDIO, "pcm_s16le"}}},
      {"record wins over the text; the text's line serves the added stream",
       [](TOutputOptions& o) {
         o.VideoCodec = "msmpeg4v2";
         o.ExtOptions = "vcodec=mpeg4\nan\nnewvideo";
       },
       {{AVMEDIA_TYPE_VIDEO, "msmpeg4v2", 160, 120}, {AVMEDIA_TYPE_VIDEO, "mpeg4", 160, 120}}},
      {"second codec line goes to the added stream",
       [](TOutputOptions& o) { o.ExtOptions = "vcodec=mpeg4\nvcodec=msmpeg4v2\ns=80x60\ns=32x24\nan\nnewvideo"; },
       {{AVMEDIA_TYPE_VIDEO, "mpeg4", 80, 60}, {AVMEDIA_TYPE_VIDEO, "msmpeg4v2", 32, 24}}},
      {"added streams fall back to the defaults",
       [](TOutputOptions& o) {
         o.AudioCodec = "adpcm_ms";
         o.VideoCodec = "mpeg4";
         o.ExtOptions = "newaudio";
       },
       {{AVMEDIA_TYPE_VIDEO, "mpeg4", 160, 120}, {AVMEDIA_TYPE_AUDIO, "adpcm_ms"}, {AVMEDIA_TYPE_AUDIO, "adpcm_ms"}}},
      {"disable audio",
       [](TOutputOptions& o) {
         o.VideoCodec = "mpeg4";
         o.DisableAudio = true;
       },
       {{AVMEDIA_TYPE_VIDEO, "mpeg4", 160, 120}}},
      {"vcd target, norm from the default",
       [](TOutputOptions& o) {
         o.Target = 1;
         o.TargetDefaultNorm = 2;
       },
       {{AVMEDIA_TYPE_VIDEO, "mpeg1video", 352, 240}, {AVMEDIA_TYPE_AUDIO, "mp2"}}},
      {"vcd target, pal norm",
       [](TOutputOptions& o) {
         o.Target = 1;
         o.TargetNorm = 1;
       },
       {{AVMEDIA_TYPE_VIDEO, "mpeg1video", 352, 288}, {AVMEDIA_TYPE_AUDIO, "mp2"}}},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Enc.ClearTasks();
    ASSERT_EQ(Enc.AddTask(In("av.avi")), 0) << Enc.LastError();
    TOutputOptions o;
    c.Fill(o);
    const std::string ext = o.Target ? ".mpg" : ".avi";
    ASSERT_TRUE(Enc.SetOutputFile(0, Out("out" + std::to_string(n++) + ext), o)) << Enc.LastError();
    EXPECT_EQ(Streams(Enc.Task(0)->Output(0)), c.Expected);
  }
}

TEST_F(Encoder, RecordDefaultsDoNotUndoTheOptionText) {
  ASSERT_EQ(Enc.AddTask(In("av.avi")), 0) << Enc.LastError();
  TOutputOptions o;
  o.ExtOptions = "async=1\nvsync=0\nisync\nalang=eng";
  ASSERT_TRUE(Enc.SetOutputFile(0, Out("keep.avi"), o)) << Enc.LastError();
  const TPendingOptions& p = Enc.Task(0)->Options();
  EXPECT_EQ(p.AudioSyncMethod, 1);
  EXPECT_EQ(p.VideoSyncMethod, 0);
  EXPECT_TRUE(p.InputSync);
}

TEST_F(Encoder, OutputFailuresReportTheirText) {
  struct TCase {
    const char* Name;
    std::function<void(TOutputOptions&)> Fill;
    std::string Expected;
  } cases[] = {
      {"bits", [](TOutputOptions& o) { o.HookBitmapBits = 12; }, "Invalid BitsPixel 12"},
      {"frame rate", [](TOutputOptions& o) { o.FrameRate = "fast"; }, "Incorrect frame rate"},
      {"aspect", [](TOutputOptions& o) { o.AspectRatio = "wide"; }, "Incorrect aspect ratio specification."},
      {"option", [](TOutputOptions& o) { o.ExtOptions = "bogus_option=3"; }, "bogus_option"},
      {"codec", [](TOutputOptions& o) { o.VideoCodec = "no_such_codec"; }, "no_such_codec"},
      // Fails after the file was opened: what was opened is closed and the empty file removed.
      {"added stream's codec", [](TOutputOptions& o) { o.ExtOptions = "vcodec=mpeg4\nvcodec=no_such_codec\nnewvideo"; },
       "no_such_codec"},
  };
  ASSERT_EQ(Enc.AddTask(In("av.avi")), 0) << Enc.LastError();
  for (const auto& c : cases) {
    TOutputOptions o;
    c.Fill(o);
    EXPECT_FALSE(Enc.SetOutputFile(0, Out("bad.avi"), o)) << c.Name;
    EXPECT_NE(Enc.LastError().find(c.Expected), std::string::npos) << c.Name << ": " << Enc.LastError();
    EXPECT_EQ(Enc.Task(0)->OutputCount(), 0) << c.Name;
    EXPECT_FALSE(std::filesystem::exists(*Dir / "bad.avi")) << c.Name;
  }
  EXPECT_FALSE(Enc.SetOutputFile(0, W("/nonexistent-dir/x.avi")));
  EXPECT_FALSE(Enc.LastError().empty());
  // A file that was there before is the user's, even an empty one: a failed start leaves it.
  std::ofstream(*Dir / "kept.avi").close();
  TOutputOptions o;
  o.ExtOptions = "vcodec=mpeg4\nvcodec=no_such_codec\nnewvideo";
  EXPECT_FALSE(Enc.SetOutputFile(0, Out("kept.avi"), o));
  EXPECT_TRUE(std::filesystem::exists(*Dir / "kept.avi"));
}

TEST_F(Encoder, JoinMakesOneSlotPerInputAndSumsTheDurations) {
  ASSERT_EQ(Enc.AddTask(In("v.avi")), 0) << Enc.LastError();
  ASSERT_TRUE(Enc.AddInputFile(0, In("v.avi"))) << Enc.LastError();
  TOutputOptions o;
  o.VideoCodec = "mpeg4";
  o.Join = true;
  ASSERT_TRUE(Enc.SetOutputFile(0, Out("join.avi"), o)) << Enc.LastError();
  TFFmpeg* task = Enc.Task(0);
  EXPECT_EQ(task->OutputCount(), 2);
  EXPECT_NEAR(double(task->TotalDuration), 4e6, 1e5);
}

TEST_F(Encoder, PreviewFlagsReachEveryTask) {
  ASSERT_EQ(Enc.AddTask(In("v.avi")), 0) << Enc.LastError();
  Enc.SetPreviewBitmap(true);
  ASSERT_EQ(Enc.AddTask(In("v.avi")), 1) << Enc.LastError();
  EXPECT_EQ(Enc.Task(0)->PreviewFlags(), 2);
  EXPECT_EQ(Enc.Task(1)->PreviewFlags(), 2);
  Enc.SetPreview(true);
  EXPECT_EQ(Enc.Task(0)->PreviewFlags(), 3);
  Enc.SetPreviewBitmap(false);
  EXPECT_EQ(Enc.Task(1)->PreviewFlags(), 1);
}

TEST_F(Encoder, BeforeFindStreamInfoSeesTheTaskAndItsContext) {
  TFFmpeg* sender = nullptr;
  void* context = nullptr;
  Enc.OnBeforeFindStreamInfo = [&](TFFmpeg* s, void* ctx) {
    sender = s;
    context = ctx;
  };
  ASSERT_EQ(Enc.AddTask(In("v.avi")), 0) << Enc.LastError();
  EXPECT_EQ(sender, Enc.Task(0));
  EXPECT_EQ(context, Enc.Task(0)->Input(0).Context());
}

TEST_F(Encoder, StopBeforeStartOnlyClearsPending) {
  ASSERT_EQ(Enc.AddTask(In("v.avi")), 0) << Enc.LastError();
  Enc.Stop(true);
  EXPECT_FALSE(Enc.Working());
  EXPECT_FALSE(Enc.Task(0)->Finished);
  EXPECT_EQ(Enc.PendingCount(), 0);
  Enc.RemoveTask(0);
  EXPECT_EQ(Enc.TaskCount(), 0);
}

}  // namespace
}  // namespace qv
