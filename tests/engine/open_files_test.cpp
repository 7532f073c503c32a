// OpenInput / OpenOutput / PrepareJoin on real clips made by the ffmpeg command-line tool.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "engine/custom_ffmpeg.h"
#include "engine/engine_test_support.h"
#include "media/interrupt.h"
#include "media/main_thread.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

using test::MakeClip;
using test::TLogRecorder;

class OpenFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new test::TTempDir;
    const std::string v = "-f lavfi -i testsrc=duration=2:size=320x240:rate=25 ";
    MakeClip(*Dir / "av.avi", v + "-f lavfi -i sine=duration=2:sample_rate=44100 -c:v mpeg4 -c:a pcm_s16le");
    MakeClip(*Dir / "v.mkv", "-f lavfi -i testsrc=duration=3:size=160x120:rate=10 -c:v mpeg4");
    MakeClip(*Dir / "a.wav", "-f lavfi -i sine=duration=1.5:sample_rate=22050 -ac 1");
    MakeClip(*Dir / "p.ts", v + "-c:v mpeg2video -mpegts_service_id 5");
    std::ofstream(*Dir / "garbage.avi") << std::string(4096, '\x5a');
  }
  static void TearDownTestSuite() { delete Dir; }
  static std::string Path(const std::string& name) { return *Dir / name; }
  static test::TTempDir* Dir;
};
test::TTempDir* OpenFiles::Dir = nullptr;

std::vector<AVMediaType> Kinds(AVFormatContext* ctx) {
  std::vector<AVMediaType> kinds;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) kinds.push_back(ctx->streams[i]->codecpar->codec_type);
  return kinds;
}

std::vector<AVMediaType> OutputKinds(TOutputFile& out) {
  std::vector<AVMediaType> kinds;
  for (const auto& s : out.Streams) kinds.push_back(s.Kind);
  return kinds;
}

TEST_F(OpenFiles, InputsReplacePendingOptionsWithTheirValues) {
  struct TCase {
    const char* File;
    std::vector<AVMediaType> Kinds;
    std::int64_t DurationUs;
    int Width, Height;
    AVRational Rate;
    int SampleRate, Channels;
  };
  const TCase cases[] = {
      {"av.avi", {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}, 2000000, 320, 240, {25, 1}, 44100, 1},
      {"v.mkv", {AVMEDIA_TYPE_VIDEO}, 3000000, 160, 120, {10, 1}, 8000, 6},
      {"a.wav", {AVMEDIA_TYPE_AUDIO}, 1500000, 8, 6, {3, 1}, 22050, 1},
  };
  for (const auto& c : cases) {
    TCustomFFmpeg e;
    // Values the input must replace where it has the kind, and leave where it has not.
    e.SetOption("s", "8x6");
    e.SetOption("r", "3");
    e.SetOption("ar", "8000");
    e.SetOption("ac", "6");
    e.SetOption("vcodec", "mpeg4");  // a decoder name for this input, used up by the open
    ASSERT_TRUE(e.OpenInput(Path(c.File))) << c.File << ": " << e.LastError();
    TInputFile& in = e.Input(0);
    EXPECT_EQ(Kinds(in.Context()), c.Kinds) << c.File;
    EXPECT_NEAR(double(in.Context()->duration), double(c.DurationUs), 60000) << c.File;
    EXPECT_NEAR(double(e.TotalDuration), double(c.DurationUs), 60000) << c.File;
    const TPendingOptions& o = e.Options();
    EXPECT_EQ(o.FrameWidth, c.Width) << c.File;
    EXPECT_EQ(o.FrameHeight, c.Height) << c.File;
    EXPECT_EQ(av_cmp_q(o.FrameRate, c.Rate), 0) << c.File << " " << o.FrameRate.num << "/" << o.FrameRate.den;
    EXPECT_EQ(o.AudioSampleRate, c.SampleRate) << c.File;
    EXPECT_EQ(o.AudioChannels, c.Channels) << c.File;
    EXPECT_TRUE(o.VideoCodecName.empty());
    ASSERT_EQ(in.DecoderContexts.size(), c.Kinds.size());
    if (c.Kinds[0] == AVMEDIA_TYPE_VIDEO) {
      ASSERT_NE(in.Decoders[0], nullptr);
      EXPECT_STREQ(in.Decoders[0]->name, "mpeg4");
      EXPECT_NEAR(o.FrameAspectRatio, double(c.Width) / c.Height, 1e-6);
    }
    // The run reads through the input record.
    AVPacket* pkt = ff::av_packet_alloc();
    EXPECT_GT(in.ReadPacket(pkt), -1) << c.File;
    EXPECT_GT(pkt->size, 0);
    ff::av_packet_free(&pkt);
  }
}

