// Audio path: one decoded block through sizing, resampler/converter, sync and conversion, then into
// the encoder: frame-based encoders take whole frames cut from the FIFO, PCM-like encoders take the
// block as it is. Every packet is counted and written with its pts in the stream's time base.
#include "engine/audio_path.h"
#include "engine/ffmpeg_exception.h"

namespace qv {

namespace {

TAudioOutState& StateOf(TOutputStream& ost) {
  if (!ost.Audio) ost.Audio = std::make_shared<TAudioOutState>();
  return *ost.Audio;
}

}  // namespace

// The reusable encoder frame of one stream, `samples` long; made writable before each refill in
// case the encoder kept a reference to the last one.
AVFrame* WritableAudioFrame(TOutputStream& ost, int samples) {
  TAudioOutState& st = StateOf(ost);
  const AVCodecContext* enc = ost.Enc;
  if (st.EncFrame && st.EncFrame->nb_samples < samples) st.EncFrame.reset();
  if (!st.EncFrame) {
    st.EncFrame = NewFrame();
    AVFrame* f = st.EncFrame.get();
    f->format = enc->sample_fmt;
    f->sample_rate = enc->sample_rate;
    f->nb_samples = samples;
    if (ff::av_channel_layout_copy(&f->ch_layout, &enc->ch_layout) < 0 || ff::av_frame_get_buffer(f, 0) < 0) {
      st.EncFrame.reset();
      RaiseFFmpeg("Out of memory in do_audio_out");
    }
  }
  AVFrame* f = st.EncFrame.get();
  const int keep = f->nb_samples;
  f->nb_samples = std::max(keep, samples);
  if (ff::av_frame_make_writable(f) < 0) RaiseFFmpeg("Out of memory in do_audio_out");
  f->nb_samples = samples;
  return f;
}

void EncodeAudioFrame(TAudioEnv& env, TOutputStream& ost, AVFrame* frame) {
  AVCodecContext* enc = ost.Enc;
  int r = ff::avcodec_send_frame(enc, frame);
  if (r < 0 && !(frame == nullptr && r == AVERROR_EOF)) RaiseFFmpeg("Audio encoding failed");
  TPacketPtr pkt = NewPacket();
  for (;;) {
    r = ff::avcodec_receive_packet(enc, pkt.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
    if (r < 0) RaiseFFmpeg("Audio encoding failed");
    if (env.AudioBytes) *env.AudioBytes += pkt->size;
    ff::av_packet_rescale_ts(pkt.get(), enc->time_base, ost.St->time_base);
    pkt->stream_index = ost.St->index;
    pkt->flags |= AV_PKT_FLAG_KEY;
    if (env.Write) env.Write(pkt.get());
    ff::av_packet_unref(pkt.get());
  }
}

void EncodeAudioSamples(TAudioEnv& env, TOutputStream& ost, std::uint8_t* const* planes, int samples) {
  AVCodecContext* enc = ost.Enc;
  const int frameSize = enc->frame_size;
  if (samples <= 0) return;
  if (frameSize > 1) {
    // Blocks of any size go in; whole encoder frames come out, the rest waits for the next block.
    if (!ost.Fifo || ff::av_audio_fifo_write(ost.Fifo.get(), reinterpret_cast<void**>(const_cast<std::uint8_t**>(planes)), samples) < samples)
      RaiseFFmpeg("av_fifo_realloc2() failed");
    while (ff::av_audio_fifo_size(ost.Fifo.get()) >= frameSize) {
      AVFrame* f = WritableAudioFrame(ost, frameSize);
      ff::av_audio_fifo_read(ost.Fifo.get(), reinterpret_cast<void**>(f->extended_data), frameSize);
      f->pts = ost.SyncOpts;
      EncodeAudioFrame(env, ost, f);
      ost.SyncOpts += frameSize;
    }
    return;
  }
  // PCM-like: the whole block is one packet.
  const int channels = enc->ch_layout.nb_channels;
  const int codedBps = ff::av_get_bits_per_sample(enc->codec_id);
  std::int64_t sizeOut = std::int64_t(samples) * channels;
  if (codedBps) sizeOut = sizeOut * codedBps / 8;
  if (sizeOut > env.Buffers->OutSize) RaiseFFmpeg("Internal error, buffer size too small");
  AVFrame* f = WritableAudioFrame(ost, samples);
  ff::av_samples_copy(f->extended_data, planes, 0, 0, samples, channels, enc->sample_fmt);
  f->pts = ost.SyncOpts;
  ost.SyncOpts += samples;
  EncodeAudioFrame(env, ost, f);
}

void AudioOut(TAudioEnv& env, TOutputStream& ost, TInputStream& ist, const AVFrame* decoded, double syncIpts) {
  AVCodecContext* enc = ost.Enc;
  TAudioBlock block = TAudioBlock::Of(decoded);
  if (block.Samples <= 0 || block.Channels <= 0) return;
  StateOf(ost);
  const int osize = ff::av_get_bytes_per_sample(enc->sample_fmt);
  const int encChannels = enc->ch_layout.nb_channels;
  const int codedBps = ff::av_get_bits_per_sample(enc->codec_id);
  auto sizesFor = [&](std::int64_t bytes) {
    return AudioBufferSizes(bytes, block.SampleBytes, block.Channels, block.Rate, enc->sample_rate, osize, encChannels,
                            enc->frame_size, codedBps);
  };
  TAudioSizes sizes = sizesFor(block.Bytes());

  UpdateAudioResampler(env, ost, ist, decoded);
  const bool convert = !ost.AudioResample && decoded->format != enc->sample_fmt;
  if (convert) UpdateAudioConverter(ost, decoded);

  const std::int64_t before = block.Bytes();
  if (!SyncAudioBlock(env, ost, ist, block, syncIpts)) return;
  if (block.Bytes() > before) sizes = sizesFor(block.Bytes());  // room for the inserted silence

  TAudioBuffers& bufs = *env.Buffers;
  ff::av_fast_malloc(InOut(bufs.Buf), &bufs.BufSize, std::size_t(sizes.BufSize));
  if (!bufs.Buf) RaiseFFmpeg("Out of memory in do_audio_out");
  bufs.OutSize = std::max(bufs.OutSize, sizes.OutSize);

  if (!ost.AudioResample && !convert) {
    EncodeAudioSamples(env, ost, block.Planes.data(), block.Samples);
    return;
  }
  // Resampled or converted samples land in the intermediate buffer in the encoder's layout.
  const int capacity = int(bufs.BufSize / unsigned(osize * encChannels));
  std::vector<std::uint8_t*> out(size_t(encChannels), nullptr);
  ff::av_samples_fill_arrays(out.data(), nullptr, bufs.Buf.get(), encChannels, capacity, enc->sample_fmt, 1);
  auto in = const_cast<const std::uint8_t**>(block.Planes.data());
  if (ost.AudioResample) {
    int n = ff::swr_convert(ost.Swr.get(), out.data(), capacity, in, block.Samples);
    if (n < 0) RaiseFFmpeg(ErrorCodeText("Audio resampling failed", n));
    EncodeAudioSamples(env, ost, out.data(), n);
    return;
  }
  int n = ff::swr_convert(ost.Audio->Convert.get(), out.data(), capacity, in, block.Samples);
  if (n < 0) {
    if (env.ExitOnError) RaiseFFmpeg("av_audio_convert() failed");
    env.Log(llError, "av_audio_convert() failed");
    return;
  }
  EncodeAudioSamples(env, ost, out.data(), n);
}

}  // namespace qv
