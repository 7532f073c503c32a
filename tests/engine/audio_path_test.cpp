// The audio path driven block by block, without a run: samples of ffmpeg's sine source go through
// real encoders (pcm_s16le shows the samples as they reach the encoder, adpcm_ms and flac cut
// frames), and what comes out is counted, compared and decoded.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <fstream>
#include <iterator>
#include <regex>

#include "engine/audio_path.h"
#include "engine/engine_test_support.h"
#include "engine/ffmpeg_exception.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

using test::TLogRecorder;

// Interleaved 16-bit samples of a 1 kHz tone at 44100 Hz, stereo, made by the ffmpeg command line.
const std::vector<std::int16_t>& Tone() {
  static std::vector<std::int16_t> pcm;
  if (pcm.empty()) {
    test::TTempDir dir;
    const std::string path = dir / "tone.raw";
    test::MakeClip(path, "-f lavfi -i sine=frequency=1000:sample_rate=44100:duration=4 -ac 2 -f s16le -c:a pcm_s16le");
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    pcm.resize(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
  }
  return pcm;
}

// A decoded block as a decoder would hand it over: `samples` stereo samples from `offset`.
TFramePtr Block(int offset, int samples, int rate = 44100, AVSampleFormat fmt = AV_SAMPLE_FMT_S16) {
  const auto& pcm = Tone();
  TFramePtr f = NewFrame();
  f->format = fmt;
  f->nb_samples = samples;
  f->sample_rate = rate;
  ff::av_channel_layout_default(&f->ch_layout, 2);
  EXPECT_GE(ff::av_frame_get_buffer(f.get(), 0), 0);
  for (int i = 0; i < samples * 2; ++i) {
    const std::int16_t s = pcm[size_t(offset) * 2 + size_t(i)];
    if (fmt == AV_SAMPLE_FMT_FLT)
      reinterpret_cast<float*>(f->data[0])[i] = float(s) / 32768.0f;
    else
      reinterpret_cast<std::int16_t*>(f->data[0])[i] = s;
  }
  return f;
}

struct TPacketCopy {
  std::vector<std::uint8_t> Data;
  std::int64_t Pts, Duration;
};

// One output stream with an opened encoder, fed by a stereo s16 44100 Hz input stream.
class TRig {
 public:
  TRig(const char* encoder, int rate, int channels, int syncMethod) {
    Fmt = ff::avformat_alloc_context();
    AVStream* st = ff::avformat_new_stream(Fmt, nullptr);
    const AVCodec* codec = ff::avcodec_find_encoder_by_name(encoder);
    Enc.reset(ff::avcodec_alloc_context3(codec));
    Enc->sample_fmt = codec->sample_fmts[0];
    Enc->sample_rate = rate;
    Enc->time_base = AVRational{1, rate};
    ff::av_channel_layout_default(&Enc->ch_layout, channels);
    Opened = ff::avcodec_open2(Enc.get(), codec, nullptr) >= 0;
    st->time_base = Enc->time_base;
    Dec.reset(ff::avcodec_alloc_context3(ff::avcodec_find_decoder(AV_CODEC_ID_PCM_S16LE)));
    Dec->sample_fmt = AV_SAMPLE_FMT_S16;
    Dec->sample_rate = 44100;
    ff::av_channel_layout_default(&Dec->ch_layout, 2);
    Ist.FileIndex = 0;
    Ist.StreamIndex = 1;
    Ist.DecCtx = Dec.get();
    Ost.St = st;
    Ost.Enc = Enc.get();
    SetupAudioOutput(Ost, Ist, syncMethod);
    Env.SyncMethod = syncMethod;
    Env.Verbose = 3;
    Env.Buffers = &Bufs;
    Env.AudioBytes = &Bytes;
    Env.Write = [this](AVPacket* pkt) {
      Packets.push_back({std::vector<std::uint8_t>(pkt->data, pkt->data + pkt->size), pkt->pts, pkt->duration});
    };
  }
  ~TRig() {
    Enc.reset();
    ff::avformat_free_context(Fmt);
  }
  void Out(const TFramePtr& block, double ipts) { AudioOut(Env, Ost, Ist, block.get(), ipts); }
  void Flush() { AudioFlush(Env, Ost); }
  int FifoSamples() const { return ff::av_audio_fifo_size(Ost.Fifo.get()); }
  // pcm_s16le output: every sample as the encoder got it.
  std::vector<std::int16_t> Pcm() const {
    std::vector<std::int16_t> out;
    for (const auto& p : Packets) {
      const size_t n = p.Data.size() / 2;
      const size_t at = out.size();
      out.resize(at + n);
      std::memcpy(out.data() + at, p.Data.data(), n * 2);
    }
    return out;
  }
  std::int64_t SampleCount() const {
    const int bytes = ff::av_get_bytes_per_sample(Enc->sample_fmt) * Enc->ch_layout.nb_channels;
    std::int64_t n = 0;
    for (const auto& p : Packets) n += Enc->frame_size > 1 ? Enc->frame_size : std::int64_t(p.Data.size()) / bytes;
    return n;
  }

  bool Opened = false;
  AVFormatContext* Fmt = nullptr;
  TCodecContextPtr Enc, Dec;
  TInputStream Ist;
  TOutputStream Ost;
  TAudioBuffers Bufs;
  TAudioEnv Env;
  std::int64_t Bytes = 0;
  std::vector<TPacketCopy> Packets;
};

constexpr int kBlock = 1024;
double At(int sample) { return double(sample) / 44100.0; }

TEST(AudioPath, ResamplerAndConverterOnlyWhereFormatsDiffer) {
  struct TCase {
    const char* Encoder;
    int Rate, Channels, Sync;
    bool Resampler, Converter;
  };
  const TCase cases[] = {
      {"pcm_s16le", 44100, 2, 0, false, false}, {"adpcm_ms", 44100, 2, 0, false, false},
      {"pcm_f32le", 44100, 2, 0, false, true},  {"pcm_s16le", 22050, 2, 0, true, false},
      {"pcm_s16le", 44100, 1, 0, true, false},  {"pcm_s16le", 44100, 2, 2, true, false},
  };
  const int blocks = 20, total = blocks * kBlock;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Encoder << " " << c.Rate << " Hz " << c.Channels << " ch sync " << c.Sync);
    TRig rig(c.Encoder, c.Rate, c.Channels, c.Sync);
    ASSERT_TRUE(rig.Opened);
    for (int b = 0; b < blocks; ++b) rig.Out(Block(b * kBlock, kBlock), At(b * kBlock));
    rig.Flush();
    EXPECT_EQ(rig.Ost.Swr != nullptr, c.Resampler);
    EXPECT_EQ(rig.Ost.Audio->Convert != nullptr, c.Converter);
    const double expected = double(total) * c.Rate / 44100;
    const std::int64_t got = rig.SampleCount();
    std::int64_t bytes = 0;
    for (const auto& p : rig.Packets) bytes += std::int64_t(p.Data.size());
    EXPECT_EQ(rig.Bytes, bytes);
    if (rig.Enc->frame_size > 1) {
      // Whole frames, the last one padded.
      EXPECT_EQ(got, (total + rig.Enc->frame_size - 1) / rig.Enc->frame_size * rig.Enc->frame_size);
    } else if (c.Resampler) {
      // The resampler's filter keeps a few samples back at the end.
      EXPECT_NEAR(double(got), expected, 40);
    } else {
      EXPECT_EQ(got, total);
    }
  }
  // Matching formats: the samples reach the encoder untouched; a format change only rescales them.
  TRig same("pcm_s16le", 44100, 2, 0), flt("pcm_f32le", 44100, 2, 0);
  for (int b = 0; b < 4; ++b) {
    same.Out(Block(b * kBlock, kBlock), At(b * kBlock));
    flt.Out(Block(b * kBlock, kBlock), At(b * kBlock));
  }
  std::vector<std::int16_t> in(Tone().begin(), Tone().begin() + 4 * kBlock * 2);
  EXPECT_EQ(same.Pcm(), in);
  std::vector<float> f(in.size());
  size_t at = 0;
  for (const auto& p : flt.Packets) {
    std::memcpy(f.data() + at, p.Data.data(), p.Data.size());
    at += p.Data.size() / 4;
  }
  ASSERT_EQ(at, in.size());
  for (size_t i = 0; i < in.size(); ++i) ASSERT_EQ(f[i], float(in[i]) / 32768.0f) << i;
}