TEST_F(OpenFiles, TotalDurationIsTheLongestInput) {
  TCustomFFmpeg e;
  ASSERT_TRUE(e.OpenInput(Path("av.avi")));
  ASSERT_TRUE(e.OpenInput(Path("v.mkv")));
  ASSERT_TRUE(e.OpenInput(Path("a.wav")));
  EXPECT_EQ(e.InputCount(), 3);
  EXPECT_NEAR(double(e.TotalDuration), 3e6, 60000);
  // A recording time shorter than the inputs is the run's length.
  TCustomFFmpeg f;
  f.SetOption("t", "1");
  ASSERT_TRUE(f.OpenInput(Path("v.mkv")));
  EXPECT_EQ(f.TotalDuration, 1000000);
}

TEST_F(OpenFiles, FailedInputsKeepThePendingOptions) {
  struct TCase {
    std::string File;
    const char* Format;
    std::string Error;  // LastError starts with this
  };
  const TCase cases[] = {
      {Path("missing.avi"), "", Path("missing.avi") + ": No such file or directory"},
      {Path("garbage.avi"), "", Path("garbage.avi") + ": "},
      {Path("a.wav"), "avi", Path("a.wav") + ": "},
      {Path("av.avi"), "", "Unknown decoder 'nosuchdecoder'"},
      {std::string(3000, 'x'), "", "File name too long"},
  };
  for (const auto& c : cases) {
    TCustomFFmpeg e;
    if (*c.Format) e.SetOption("f", c.Format);
    e.SetOption("ss", "1");
    e.SetOption("programid", "3");
    e.SetOption("itsscale", "0:2");
    e.SetOption("acodec", c.Error.rfind("Unknown decoder", 0) == 0 ? "nosuchdecoder" : "pcm_s16le");
    EXPECT_FALSE(e.OpenInput(c.File)) << c.File;
    EXPECT_EQ(e.LastError().rfind(c.Error, 0), 0u) << e.LastError();
    EXPECT_EQ(e.InputCount(), 0);
    const TPendingOptions& o = e.Options();
    EXPECT_EQ(o.StartTime, 1000000);
    EXPECT_EQ(o.OptProgramId, 3);
    EXPECT_DOUBLE_EQ(o.TsScale[0], 2.0);
    EXPECT_EQ(o.FormatName, c.Format);
    EXPECT_FALSE(o.AudioCodecName.empty());
  }
  TCustomFFmpeg e;
  e.SetOption("f", "nosuchformat");
  try {
    e.OpenInput(Path("av.avi"));
    ADD_FAILURE() << "an unknown format must raise";
  } catch (const FFmpegException& ex) {
    EXPECT_STREQ(ex.what(), "Unknown input format: \"nosuchformat\"");
  }
  e.SetOption("f", "wav");  // a forced library format
  EXPECT_TRUE(e.OpenInput(Path("a.wav"))) << e.LastError();
  EXPECT_TRUE(e.Options().FormatName.empty());
}

