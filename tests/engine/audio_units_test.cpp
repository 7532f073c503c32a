// The audio path's decisions on their own: the sync step for a measured gap, the buffer sizing with
// its limit, and the volume arithmetic on every sample format it scales.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "engine/audio_path.h"
#include "engine/ffmpeg_exception.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

TEST(AudioSyncDecision, GapsBecomeDropsSilenceOrCompensation) {
  using K = TAudioSyncStep;
  struct TCase {
    int Method;
    double Delta;
    bool Start;
    int EncRate, DecRate;
    double Threshold;
    K::TKind Kind;
    std::int64_t Samples;
    int Comp;
  };
  const TCase cases[] = {
      {0, 22050, true, 44100, 44100, 0.1, K::kNone, 0, 0},          // method 0 never corrects
      {1, 40, true, 44100, 44100, 0.1, K::kNone, 0, 0},             // within the tolerance
      {1, -40, true, 44100, 44100, 0.1, K::kNone, 0, 0},
      {2, 40, false, 44100, 44100, 0.1, K::kNone, 0, 0},
      {1, 50, true, 44100, 44100, 0.1, K::kNone, 0, 0},             // the tolerance itself
      {1, 22050, true, 44100, 44100, 0.1, K::kInsert, 22050, 0},    // audio starts 0.5 s late
      {1, 11025, true, 22050, 44100, 0.1, K::kInsert, 22050, 0},    // counted at the decoder rate
      {1, -300.7, true, 44100, 44100, 0.1, K::kDrop, 300, 0},       // truncated, not rounded
      {1, 300, false, 44100, 44100, 0.1, K::kNone, 0, 0},           // small drift, method 1: left
      {1, 5000, false, 44100, 44100, 0.1, K::kInsert, 5000, 0},     // beyond 0.1 s: hard
      {1, -5000, false, 44100, 44100, 0.1, K::kDrop, 5000, 0},
      {1, 500, false, 44100, 44100, 0.01, K::kInsert, 500, 0},      // a tighter threshold
      {2, 300, false, 44100, 44100, 0.1, K::kCompensate, 0, 2},     // clamped to the method
      {2, -300, false, 44100, 44100, 0.1, K::kCompensate, 0, -2},
      {3, 60.9, false, 44100, 44100, 0.1, K::kCompensate, 0, 3},
      {100, 60.9, false, 44100, 44100, 0.1, K::kCompensate, 0, 60},
      {2, 5000, false, 44100, 44100, 0.1, K::kInsert, 5000, 0},
      {2, 300, true, 44100, 44100, 0.1, K::kInsert, 300, 0},        // the first correction is hard
  };
  for (const auto& c : cases) {
    TAudioSyncStep s = DecideAudioSync(c.Method, c.Delta, c.Start, c.EncRate, c.DecRate, c.Threshold);
    SCOPED_TRACE(testing::Message() << "method " << c.Method << " delta " << c.Delta << " start " << c.Start);
    EXPECT_EQ(s.Kind, c.Kind);
    EXPECT_EQ(s.InputSamples, c.Samples);
    EXPECT_EQ(s.Compensation, c.Comp);
  }
}

TEST(AudioBufferSizing, RoomFollowsRatesFramesAndCodedBits) {
  struct TCase {
    std::int64_t Allocated;
    int Isize, DecCh, DecRate, EncRate, Osize, EncCh, Frame, CodedBps;
    std::int64_t Buf, Out;
  };
  const TCase cases[] = {
      // 1024 stereo s16 samples into adpcm_ms at the same rate, and at half the rate.
      {4096, 2, 2, 44100, 44100, 2, 2, 1012, 4, 48200, 64584},
      {4096, 2, 2, 44100, 22050, 2, 2, 1012, 4, 44104, 60488},
      // A frame bigger than the slack decides the room.
      {4, 2, 2, 44100, 44100, 2, 2, 20000, 4, 80000, 96384},
      // A partial sample still counts as one.
      {3, 2, 1, 8000, 8000, 2, 1, 0, 16, 20012, 36396},
      // Coded wider than the encoder's sample: the output room grows with it.
      {100, 1, 1, 8000, 8000, 1, 1, 0, 16, 10202, 36788},
  };
  for (const auto& c : cases) {
    TAudioSizes s = AudioBufferSizes(c.Allocated, c.Isize, c.DecCh, c.DecRate, c.EncRate, c.Osize, c.EncCh, c.Frame,
                                     c.CodedBps);
    EXPECT_EQ(s.BufSize, c.Buf) << c.Allocated << " bytes, frame " << c.Frame;
    EXPECT_EQ(s.OutSize, c.Out) << c.Allocated << " bytes, frame " << c.Frame;
  }
  try {
    AudioBufferSizes(std::int64_t(1) << 31, 2, 2, 44100, 44100, 2, 2, 1012, 4);
    ADD_FAILURE() << "no error for a block of 2 GiB";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Buffer sizes too large in do_audio_out");
  }
}

