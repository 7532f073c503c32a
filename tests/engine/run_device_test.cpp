// A run that reads one of the program's own input devices (no libavformat demuxer behind it) and the
// progress reports of a run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "engine/run_test_support.h"
#include "media/input_device.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

using namespace test;
using namespace std::chrono_literals;

// A device that hands out small grey pictures. Its option string "frames=N;eagain=M[;fail=K;words=W]":
// M = 0 never answers "try again", 1 every other call, 2 always (a source that has nothing yet); after
// K pictures the read fails, said in words when W is 1 (a source that went away).
struct TState {
  int Frames, Eagain, Fail, Words, Sent, Calls;
};
std::atomic<int> gReadCalls{0};

int ReadHeader(AVFormatContext* ctx, TFormatParameters*) {
  auto* s = static_cast<TState*>(ctx->priv_data);
  const int n = std::sscanf(ctx->url, "frames=%d;eagain=%d;fail=%d;words=%d", &s->Frames, &s->Eagain, &s->Fail,
                            &s->Words);
  if (n < 2) return AVERROR(EINVAL);
  if (n < 3) s->Fail = -1;
  AVStream* st = ff::avformat_new_stream(ctx, nullptr);
  if (!st) return AVERROR(ENOMEM);
  st->time_base = {1, 1000000};
  st->avg_frame_rate = {25, 1};
  st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  st->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
  st->codecpar->width = 64;
  st->codecpar->height = 48;
  st->codecpar->format = AV_PIX_FMT_GRAY8;
  return 0;
}

int ReadPacket(AVFormatContext* ctx, AVPacket* pkt) {
  auto* s = static_cast<TState*>(ctx->priv_data);
  ++gReadCalls;
  if (s->Eagain == 2 || (s->Eagain == 1 && (s->Calls++ & 1))) return AVERROR(EAGAIN);
  if (s->Sent == s->Fail) {
    if (s->Words) SetDeviceError(ctx, "The test source went away.");
    return AVERROR(EIO);
  }
  if (s->Sent >= s->Frames) return AVERROR_EOF;
  if (ff::av_new_packet(pkt, 64 * 48) < 0) return AVERROR(ENOMEM);
  std::memset(pkt->data, 40 + (s->Sent * 4) % 180, 64 * 48);
  ++s->Sent;
  return pkt->size;
}

int ReadClose(AVFormatContext*) { return 0; }

const TInputDevice kDevice = {"runtestdevice", "Run test device", sizeof(TState), ReadHeader, ReadPacket, ReadClose,
                              AVFMT_NOFILE};

class RunDevice : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterInputFormat(&kDevice);
    Dir = new TTempDir;
    MakeClip(*Dir / "src.mkv", "-f lavfi -i testsrc=duration=5:size=320x240:rate=25 -pix_fmt yuv420p -c:v ffv1");
  }
  static void TearDownTestSuite() { delete Dir; }
  static std::string Path(const std::string& name) { return *Dir / name; }
  static TTempDir* Dir;
};
TTempDir* RunDevice::Dir = nullptr;

TEST_F(RunDevice, DeviceFramesAnsweringTryAgainBecomeAnAvi) {
  const std::string out = Path("device.avi");
  TCustomFFmpeg e;
  TTerminateProbe probe;
  probe.Attach(e);
  OpenAll(e, {{{{"f", "runtestdevice"}}, "frames=50;eagain=1"}}, {{"vcodec", "msmpeg4v2"}}, out);
  e.Start(false);
  ASSERT_FALSE(probe.Failed) << probe.Text;
  EXPECT_TRUE(probe.Completed);
  EXPECT_EQ(FrameCount(out), 50);
  EXPECT_NEAR(Duration(out), 2.0, 0.1);
  EXPECT_EQ(Probe(out, "stream=width,height", "v:0"), "64\n48");
}

