// Audio path: keeping the encoded samples in step with the input clock. Method 0 follows the input
// clock blindly; above 0 a large gap is closed at once by dropping samples or inserting silence,
// and (method above 1) a small drift is spread out by the resampler.
#include <cmath>

#include "engine/audio_path.h"
#include "engine/ffmpeg_exception.h"

namespace qv {

namespace {

constexpr double kSyncTolerance = 50;  // samples; gaps this small are left alone

}  // namespace

TAudioBlock TAudioBlock::Of(const AVFrame* frame) {
  TAudioBlock b;
  b.Format = frame->format;
  b.Channels = frame->ch_layout.nb_channels;
  b.Rate = frame->sample_rate;
  b.Samples = frame->nb_samples;
  b.SampleBytes = ff::av_get_bytes_per_sample(AVSampleFormat(frame->format));
  b.Planar = ff::av_sample_fmt_is_planar(AVSampleFormat(frame->format)) != 0;
  const int planes = b.Planar ? b.Channels : 1;
  for (int i = 0; i < planes; ++i) b.Planes.push_back(frame->extended_data[i]);
  return b;
}

TAudioSyncStep DecideAudioSync(int method, double delta, bool isStart, int encRate, int decRate,
                               double driftThreshold) {
  TAudioSyncStep step;
  if (method == 0 || std::fabs(delta) <= kSyncTolerance || encRate <= 0) return step;
  if (isStart || std::fabs(delta) > encRate * driftThreshold) {
    // The gap measured at the encoder rate, applied to samples at the decoder rate.
    const double idelta = delta * decRate / encRate;
    const std::int64_t n = std::int64_t(std::trunc(idelta));
    step.Kind = n < 0 ? TAudioSyncStep::kDrop : TAudioSyncStep::kInsert;
    step.InputSamples = n < 0 ? -n : n;
  } else if (method > 1) {
    step.Kind = TAudioSyncStep::kCompensate;
    const double limited = std::clamp(std::trunc(delta), double(-method), double(method));
    step.Compensation = int(limited);
  }
  return step;
}

namespace {

// Puts `count` samples of silence in front of the block; the result lives in the shared buffer.
void InsertSilence(TAudioEnv& env, TAudioBlock& block, std::int64_t count) {
  const std::int64_t total = count + block.Samples;
  const AVSampleFormat fmt = AVSampleFormat(block.Format);
  const int channels = std::max(1, block.Channels);
  if (total > INT32_MAX) RaiseFFmpeg("Buffer sizes too large in do_audio_out");
  const int size = ff::av_samples_get_buffer_size(nullptr, channels, int(total), fmt, 1);
  if (size < 0) RaiseFFmpeg("Buffer sizes too large in do_audio_out");
  TAudioBuffers& bufs = *env.Buffers;
  if (bufs.SilenceSize < std::size_t(size)) {
    void* grown = ff::av_realloc(bufs.Silence.get(), std::size_t(size));
    if (!grown) RaiseFFmpeg("Out of memory in do_audio_out");
    (void)bufs.Silence.release();  // moved by the reallocation
    bufs.Silence.reset(static_cast<std::uint8_t*>(grown));
    bufs.SilenceSize = std::size_t(size);
  }
  std::vector<std::uint8_t*> planes(size_t(channels), nullptr);
  ff::av_samples_fill_arrays(planes.data(), nullptr, bufs.Silence.get(), channels, int(total), fmt, 1);
  ff::av_samples_set_silence(planes.data(), 0, int(count), channels, fmt);
  ff::av_samples_copy(planes.data(), block.Planes.data(), int(count), 0, block.Samples, channels, fmt);
  planes.resize(block.Planes.size());
  block.Planes = planes;
  block.Samples = int(total);
}

}  // namespace

bool SyncAudioBlock(TAudioEnv& env, TOutputStream& ost, TInputStream& ist, TAudioBlock& block, double syncIpts) {
  const int encRate = ost.Enc->sample_rate;
  // Samples handed over but not encoded yet: those waiting in the FIFO, and those the resampler's
  // filter still holds (left out, its delay would read as drift and be "corrected" with silence).
  std::int64_t pending = ost.Fifo ? ff::av_audio_fifo_size(ost.Fifo.get()) : 0;
  if (ost.AudioResample && ost.Swr) pending += ff::swr_get_delay(ost.Swr.get(), encRate);
  if (env.SyncMethod == 0) {
    ost.SyncOpts = std::llrint(syncIpts * encRate) - pending;
    return block.Samples > 0;
  }
  const double delta = syncIpts * encRate - double(ost.SyncOpts) - double(pending);
  const TAudioSyncStep step = DecideAudioSync(env.SyncMethod, delta, ist.IsStart, encRate, block.Rate,
                                              env.DriftThreshold);
  switch (step.Kind) {
    case TAudioSyncStep::kDrop: {
      const int drop = int(std::min<std::int64_t>(step.InputSamples, block.Samples));
      const int stride = block.SampleBytes * (block.Planar ? 1 : block.Channels);
      for (auto& p : block.Planes) p += std::ptrdiff_t(drop) * stride;
      block.Samples -= drop;
      if (env.Verbose > 2) env.Log(llVerbose, Format("discarding %d audio samples", int(-delta)));
      if (block.Samples == 0) return false;
      ist.IsStart = false;
      break;
    }
    case TAudioSyncStep::kInsert:
      InsertSilence(env, block, step.InputSamples);
      ist.IsStart = false;
      if (env.Verbose > 2) env.Log(llVerbose, Format("adding %d audio samples of silence", int(delta)));
      break;
    case TAudioSyncStep::kCompensate:
      if (env.Verbose > 2)
        env.Log(llVerbose, Format("compensating audio timestamp drift:%f compensation:%d in:%d", delta,
                                  step.Compensation, encRate));
      // Spread over one second of output; only a resampler can do it (method above 1 always has one).
      if (ost.Swr) ff::swr_set_compensation(ost.Swr.get(), step.Compensation, encRate);
      break;
    case TAudioSyncStep::kNone:
      break;
  }
  return block.Samples > 0;
}

}  // namespace qv