TEST(AudioVolume, SamplesScaleRoundAndClip) {
  struct TCase {
    AVSampleFormat Fmt;
    int Volume;
    double In, Out;
  };
  const TCase cases[] = {
      {AV_SAMPLE_FMT_S16, 512, 20000, 32767},   // clipped
      {AV_SAMPLE_FMT_S16, 512, -20000, -32768},
      {AV_SAMPLE_FMT_S16, 128, -3, -1},         // (-384 + 128) >> 8
      {AV_SAMPLE_FMT_S16, 128, 3, 2},           // (384 + 128) >> 8
      {AV_SAMPLE_FMT_S16, 256, 12345, 12345},
      {AV_SAMPLE_FMT_S16, 0, 1000, 0},
      {AV_SAMPLE_FMT_S16, 384, 100, 150},
      {AV_SAMPLE_FMT_S16P, 512, 20000, 32767},
      {AV_SAMPLE_FMT_U8, 512, 200, 255},        // around the 128 midpoint
      {AV_SAMPLE_FMT_U8, 128, 60, 94},
      {AV_SAMPLE_FMT_S32, 512, 2000000000, INT32_MAX},
      {AV_SAMPLE_FMT_S32, 128, -3, -1},
      {AV_SAMPLE_FMT_FLT, 128, 0.5, 0.25},
      {AV_SAMPLE_FMT_DBL, 512, -0.75, -1.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << SampleFormatName(c.Fmt) << " volume " << c.Volume << " sample " << c.In);
    std::uint8_t buf[8] = {};
    const int bytes = ff::av_get_bytes_per_sample(c.Fmt);
    auto put = [&](double v) {
      switch (ff::av_get_packed_sample_fmt(c.Fmt)) {
        case AV_SAMPLE_FMT_U8: buf[0] = std::uint8_t(v); break;
        case AV_SAMPLE_FMT_S16: { std::int16_t s = std::int16_t(v); std::memcpy(buf, &s, 2); break; }
        case AV_SAMPLE_FMT_S32: { std::int32_t s = std::int32_t(v); std::memcpy(buf, &s, 4); break; }
        case AV_SAMPLE_FMT_FLT: { float s = float(v); std::memcpy(buf, &s, 4); break; }
        default: std::memcpy(buf, &v, 8);
      }
    };
    auto get = [&]() -> double {
      switch (ff::av_get_packed_sample_fmt(c.Fmt)) {
        case AV_SAMPLE_FMT_U8: return buf[0];
        case AV_SAMPLE_FMT_S16: { std::int16_t s; std::memcpy(&s, buf, 2); return s; }
        case AV_SAMPLE_FMT_S32: { std::int32_t s; std::memcpy(&s, buf, 4); return s; }
        case AV_SAMPLE_FMT_FLT: { float s; std::memcpy(&s, buf, 4); return s; }
        default: { double s; std::memcpy(&s, buf, 8); return s; }
      }
    };
    put(c.In);
    ApplyAudioVolume(buf, bytes, c.Fmt, c.Volume);
    EXPECT_EQ(get(), c.Out);
  }
}

TEST(AudioVolume, EveryPlaneOfADecodedFrame) {
  // Planar stereo: both planes are scaled, nothing past the samples is touched.
  TFramePtr f = NewFrame();
  f->format = AV_SAMPLE_FMT_S16P;
  f->nb_samples = 3;
  f->sample_rate = 8000;
  ff::av_channel_layout_default(&f->ch_layout, 2);
  ASSERT_GE(ff::av_frame_get_buffer(f.get(), 0), 0);
  const std::int16_t left[3] = {20000, -3, 100}, right[3] = {-20000, 3, -100};
  std::memcpy(f->extended_data[0], left, sizeof(left));
  std::memcpy(f->extended_data[1], right, sizeof(right));
  ApplyAudioVolume(f.get(), 512);
  const auto* l = reinterpret_cast<const std::int16_t*>(f->extended_data[0]);
  const auto* r = reinterpret_cast<const std::int16_t*>(f->extended_data[1]);
  EXPECT_EQ(std::vector<int>(l, l + 3), (std::vector<int>{32767, -6, 200}));
  EXPECT_EQ(std::vector<int>(r, r + 3), (std::vector<int>{-32768, 6, -200}));
  ApplyAudioVolume(f.get(), 128);
  EXPECT_EQ(std::vector<int>(l, l + 3), (std::vector<int>{16384, -3, 100}));
}

}  // namespace
}  // namespace qv
