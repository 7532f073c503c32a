#include "media/input_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "media/ff_api.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

// What a test device keeps in the state the host allocates for it.
struct TTestState {
  int Opened;
  int Packets;
  unsigned char Rest[248];
};

struct TTestLog {
  int HeaderCalls = 0;
  int CloseCalls = 0;
  bool StateWasZero = false;
  bool StateSeenAtClose = false;
  std::string Url;
  int FailWith = 0;  // read_header result when non-zero
};
TTestLog Log;

bool AllZero(const void* p, size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < n; ++i)
    if (b[i]) return false;
  return true;
}

// "rate=N/D" gives the stream an average frame rate; without it the device leaves the frame period in
// the parameters only, as the screen device does.
int VideoReadHeader(AVFormatContext* ctx, TFormatParameters* ap) {
  ++Log.HeaderCalls;
  Log.Url = ctx->url;
  Log.StateWasZero = ctx->priv_data && AllZero(ctx->priv_data, sizeof(TTestState));
  AVStream* st = ff::avformat_new_stream(ctx, nullptr);
  if (!st) return AVERROR(ENOMEM);
  if (Log.FailWith) return Log.FailWith;  // the stream stays with the context the host frees
  st->time_base = {1, 1000000};
  st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  st->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
  st->codecpar->width = 4;
  st->codecpar->height = 2;
  st->codecpar->format = AV_PIX_FMT_BGRA;
  int num = 0, den = 0;
  if (std::sscanf(ctx->url, "rate=%d/%d", &num, &den) == 2) st->avg_frame_rate = {num, den};
  ap->time_base = {1, 25};
  static_cast<TTestState*>(ctx->priv_data)->Opened = 1;
  return 0;
}

int AudioReadHeader(AVFormatContext* ctx, TFormatParameters*) {
  ++Log.HeaderCalls;
  AVStream* st = ff::avformat_new_stream(ctx, nullptr);
  if (!st) return AVERROR(ENOMEM);
  st->time_base = {1, 1000000};
  st->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
  st->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
  st->codecpar->format = AV_SAMPLE_FMT_S16;
  st->codecpar->sample_rate = 44100;
  ff::av_channel_layout_default(&st->codecpar->ch_layout, 2);
  return 0;
}

int ReadPacket(AVFormatContext* ctx, AVPacket* pkt) {
  auto* state = static_cast<TTestState*>(ctx->priv_data);
  const int size = ctx->streams[0]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO ? 4096 : 32;
  if (ff::av_new_packet(pkt, size) < 0) return AVERROR(EIO);
  std::memset(pkt->data, state->Packets++, size);
  return size;
}

int ReadClose(AVFormatContext* ctx) {
  ++Log.CloseCalls;
  Log.StateSeenAtClose = ctx->priv_data && static_cast<TTestState*>(ctx->priv_data)->Opened == 1;
  return 0;
}

const TInputDevice kVideoDevice = {"testvideo", "Test video device", sizeof(TTestState), VideoReadHeader,
                                   ReadPacket, ReadClose, AVFMT_NOFILE};
const TInputDevice kAudioDevice = {"testaudio", "Test audio device", sizeof(TTestState), AudioReadHeader,
                                   ReadPacket, ReadClose, AVFMT_NOFILE};

// A device whose state is an object the host owns.
struct TObjectState : TDeviceState {
  TObjectState() { ++Live; }
  ~TObjectState() override { --Live; }
  static int Live;
  bool Opened = false;
};
int TObjectState::Live = 0;

int ObjectReadHeader(AVFormatContext* ctx, TFormatParameters*) {
  if (Log.FailWith) {
    SetDeviceError(ctx, "The test device cannot be opened.");
    return Log.FailWith;
  }
  DeviceState<TObjectState>(ctx)->Opened = true;
  return 0;
}

int ObjectReadPacket(AVFormatContext*, AVPacket*) { return AVERROR_EOF; }

int ObjectReadClose(AVFormatContext* ctx) {
  ++Log.CloseCalls;
  Log.StateSeenAtClose = DeviceState<TObjectState>(ctx)->Opened;
  return 0;
}

std::unique_ptr<TDeviceState> NewObjectState() { return std::make_unique<TObjectState>(); }

const TInputDevice kObjectDevice = {"testobject", "Test object device", 0, ObjectReadHeader, ObjectReadPacket,
                                    ObjectReadClose, AVFMT_NOFILE, NewObjectState};

class InputDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { Log = TTestLog(); }
};

TEST_F(InputDeviceTest, RegistersEachRecordOnce) {
  static char otherName[] = "testvideo";  // same text, another record
  static const TInputDevice kOther = {otherName, "", 0, VideoReadHeader, ReadPacket, ReadClose, AVFMT_NOFILE};
  RegisterInputFormat(&kVideoDevice);
  RegisterInputFormat(&kVideoDevice);
  RegisterInputFormat(&kAudioDevice);
  RegisterInputFormat(&kVideoDevice);
  RegisterInputFormat(&kOther);
  int video = 0, audio = 0, other = 0;
  for (const TInputDevice* d : RegisteredInputDevices()) {
    video += d == &kVideoDevice;
    audio += d == &kAudioDevice;
    other += d == &kOther;
  }
  EXPECT_EQ(video, 1);
  EXPECT_EQ(audio, 1);
  EXPECT_EQ(other, 1);
  EXPECT_EQ(FindInputDevice("testvideo"), &kVideoDevice);  // the first one registered wins
  EXPECT_EQ(FindInputDevice("TESTVIDEO"), nullptr);
  EXPECT_EQ(FindInputDevice("nosuchdevice"), nullptr);
}

