// Audio path at the end of input: the resampler gives up the samples its filter holds back, what
// waits in the FIFO becomes one last frame (shortened where the encoder takes a short last frame,
// else padded with silence), then the encoder gives up whatever it still holds.
#include "engine/audio_path.h"
#include "engine/ffmpeg_exception.h"

namespace qv {

void DrainAudioResampler(TAudioEnv& env, TOutputStream& ost) {
  if (!ost.AudioResample || !ost.Swr || !env.Buffers->Buf) return;
  AVCodecContext* enc = ost.Enc;
  const int channels = enc->ch_layout.nb_channels;
  const int capacity = int(env.Buffers->BufSize / unsigned(ff::av_get_bytes_per_sample(enc->sample_fmt) * channels));
  std::vector<std::uint8_t*> out(size_t(channels), nullptr);
  ff::av_samples_fill_arrays(out.data(), nullptr, env.Buffers->Buf.get(), channels, capacity, enc->sample_fmt, 1);
  for (;;) {
    const int n = ff::swr_convert(ost.Swr.get(), out.data(), capacity, nullptr, 0);
    if (n < 0) RaiseFFmpeg(ErrorCodeText("Audio resampling failed", n));
    if (n == 0) return;
    EncodeAudioSamples(env, ost, out.data(), n);
  }
}

void AudioFlush(TAudioEnv& env, TOutputStream& ost) {
  DrainAudioResampler(env, ost);
  AVCodecContext* enc = ost.Enc;
  const int frameSize = enc->frame_size;
  const int caps = enc->codec ? enc->codec->capabilities : 0;
  // PCM-like encoders hold nothing back unless they say they delay.
  if (frameSize <= 1 || !ost.Fifo) {
    if (caps & AV_CODEC_CAP_DELAY) EncodeAudioFrame(env, ost, nullptr);
    return;
  }
  const int rest = ff::av_audio_fifo_size(ost.Fifo.get());
  if (rest > 0) {
    const int channels = enc->ch_layout.nb_channels;
    const int osize = ff::av_get_bytes_per_sample(enc->sample_fmt);
    const bool shortLast = caps & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    if (!shortLast && std::int64_t(frameSize) * osize * channels > std::int64_t(env.Buffers->BufSize))
      RaiseFFmpeg("frame_bytes invalid.");
    AVFrame* f = WritableAudioFrame(ost, frameSize);
    ff::av_audio_fifo_read(ost.Fifo.get(), reinterpret_cast<void**>(f->extended_data), rest);
    if (shortLast)
      f->nb_samples = rest;
    else
      ff::av_samples_set_silence(f->extended_data, rest, frameSize - rest, channels, enc->sample_fmt);
    f->pts = ost.SyncOpts;
    EncodeAudioFrame(env, ost, f);
    ost.SyncOpts += f->nb_samples;
    f->nb_samples = frameSize;
  }
  EncodeAudioFrame(env, ost, nullptr);
}

}  // namespace qv