TEST_F(OpenFiles, ProgramIdSelectsTheProgramsStreams) {
  TCustomFFmpeg e;
  e.SetOption("programid", "7");
  EXPECT_FALSE(e.OpenInput(Path("p.ts")));
  EXPECT_EQ(e.LastError(), "Specified program id not found");
  e.SetOption("programid", "5");
  ASSERT_TRUE(e.OpenInput(Path("p.ts"))) << e.LastError();
  AVFormatContext* ctx = e.Input(0).Context();
  ASSERT_GE(ctx->nb_streams, 1u);
  EXPECT_NE(ctx->streams[0]->discard, AVDISCARD_ALL);
  EXPECT_EQ(e.Options().OptProgramId, 0);
}

TEST_F(OpenFiles, StartTimeSeeks) {
  TCustomFFmpeg e;
  e.SetOption("ss", "1.2");
  ASSERT_TRUE(e.OpenInput(Path("av.avi"))) << e.LastError();
  EXPECT_EQ(e.Options().StartTime, 0);
  EXPECT_EQ(e.Input(0).InputTsOffset, -1200000);
  AVFormatContext* ctx = e.Input(0).Context();
  AVPacket* pkt = ff::av_packet_alloc();
  std::int64_t firstVideoUs = -1;
  while (firstVideoUs < 0 && e.Input(0).ReadPacket(pkt) >= 0) {
    AVStream* st = ctx->streams[pkt->stream_index];
    if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
      firstVideoUs = ff::av_rescale_q(pkt->dts, st->time_base, AVRational{1, 1000000});
    ff::av_packet_unref(pkt);
  }
  ff::av_packet_free(&pkt);
  // mpeg4's key frames come every 12 frames: the backward seek lands on the one at 0.96 s.
  EXPECT_GE(firstVideoUs, 900000);
  EXPECT_LE(firstVideoUs, 1200000);
}

// A test device in the program's registry: a forced name it knows never reaches libavformat.
int TestDeviceHeader(AVFormatContext* ctx, TFormatParameters* ap) {
  AVStream* st = ff::avformat_new_stream(ctx, nullptr);
  if (!st) return AVERROR(ENOMEM);
  st->time_base = {1, 1000000};
  st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  st->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
  st->codecpar->width = ap->width ? ap->width : 16;
  st->codecpar->height = ap->height ? ap->height : 8;
  st->codecpar->format = AV_PIX_FMT_BGRA;
  st->r_frame_rate = st->avg_frame_rate = ap->time_base.num ? av_inv_q(ap->time_base) : AVRational{5, 1};
  if (std::string(ctx->url) == "fail=words") SetDeviceError(ctx, "The test grid is not plugged in.");
  return std::string(ctx->url).rfind("fail=", 0) == 0 ? AVERROR(EIO) : 0;
}
int TestDeviceRead(AVFormatContext* ctx, AVPacket* pkt) {
  const AVCodecParameters* p = ctx->streams[0]->codecpar;
  int size = p->width * p->height * 4;
  if (ff::av_new_packet(pkt, size) < 0) return AVERROR(ENOMEM);
  return size;
}
int TestDeviceClose(AVFormatContext*) { return 0; }
const TInputDevice kTestDevice = {"qvtestgrid", "test grid", 16, TestDeviceHeader, TestDeviceRead, TestDeviceClose,
                                  AVFMT_NOFILE};

TEST_F(OpenFiles, ForcedFormatFindsTheProgramsOwnDevice) {
  RegisterInputFormat(&kTestDevice);
  TCustomFFmpeg e;
  e.SetOption("f", "qvtestgrid");
  e.SetOption("s", "32x24");
  e.SetOption("r", "10");
  ASSERT_TRUE(e.OpenInput("cursor=1;showframe=0")) << e.LastError();
  TInputFile& in = e.Input(0);
  ASSERT_TRUE(in.IsDevice());
  EXPECT_STREQ(in.Context()->url, "cursor=1;showframe=0");
  EXPECT_EQ(Kinds(in.Context()), std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO});
  EXPECT_EQ(e.Options().FrameWidth, 32);
  EXPECT_EQ(av_cmp_q(e.Options().FrameRate, AVRational{10, 1}), 0);
  AVPacket* pkt = ff::av_packet_alloc();
  EXPECT_EQ(in.ReadPacket(pkt), 32 * 24 * 4);
  ff::av_packet_free(&pkt);

  // A failed open is told in the device's words, else by its name; never by its option string.
  const std::pair<const char*, const char*> failures[] = {{"fail=1", "qvtestgrid: I/O error"},
                                                          {"fail=words", "The test grid is not plugged in."}};
  for (const auto& [options, text] : failures) {
    e.SetOption("f", "qvtestgrid");
    EXPECT_FALSE(e.OpenInput(options));
    EXPECT_EQ(e.LastError(), text);
  }
  EXPECT_EQ(e.InputCount(), 1);
}