TEST(AudioPath, AudioStartingLateIsPrefixedWithSilence) {
  TLogRecorder log;
  TRig rig("pcm_s16le", 44100, 2, 1);
  // The video clock started at 0; the first audio block belongs at 0.5 s.
  const int blocks = 10;
  for (int b = 0; b < blocks; ++b) rig.Out(Block(b * kBlock, kBlock), 0.5 + At(b * kBlock));
  EXPECT_FALSE(rig.Ist.IsStart);
  const std::vector<std::int16_t> out = rig.Pcm();
  ASSERT_EQ(out.size(), size_t(22050 + blocks * kBlock) * 2);
  for (size_t i = 0; i < 22050 * 2; ++i) ASSERT_EQ(out[i], 0) << "sample " << i / 2;
  EXPECT_TRUE(std::equal(out.begin() + 22050 * 2, out.end(), Tone().begin()));
  EXPECT_TRUE(log.Contains("adding 22050 audio samples of silence"));
  std::lock_guard<std::mutex> lock(log.Lock);
  EXPECT_EQ(std::count_if(log.Lines.begin(), log.Lines.end(),
                          [](const std::string& l) { return l.find("audio samples") != std::string::npos; }),
            1);
}

TEST(AudioPath, SmallDriftIsNeverCorrected) {
  for (int sync : {1, 2}) {
    SCOPED_TRACE(testing::Message() << "sync " << sync);
    TLogRecorder log;
    TRig rig("pcm_s16le", 44100, 2, sync);
    // The input clock keeps the audio 40 samples late, then 40 early, from the very first block.
    const int blocks = 40;
    for (int b = 0; b < blocks; ++b) rig.Out(Block(b * kBlock, kBlock), At(b * kBlock + (b % 8 < 4 ? 40 : -40)));
    EXPECT_TRUE(rig.Ist.IsStart);  // no correction was ever applied
    EXPECT_FALSE(log.Contains("audio samples"));
    EXPECT_FALSE(log.Contains("compensating"));
    if (sync == 1) {
      EXPECT_EQ(rig.Pcm(), std::vector<std::int16_t>(Tone().begin(), Tone().begin() + blocks * kBlock * 2));
    } else {
      EXPECT_NEAR(double(rig.SampleCount()), blocks * kBlock, 32);
    }
  }
}