TEST_F(InputDeviceTest, DeviceSeesZeroedStateAndUrlCutTo1023) {
  TDeviceInput in;
  const std::string url = "rate=25/1;" + std::string(2000, 'x');
  ASSERT_EQ(in.Open(&kVideoDevice, url, nullptr), 0);
  EXPECT_TRUE(Log.StateWasZero);
  EXPECT_EQ(Log.Url, url.substr(0, 1023));
  EXPECT_EQ(in.Device(), &kVideoDevice);
  ASSERT_NE(in.Context(), nullptr);
  in.Close();
  EXPECT_EQ(Log.CloseCalls, 1);
  EXPECT_TRUE(Log.StateSeenAtClose);  // the state is freed after read_close, not before
  EXPECT_EQ(in.Context(), nullptr);
  in.Close();  // idempotent, also in the destructor
  EXPECT_EQ(Log.CloseCalls, 1);
}

TEST_F(InputDeviceTest, VideoPacketsAreStampedByFramePeriod) {
  struct Case {
    const char* url;
    std::int64_t period;  // µs, rounded
    std::int64_t pts2;    // third frame, from its index
  };
  const Case cases[] = {
      {"rate=25/1", 40000, 80000},
      {"rate=30000/1001", 33367, 66733},
      {"", 40000, 80000},  // no stream rate: the frame period the device left in its parameters
  };
  for (const Case& c : cases) {
    TDeviceInput in;
    TFormatParameters ap;
    ASSERT_EQ(in.Open(&kVideoDevice, c.url, &ap), 0);
    AVPacket* pkt = ff::av_packet_alloc();
    std::int64_t pts[3];
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(in.ReadPacket(pkt), 32);
      pts[i] = pkt->pts;
      EXPECT_EQ(pkt->dts, pkt->pts);
      EXPECT_EQ(pkt->duration, c.period) << c.url;
      EXPECT_TRUE(pkt->flags & AV_PKT_FLAG_KEY);
      ff::av_packet_unref(pkt);
    }
    EXPECT_EQ(pts[0], 0) << c.url;
    EXPECT_EQ(pts[1], c.period) << c.url;
    EXPECT_EQ(pts[2], c.pts2) << c.url;
    ff::av_packet_free(&pkt);
  }
}

TEST_F(InputDeviceTest, AudioPacketsAreStampedBySampleCount) {
  TDeviceInput in;
  ASSERT_EQ(in.Open(&kAudioDevice, "", nullptr), 0);
  AVPacket* pkt = ff::av_packet_alloc();
  // 4096 bytes of 16-bit stereo are 1024 samples at 44100 Hz.
  const std::int64_t expected[] = {0, 23220, 46440, 69660};
  for (std::int64_t e : expected) {
    ASSERT_EQ(in.ReadPacket(pkt), 4096);
    EXPECT_EQ(pkt->pts, e);
    EXPECT_EQ(pkt->dts, e);
    EXPECT_NEAR(double(pkt->duration), 23219.95, 1.0);
    ff::av_packet_unref(pkt);
  }
  ff::av_packet_free(&pkt);
}

TEST_F(InputDeviceTest, FailedOpenLeavesNothingOpen) {
  Log.FailWith = AVERROR(EIO);
  TDeviceInput in;
  EXPECT_EQ(in.Open(&kVideoDevice, "rate=25/1", nullptr), AVERROR(EIO));
  EXPECT_EQ(in.Context(), nullptr);
  EXPECT_EQ(in.Device(), nullptr);
  EXPECT_EQ(Log.CloseCalls, 0);  // like the library's demuxers: no close after a failed open
  AVPacket* pkt = ff::av_packet_alloc();
  EXPECT_EQ(in.ReadPacket(pkt), AVERROR(EINVAL));
  ff::av_packet_free(&pkt);

  // The same object opens fine afterwards, and reopening closes the previous device first.
  Log.FailWith = 0;
  ASSERT_EQ(in.Open(&kVideoDevice, "rate=25/1", nullptr), 0);
  ASSERT_EQ(in.Open(&kAudioDevice, "", nullptr), 0);
  EXPECT_EQ(Log.CloseCalls, 1);
  EXPECT_EQ(in.Device(), &kAudioDevice);
}

// The object lives from before read_header until after read_close, or until a failed open returns
// with its reason in words.
TEST_F(InputDeviceTest, ObjectStateLivesFromOpenToClose) {
  TDeviceInput in;
  ASSERT_EQ(in.Open(&kObjectDevice, "", nullptr), 0);
  EXPECT_EQ(TObjectState::Live, 1);
  in.Close();
  EXPECT_TRUE(Log.StateSeenAtClose);
  EXPECT_EQ(TObjectState::Live, 0);

  Log.FailWith = AVERROR(EIO);
  EXPECT_EQ(in.Open(&kObjectDevice, "", nullptr), AVERROR(EIO));
  EXPECT_EQ(TObjectState::Live, 0);
  EXPECT_EQ(in.ErrorText(), "The test device cannot be opened.");
  EXPECT_EQ(Log.CloseCalls, 1);
}

}  // namespace
}  // namespace qv