// A TCP peer that accepts and then says nothing: the open blocks in the demuxer's probe read.
class TSilentPeer {
 public:
  TSilentPeer() {
    Fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(Fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(Fd, reinterpret_cast<sockaddr*>(&a), &len);
    Port = ntohs(a.sin_port);
    listen(Fd, 4);
  }
  ~TSilentPeer() { close(Fd); }
  std::string Url() const { return "tcp://127.0.0.1:" + std::to_string(Port); }
  int Fd;
  int Port;
};

TEST_F(OpenFiles, BlockingOpenTimesOutOrIsCanceled) {
  TSilentPeer peer;
  const std::string fifo = Path("nobody-writes.fifo");  // opening it for reading waits for a writer
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& input : {peer.Url(), fifo}) {
    TLogRecorder log;
    TCustomFFmpeg e;
    e.IoTimeout = 300;
    e.SetOption("f", "mpegts");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(e.OpenInput(input)) << input;
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(s, 5.0);
    EXPECT_GE(s, 0.25);
    EXPECT_TRUE(log.Contains("connecting/reading/writing timeout")) << e.LastError();
    EXPECT_EQ(InterruptCB()->Count(CurrentThreadId()), 0);  // the watch is gone
    EXPECT_EQ(e.WatchStart.load(), kNoWatch);
  }
  {
    TLogRecorder log;
    TCustomFFmpeg e;
    e.SetOption("f", "mpegts");
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      e.WatchStart = 0;  // what Stop does for a task without a worker thread
    });
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(e.OpenInput(peer.Url()));
    stopper.join();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 5.0);
    EXPECT_TRUE(log.Contains("connecting/reading/writing canceled"));
  }
}

TEST_F(OpenFiles, OutputStreamKindsFollowTheInputs) {
  struct TCase {
    std::vector<const char*> Inputs;
    const char* Output;
    std::vector<AVMediaType> Kinds;
  };
  const TCase cases[] = {
      {{"av.avi"}, "o1.avi", {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}},
      {{"v.mkv"}, "o2.avi", {AVMEDIA_TYPE_VIDEO}},  // no audio input: no audio stream
      {{"a.wav"}, "o3.avi", {AVMEDIA_TYPE_AUDIO}},
      {{}, "o4.avi", {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}},  // no input: the format's defaults
      {{"v.mkv", "a.wav"}, "o5.mkv", {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}},
  };
  for (const auto& c : cases) {
    TCustomFFmpeg e;
    for (const char* in : c.Inputs) ASSERT_TRUE(e.OpenInput(Path(in))) << in;
    int index = e.OpenOutput(Path(c.Output));
    ASSERT_EQ(index, 0) << c.Output << ": " << e.LastError();
    EXPECT_EQ(OutputKinds(e.Output(0)), c.Kinds) << c.Output;
    EXPECT_EQ(int(e.Output(0).Ctx->nb_streams), int(c.Kinds.size()));
  }
  TCustomFFmpeg e;
  e.SetOption("an", "1");
  ASSERT_TRUE(e.OpenInput(Path("av.avi")));
  ASSERT_EQ(e.OpenOutput(Path("o6.avi")), 0) << e.LastError();
  EXPECT_EQ(OutputKinds(e.Output(0)), std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO});
  EXPECT_TRUE(e.Options().AudioDisable);  // only a new audio stream uses it up
}