TEST(AudioPath, DriftBelowThresholdIsCompensatedByAtMostTwoSamples) {
  struct TCase {
    double ClockRate;  // input clock against the sample count
    int Sign;
  };
  double outFast = 0, outSlow = 0;
  for (const TCase c : {TCase{1.004, 1}, TCase{0.996, -1}}) {
    SCOPED_TRACE(testing::Message() << "clock " << c.ClockRate);
    TLogRecorder log;
    TRig rig("pcm_s16le", 44100, 2, 2);
    const int blocks = 60;
    // The first block comes 100 samples late: the first correction is a hard one and clears the
    // start flag; from then on the clock drifts.
    for (int b = 0; b < blocks; ++b) rig.Out(Block(b * kBlock, kBlock), At(100 + b * kBlock) * c.ClockRate);
    EXPECT_TRUE(log.Contains(c.Sign > 0 ? "adding 100 audio samples of silence" : "adding 99 audio samples of silence"));
    // The gap grows to about 245 samples: above 50, well below 0.1 s, so no further hard correction.
    EXPECT_EQ(std::count_if(log.Lines.begin(), log.Lines.end(),
                            [](const std::string& l) { return l.find("audio samples") != std::string::npos; }),
              1);
    int calls = 0;
    std::regex re("compensating audio timestamp drift:(-?[0-9.]+) compensation:(-?[0-9]+) in:44100");
    std::lock_guard<std::mutex> lock(log.Lock);
    for (const auto& line : log.Lines) {
      std::smatch m;
      if (!std::regex_search(line, m, re)) continue;
      ++calls;
      const double delta = std::stod(m[1]);
      const int comp = std::stoi(m[2]);
      EXPECT_GT(std::fabs(delta), 50);
      EXPECT_EQ(comp, 2 * c.Sign) << line;
    }
    EXPECT_GT(calls, 30);
    // At most two samples per second of output per call, spread by the resampler: the count moves
    // towards the clock, a little.
    const double got = double(rig.SampleCount());
    const double in = blocks * kBlock + 100;
    EXPECT_LE(std::fabs(got - in), 32 + 2.0 * calls);
    std::printf("clock x%.3f: %d compensations, %.0f samples out for %.0f in\n", c.ClockRate, calls, got, in);
    (c.Sign > 0 ? outFast : outSlow) = got;
  }
  // Same input, opposite drift: the compensations pulled the counts apart, each way.
  EXPECT_GT(outFast, outSlow);
}

