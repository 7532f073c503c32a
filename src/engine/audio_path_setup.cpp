// Audio path: buffer sizing, the resampler and sample-format converter that follow the decoded
// format, and the per-stream set-up and teardown of a run.
#include <climits>

#include "engine/audio_path.h"
#include "engine/ffmpeg_exception.h"

namespace qv {

std::string SampleFormatName(int format) {
  const char* name = format >= 0 ? ff::av_get_sample_fmt_name(AVSampleFormat(format)) : nullptr;
  return name ? name : "none";
}

TAudioSizes AudioBufferSizes(std::int64_t allocated, int isize, int decChannels, int decRate, int encRate, int osize,
                             int encChannels, int frameSize, int codedBps) {
  // Room for the block at the encoder rate with generous slack (the resampler's output count is
  // only known afterwards), never less than one encoder frame.
  const std::int64_t perSample = std::int64_t(isize) * decChannels;
  std::int64_t buf = perSample > 0 ? (allocated + perSample - 1) / perSample : 0;
  buf = decRate > 0 ? (buf * encRate + decRate) / decRate : buf;
  buf = buf * 2 + 10000;
  buf = std::max<std::int64_t>(buf, frameSize);
  buf *= std::int64_t(osize) * encChannels;

  std::int64_t out = std::max<std::int64_t>(buf, std::int64_t(frameSize) * osize * encChannels);
  if (codedBps > 8 * osize) out = out * codedBps / (8 * osize);
  out += 16384;
  if (out > INT_MAX || buf > INT_MAX) RaiseFFmpeg("Buffer sizes too large in do_audio_out");
  return {buf, out};
}

namespace {

// The library wants an ordered layout to mix; a bare channel count gets the default order.
void UsableLayout(AVChannelLayout& dst, const AVChannelLayout& src, int channels) {
  if (src.nb_channels == channels && src.order != AV_CHANNEL_ORDER_UNSPEC && src.nb_channels > 0)
    ff::av_channel_layout_copy(&dst, &src);
  else
    ff::av_channel_layout_default(&dst, channels);
}

struct TLayout {
  AVChannelLayout L{};
  ~TLayout() { ff::av_channel_layout_uninit(&L); }
};

}  // namespace

void SetupAudioOutput(TOutputStream& ost, const TInputStream& ist, int syncMethod) {
  AVCodecContext* enc = ost.Enc;
  const AVCodecContext* dec = ist.DecCtx;
  const AVCodecParameters* par = ist.St ? ist.St->codecpar : nullptr;
  ost.ResampleSampleFmt = dec ? dec->sample_fmt : par ? par->format : -1;
  ost.ResampleChannels = dec ? dec->ch_layout.nb_channels : par ? par->ch_layout.nb_channels : 0;
  ost.ResampleSampleRate = dec ? dec->sample_rate : par ? par->sample_rate : 0;
  ost.AudioResample = enc->sample_rate != ost.ResampleSampleRate || syncMethod > 1;

  const int channels = std::max(1, enc->ch_layout.nb_channels);
  const int bytes = std::max(1, ff::av_get_bytes_per_sample(enc->sample_fmt));
  // The FIFO starts small (1024 bytes) and grows with the blocks it is handed.
  ost.Fifo.reset(enc->sample_fmt == AV_SAMPLE_FMT_NONE
                     ? nullptr
                     : ff::av_audio_fifo_alloc(enc->sample_fmt, channels, std::max(1, 1024 / (bytes * channels))));
  if (!ost.Fifo) RaiseFFmpeg("av_fifo_alloc fail");
  ost.Audio = std::make_shared<TAudioOutState>();
  ost.SyncOpts = 0;
}

void UpdateAudioResampler(const TAudioEnv& env, TOutputStream& ost, const TInputStream& ist, const AVFrame* decoded) {
  const AVCodecContext* enc = ost.Enc;
  const int fmt = decoded->format;
  const int channels = decoded->ch_layout.nb_channels;
  const int rate = decoded->sample_rate;
  const int encChannels = enc->ch_layout.nb_channels;
  if (channels != encChannels) ost.AudioResample = true;

  bool changed = false;
  if (fmt != ost.ResampleSampleFmt || channels != ost.ResampleChannels || rate != ost.ResampleSampleRate) {
    env.Log(llInfo, Format("Input stream #%d.%d frame changed from rate:%d fmt:%s ch:%d to rate:%d fmt:%s ch:%d",
                           ist.FileIndex, ist.StreamIndex, ost.ResampleSampleRate,
                           SampleFormatName(ost.ResampleSampleFmt).c_str(), ost.ResampleChannels, rate,
                           SampleFormatName(fmt).c_str(), channels));
    ost.ResampleSampleFmt = fmt;
    ost.ResampleChannels = channels;
    ost.ResampleSampleRate = rate;
    ost.Swr.reset();
    changed = true;
  }
  if (!((ost.AudioResample && !ost.Swr) || changed)) return;

  if (ost.ResampleSampleFmt == enc->sample_fmt && ost.ResampleChannels == encChannels &&
      ost.ResampleSampleRate == enc->sample_rate && env.SyncMethod <= 1) {
    ost.AudioResample = false;
    return;
  }
  if (fmt != AV_SAMPLE_FMT_S16) env.Log(llWarning, "Warning, using s16 intermediate sample format for resampling");

  TLayout in, out;
  UsableLayout(in.L, decoded->ch_layout, channels);
  UsableLayout(out.L, enc->ch_layout, encChannels);
  TResamplerPtr swr;
  int r = channels > 0 && rate > 0
              ? ff::swr_alloc_set_opts2(InOut(swr), &out.L, enc->sample_fmt, enc->sample_rate, &in.L,
                                        AVSampleFormat(fmt), rate, 0, nullptr)
              : AVERROR(EINVAL);
  if (r >= 0) {
    // Filter length 16, 2^10 phases, no linear interpolation, cutoff 0.8 of the Nyquist rate.
    ff::av_opt_set_int(swr.get(), "filter_size", 16, 0);
    ff::av_opt_set_int(swr.get(), "phase_shift", 10, 0);
    ff::av_opt_set_int(swr.get(), "linear_interp", 0, 0);
    ff::av_opt_set_double(swr.get(), "cutoff", 0.8, 0);
    // Drift compensation needs the resampling engine even when the rates are equal.
    if (env.SyncMethod > 1) ff::av_opt_set_int(swr.get(), "flags", SWR_FLAG_RESAMPLE, 0);
    r = ff::swr_init(swr.get());
  }
  if (r < 0) {
    RaiseFFmpegFmt("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", channels, rate, encChannels,
                   enc->sample_rate);
  }
  ost.Swr = std::move(swr);
  // A format change that now needs resampling must also use it.
  ost.AudioResample = true;
}

void UpdateAudioConverter(TOutputStream& ost, const AVFrame* decoded) {
  const AVCodecContext* enc = ost.Enc;
  TAudioOutState& st = *ost.Audio;
  if (st.Convert && st.ConvertIn == decoded->format && st.ConvertOut == enc->sample_fmt) return;
  st.Convert.reset();
  st.ConvertIn = decoded->format;
  st.ConvertOut = enc->sample_fmt;
  // Same layout, same rate: only the sample representation changes.
  TLayout layout;
  UsableLayout(layout.L, decoded->ch_layout, decoded->ch_layout.nb_channels);
  TResamplerPtr swr;
  int r = decoded->ch_layout.nb_channels > 0 && decoded->sample_rate > 0
              ? ff::swr_alloc_set_opts2(InOut(swr), &layout.L, enc->sample_fmt, decoded->sample_rate, &layout.L,
                                        AVSampleFormat(decoded->format), decoded->sample_rate, 0, nullptr)
              : AVERROR(EINVAL);
  if (r >= 0) r = ff::swr_init(swr.get());
  if (r < 0) {
    st.ConvertIn = st.ConvertOut = -1;
    RaiseFFmpegFmt("Cannot convert %s sample format to %s sample format", SampleFormatName(decoded->format).c_str(),
                   SampleFormatName(enc->sample_fmt).c_str());
  }
  st.Convert = std::move(swr);
}

}  // namespace qv