TEST_F(OpenFiles, OutputFormatsAndTheirMessages) {
  struct TCase {
    const char* Format;
    std::string File;
    const char* Muxer;  // nullptr: must fail
    std::string Error;
  };
  const TCase cases[] = {
      {"", Path("x.mkv"), "matroska", ""},
      {"", Path("x.wav"), "wav", ""},
      {"wav", Path("x.dat"), "wav", ""},
      {"", Path("x.unknownext"), nullptr, "Unable to find a suitable output format for '" + Path("x.unknownext") + "'"},
      {"nosuchformat", Path("x.avi"), nullptr, "Requested output format 'nosuchformat' is not a suitable output format"},
      {"", Path("nodir/x.avi"), nullptr, Path("nodir/x.avi") + ": No such file or directory"},
      {"", Path("img.png"), "image2", ""},
      {"image2", Path("img.bmp"), "image2", ""},
      {"", Path(std::string(3000, 'y') + ".avi"), nullptr, "File name too long"},
  };
  for (const auto& c : cases) {
    TCustomFFmpeg e;
    if (*c.Format) e.SetOption("f", c.Format);
    int index = e.OpenOutput(c.File);
    if (c.Muxer) {
      ASSERT_EQ(index, 0) << c.File << ": " << e.LastError();
      EXPECT_STREQ(e.Output(0).Ctx->oformat->name, c.Muxer);
      EXPECT_TRUE(e.Options().FormatName.empty());
    } else {
      EXPECT_EQ(index, -1) << c.File;
      EXPECT_EQ(e.LastError().rfind(c.Error, 0), 0u) << e.LastError();
      EXPECT_EQ(e.OutputCount(), 0);
    }
  }
}

TEST_F(OpenFiles, OutputStreamsTakeThePendingOptions) {
  TCustomFFmpeg e;
  ASSERT_TRUE(e.OpenInput(Path("av.avi")));
  e.SetOption("vcodec", "msmpeg4v2");
  e.SetOption("acodec", "adpcm_ms");
  e.SetOption("s", "640x480");
  e.SetOption("r", "25");
  e.SetOption("ar", "22050");
  e.SetOption("vb", "800000");
  e.SetOption("metadata", "title=clip");
  e.SetOption("vlang", "eng");
  e.SetOption("streamid", "1:77");
  ASSERT_EQ(e.OpenOutput(Path("enc.avi")), 0) << e.LastError();
  TOutputFile& out = e.Output(0);
  ASSERT_EQ(out.Streams.size(), 2u);
  AVCodecContext* v = out.Streams[0].Enc.get();
  AVCodecContext* a = out.Streams[1].Enc.get();
  ASSERT_TRUE(v && a);
  EXPECT_EQ(v->codec_id, AV_CODEC_ID_MSMPEG4V2);
  EXPECT_EQ(v->width, 640);
  EXPECT_EQ(v->height, 480);
  EXPECT_EQ(av_cmp_q(v->time_base, AVRational{1, 25}), 0);
  EXPECT_EQ(v->pix_fmt, AV_PIX_FMT_YUV420P);  // the encoder's first, the input's was not asked for
  EXPECT_EQ(v->bit_rate, 800000);
  EXPECT_EQ(a->codec_id, AV_CODEC_ID_ADPCM_MS);
  EXPECT_EQ(a->sample_rate, 22050);
  EXPECT_EQ(a->sample_fmt, AV_SAMPLE_FMT_S16);
  EXPECT_EQ(out.Streams[1].St->id, 77);
  AVDictionaryEntry* lang = ff::av_dict_get(out.Streams[0].St->metadata, "language", nullptr, 0);
  ASSERT_NE(lang, nullptr);
  EXPECT_STREQ(lang->value, "eng");
  AVDictionaryEntry* title = ff::av_dict_get(out.Ctx->metadata, "title", nullptr, 0);
  ASSERT_NE(title, nullptr);
  EXPECT_STREQ(title->value, "clip");
  // Per-stream and per-file options are used up.
  EXPECT_TRUE(e.Options().VideoCodecName.empty());
  EXPECT_TRUE(e.Options().AudioCodecName.empty());
  EXPECT_TRUE(e.Options().VideoLanguage.empty());
  EXPECT_FALSE(e.Options().Metadata);
  EXPECT_TRUE(e.Options().StreamIdMap.empty());

  e.SetOption("acodec", "pcm_s16le");
  e.SetOption("newaudio", "");
  EXPECT_EQ(out.Streams.size(), 3u);
  EXPECT_EQ(out.Streams[2].Enc->codec_id, AV_CODEC_ID_PCM_S16LE);

  TCustomFFmpeg f;
  f.SetOption("vcodec", "nosuchcodec");
  EXPECT_EQ(f.OpenOutput(Path("bad.avi")), -1);
  EXPECT_EQ(f.LastError(), "new_video_stream fail: Unknown encoder 'nosuchcodec'");
  f.SetOption("vcodec", "copy");
  ASSERT_EQ(f.OpenOutput(Path("copy.avi")), 0) << f.LastError();
  EXPECT_TRUE(f.Output(0).Streams[0].StreamCopy);
  EXPECT_EQ(f.Output(0).Streams[0].Enc, nullptr);
}