TEST(AudioPath, LargeGapsAreClosedAtOnce) {
  struct TCase {
    double Jump;  // seconds the input clock jumps at block 5
    int Delta;    // samples added (>0) or dropped (<0)
    const char* Log;
  };
  const TCase cases[] = {{0.2, 8820, "adding 8820 audio samples of silence"},
                         {-0.2, -8820, "discarding 8820 audio samples"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Log);
    TLogRecorder log;
    TRig rig("pcm_s16le", 44100, 2, 1);
    const int blocks = 20;
    for (int b = 0; b < blocks; ++b) rig.Out(Block(b * kBlock, kBlock), At(b * kBlock) + (b >= 5 ? c.Jump : 0));
    EXPECT_TRUE(log.Contains(c.Log));
    // Whole blocks may go before the gap is used up; the float clock may leave one sample over.
    EXPECT_NEAR(double(rig.SampleCount()), blocks * kBlock + c.Delta, 1);
  }
  // Audio that starts 0.1 s before the video: whole blocks vanish until the gap is used up, and the
  // start flag stays until a correction actually took place.
  TLogRecorder log;
  TRig rig("pcm_s16le", 44100, 2, 1);
  rig.Out(Block(0, kBlock), -0.1);
  EXPECT_TRUE(rig.Packets.empty());
  EXPECT_TRUE(rig.Ist.IsStart);
  for (int b = 1; b < 10; ++b) rig.Out(Block(b * kBlock, kBlock), -0.1 + At(b * kBlock));
  EXPECT_FALSE(rig.Ist.IsStart);
  const std::vector<std::int16_t> out = rig.Pcm();
  ASSERT_EQ(out.size(), size_t(10 * kBlock - 4410) * 2);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), Tone().begin() + 4410 * 2));
}

TEST(AudioPath, BlockOfTwoAndAHalfFramesWaitsForItsLastHalf) {
  struct TCase {
    const char* Encoder;
    bool ShortLast;  // the encoder takes a short last frame; else it is padded with silence
  };
  for (const TCase c : {TCase{"adpcm_ms", false}, TCase{"flac", true}}) {
    SCOPED_TRACE(c.Encoder);
    TRig rig(c.Encoder, 44100, 2, 0);
    ASSERT_TRUE(rig.Opened);
    const int frame = rig.Enc->frame_size;
    ASSERT_GT(frame, 1);
    rig.Out(Block(0, frame * 5 / 2), 0);
    EXPECT_EQ(rig.Ost.SyncOpts, 2 * frame);  // two frames went to the encoder at once
    EXPECT_EQ(rig.FifoSamples(), frame / 2);
    if (!c.ShortLast) {
      EXPECT_EQ(rig.Packets.size(), 2u);
    }
    rig.Flush();
    EXPECT_EQ(rig.FifoSamples(), 0);
    // An encoder may end with a packet of side data only (flac's final stream information).
    if (!rig.Packets.empty() && rig.Packets.back().Data.empty()) rig.Packets.pop_back();
    ASSERT_EQ(rig.Packets.size(), 3u);
    EXPECT_EQ(rig.Ost.SyncOpts, c.ShortLast ? frame * 5 / 2 : 3 * frame);
    EXPECT_EQ(rig.Packets[2].Pts, 2 * frame);
    if (c.ShortLast) {
      EXPECT_EQ(rig.Packets[2].Duration, frame / 2);
      continue;
    }
    // The padded frame decodes to the tone's last half frame, then silence.
    TCodecContextPtr dec(ff::avcodec_alloc_context3(ff::avcodec_find_decoder(rig.Enc->codec_id)));
    AVCodecParameters* par = ff::avcodec_parameters_alloc();
    ff::avcodec_parameters_from_context(par, rig.Enc.get());
    ff::avcodec_parameters_to_context(dec.get(), par);
    ff::avcodec_parameters_free(&par);
    ASSERT_GE(ff::avcodec_open2(dec.get(), dec->codec, nullptr), 0);
    TPacketPtr pkt = NewPacket();
    ASSERT_GE(ff::av_new_packet(pkt.get(), int(rig.Packets[2].Data.size())), 0);
    std::memcpy(pkt->data, rig.Packets[2].Data.data(), rig.Packets[2].Data.size());
    ASSERT_GE(ff::avcodec_send_packet(dec.get(), pkt.get()), 0);
    TFramePtr f = NewFrame();
    ASSERT_GE(ff::avcodec_receive_frame(dec.get(), f.get()), 0);
    ASSERT_EQ(f->nb_samples, frame);
    const bool planar = ff::av_sample_fmt_is_planar(AVSampleFormat(f->format));
    auto left = [&](int i) {
      return int(reinterpret_cast<const std::int16_t*>(f->extended_data[0])[planar ? i : 2 * i]);
    };
    int toneMax = 0, tailMax = 0;
    for (int i = 0; i < frame / 2; ++i) toneMax = std::max(toneMax, std::abs(left(i)));
    for (int i = frame / 2 + 16; i < frame; ++i) tailMax = std::max(tailMax, std::abs(left(i)));
    EXPECT_GT(toneMax, 2000);  // the mono tone spread on two channels is 3 dB down from 4096
    EXPECT_LT(tailMax, 300);
  }
}