TEST_F(RunDevice, AFailingInputEndsTheRunFailedInItsOwnWordsAndTheFileIsKept) {
  struct TCase {
    const char* Options;
    const char* Reason;   // alone, for a sentence to the user
    const char* Message;  // which input, by its format: its option string tells the user nothing
  } cases[] = {
      {"frames=100;eagain=0;fail=25;words=1", "The test source went away.",
       "Input #0 failed: runtestdevice: The test source went away."},
      {"frames=100;eagain=0;fail=25;words=0", "runtestdevice: I/O error", "Input #0 failed: runtestdevice: I/O error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Options);
    const std::string out = Path("failed.avi");
    TLogRecorder log;
    TCustomFFmpeg e;
    TTerminateProbe probe;
    probe.Attach(e);
    OpenAll(e, {{{{"f", "runtestdevice"}}, c.Options}}, {{"vcodec", "msmpeg4v2"}}, out);
    e.Start(false);
    EXPECT_EQ(probe.Count, 1);
    EXPECT_TRUE(probe.Failed);
    EXPECT_FALSE(probe.Completed);
    EXPECT_EQ(e.FailReason, c.Reason);
    EXPECT_EQ(e.FailedInput, 0);
    EXPECT_EQ(probe.Text, c.Message);
    EXPECT_TRUE(log.Contains("[transcoder @ 0x")) << "the engine's lines say who speaks";
    EXPECT_TRUE(log.Contains("] " + probe.Text));
    // Flushed and finished: the second before the failure is in a file ffprobe reads.
    EXPECT_EQ(FrameCount(out), 25);
    EXPECT_NEAR(Duration(out), 1.0, 0.1);
  }
}

TEST_F(RunDevice, AnInputThatAlwaysSaysTryAgainSleepsUntilStopped) {
  TCustomFFmpeg e;
  TTerminateProbe probe;
  probe.Attach(e);
  OpenAll(e, {{{{"f", "runtestdevice"}}, "frames=50;eagain=2"}}, {{"vcodec", "msmpeg4v2"}}, Path("idle.avi"));
  TConvertThread* worker = e.Start(true);
  ASSERT_NE(worker, nullptr);
  gReadCalls = 0;
  worker->Resume();
  std::this_thread::sleep_for(500ms);
  const int calls = gReadCalls;
  e.Stop(true);
  // One read per 10 ms round, not a busy loop (which would make hundreds of thousands).
  EXPECT_GE(calls, 5);
  EXPECT_LE(calls, 60);
  EXPECT_EQ(probe.Count, 1);
  EXPECT_FALSE(probe.Failed) << probe.Text;
  EXPECT_FALSE(probe.Completed);
}

TEST_F(RunDevice, ProgressReportsAndTheFinalStatistics) {
  struct TReport {
    int File;
    std::int64_t Total, Time, Size;
    int Frame;
  };
  for (bool recordingTime : {false, true}) {
    SCOPED_TRACE(recordingTime ? "t=2" : "whole clip");
    const std::string out = Path("progress.avi");
    TLogRecorder log;
    TCustomFFmpeg e;
    std::vector<TReport> reports;
    e.OnProgress = [&](TCustomFFmpeg&, int file, std::int64_t total, std::int64_t time, std::int64_t size, double,
                       double, int, int frame) { reports.push_back({file, total, time, size, frame}); };
    e.ProgressIntervalUs = 0;  // a report after every packet
    TOptionList opts = {{"vcodec", "msmpeg4v2"}};
    if (recordingTime) opts.push_back({"t", "2"});
    OpenAll(e, {{{}, Path("src.mkv")}}, opts, out);
    e.Start(false);
    ASSERT_FALSE(e.Failed) << e.FailText;
    ASSERT_GE(reports.size(), 10u);
    const int frames = recordingTime ? 50 : 125;
    const TReport& last = reports.back();
    EXPECT_EQ(last.File, -1);
    EXPECT_EQ(last.Frame, frames);
    EXPECT_EQ(last.Total, recordingTime ? 2000000 : 5000000);
    EXPECT_NEAR(double(last.Time), frames * 40000.0, 40000);
    EXPECT_EQ(last.Size, std::int64_t(std::filesystem::file_size(out)));
    for (size_t i = 0; i + 1 < reports.size(); ++i) {
      EXPECT_EQ(reports[i].File, 0);
      EXPECT_GE(reports[i].Frame, 1) << "no report before the first frame";
      EXPECT_LE(reports[i].Frame, reports[i + 1].Frame);
    }
    EXPECT_TRUE(log.Contains("video:")) << "final statistics";
    EXPECT_TRUE(log.Contains("kB audio:0kB global headers:0kB muxing overhead "));
  }
}

TEST_F(RunDevice, WithoutAProgressEventLinesAreLoggedTwiceASecond) {
  TLogRecorder log;
  const TLogLevel level = GetLogger()->LogLevel();
  GetLogger()->SetLogLevel(llVerbose);
  TCustomFFmpeg e;
  OpenAll(e, {{{{"re", "1"}}, Path("src.mkv")}}, {{"vcodec", "msmpeg4v2"}, {"t", "2.2"}}, Path("lines.avi"));
  e.Start(false);
  GetLogger()->SetLogLevel(level);
  int lines = 0, last = 0;
  {
    std::lock_guard<std::mutex> lock(log.Lock);
    for (const auto& l : log.Lines) {
      if (l.find("] frame=") == std::string::npos) continue;
      ++lines;
      if (l.find(" L") != std::string::npos || l.find("Lsize=") != std::string::npos) ++last;
    }
  }
  // 2.2 s of input read at its own pace: four reports at 0.5 s intervals, then the last one.
  EXPECT_GE(lines, 4);
  EXPECT_LE(lines, 6);
  EXPECT_EQ(last, 1);
}

}  // namespace
}  // namespace qv