TEST_F(OpenFiles, PresetReachesTheEncodersPrivateOptions) {
  TCustomFFmpeg e;
  e.SetOption("vcodec", "libx264");
  e.SetOption("vpre", "ipod320");  // libx264-ipod320 through the codec name, with its historical names
  e.SetOption("an", "1");
  ASSERT_EQ(e.OpenOutput(Path("x264.mkv")), 0) << e.LastError();
  AVCodecContext* enc = e.Output(0).Streams[0].Enc.get();
  ASSERT_NE(enc, nullptr);
  EXPECT_EQ(enc->level, 13);
  EXPECT_EQ(enc->rc_max_rate, 768000);
  std::int64_t v = -5;
  ASSERT_GE(ff::av_opt_get_int(enc->priv_data, "8x8dct", 0, &v), 0);
  EXPECT_EQ(v, 0);
  ASSERT_GE(ff::av_opt_get_int(enc->priv_data, "weightb", 0, &v), 0);
  EXPECT_EQ(v, 0);
  ASSERT_GE(ff::av_opt_get_int(enc->priv_data, "coder", 0, &v), 0);
  EXPECT_EQ(v, 0);
}

TEST_F(OpenFiles, JoinMode) {
  TCustomFFmpeg e;
  ASSERT_TRUE(e.OpenInput(Path("av.avi")));
  ASSERT_TRUE(e.OpenInput(Path("v.mkv")));
  ASSERT_EQ(e.OpenOutput(Path("joined.avi"), true), 0) << e.LastError();
  EXPECT_TRUE(e.JoinMode);
  // The first input decides the kinds in join mode.
  EXPECT_EQ(OutputKinds(e.Output(0)), (std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}));
  EXPECT_EQ(e.OpenOutput(Path("second.avi")), -1);
  EXPECT_EQ(e.LastError(), "Cannot join more than one output file.");
  e.PrepareJoin();
  ASSERT_EQ(e.OutputCount(), 2);
  EXPECT_EQ(e.Output(1).Ctx, e.Output(0).Ctx);
  EXPECT_FALSE(e.Output(1).Owner);
  EXPECT_EQ(e.Output(1).Streams.size(), e.Output(0).Streams.size());
  EXPECT_NEAR(double(e.TotalDuration), 5e6, 100000);
  e.CloseFiles();
  EXPECT_EQ(e.OutputCount(), 0);
  EXPECT_FALSE(e.JoinMode);

  // One input only: join asks for nothing more.
  TCustomFFmpeg f;
  ASSERT_TRUE(f.OpenInput(Path("av.avi")));
  ASSERT_EQ(f.OpenOutput(Path("single.avi"), true), 0);
  EXPECT_FALSE(f.JoinMode);
}

}  // namespace
}  // namespace qv