TEST(AudioPath, ChangedInputFormatRebuildsTheResampler) {
  TLogRecorder log;
  TRig rig("pcm_s16le", 44100, 2, 0);
  rig.Out(Block(0, kBlock), 0);
  EXPECT_EQ(rig.Ost.Swr, nullptr);
  // The same tone now arrives at half the rate: it must be resampled, not played twice as fast.
  rig.Out(Block(kBlock, kBlock, 22050), At(kBlock));
  EXPECT_TRUE(log.Contains("Input stream #0.1 frame changed from rate:44100 fmt:s16 ch:2 to rate:22050 fmt:s16 ch:2"));
  EXPECT_NE(rig.Ost.Swr, nullptr);
  EXPECT_NEAR(double(rig.SampleCount()), 3 * kBlock, 32);
  EXPECT_FALSE(log.Contains("Warning, using s16 intermediate sample format for resampling"));
  rig.Out(Block(2 * kBlock, kBlock, 44100, AV_SAMPLE_FMT_FLT), At(3 * kBlock));
  EXPECT_TRUE(log.Contains("frame changed from rate:22050 fmt:s16 ch:2 to rate:44100 fmt:flt ch:2"));
  EXPECT_TRUE(log.Contains("Warning, using s16 intermediate sample format for resampling"));
  // Back to the encoder's own format: the resampler goes away again.
  rig.Out(Block(3 * kBlock, kBlock), At(4 * kBlock));
  EXPECT_EQ(rig.Ost.Swr, nullptr);
  EXPECT_NEAR(double(rig.SampleCount()), 5 * kBlock, 64);
}

TEST(AudioPath, FailuresEndTheRunWithTheirTexts) {
  struct TCase {
    const char* Name;
    std::function<void(TRig&)> Act;
    const char* Text;
  };
  const TCase cases[] = {
      // A stream that claims 0 Hz cannot be resampled to anything.
      {"no rate", [](TRig& r) { r.Out(Block(0, kBlock, 0), 0); },
       "Can not resample 2 channels @ 0 Hz to 2 channels @ 44100 Hz"},
      // A frame longer than adpcm_ms takes: the encoder refuses it.
      {"oversized frame",
       [](TRig& r) {
         TFramePtr f = NewFrame();
         f->format = AV_SAMPLE_FMT_S16;
         f->nb_samples = r.Enc->frame_size * 2;
         f->sample_rate = 44100;
         ff::av_channel_layout_default(&f->ch_layout, 2);
         ASSERT_GE(ff::av_frame_get_buffer(f.get(), 0), 0);
         EncodeAudioFrame(r.Env, r.Ost, f.get());
       },
       "Audio encoding failed"},
      // Samples that reached the FIFO without passing the sizing of a block (the shared buffer is
      // still empty) cannot be padded into it.
      {"last frame without room",
       [](TRig& r) {
         TFramePtr b = Block(0, 100);
         void* planes[1] = {b->data[0]};
         ASSERT_EQ(ff::av_audio_fifo_write(r.Ost.Fifo.get(), planes, 100), 100);
         r.Flush();
       },
       "frame_bytes invalid."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TRig rig("adpcm_ms", 44100, 2, 0);
    try {
      c.Act(rig);
      ADD_FAILURE() << "no error";
    } catch (const FFmpegException& e) {
      EXPECT_STREQ(e.what(), c.Text);
    }
  }
}

}  // namespace
}  // namespace qv
