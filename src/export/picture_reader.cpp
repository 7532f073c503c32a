#include "export/picture_reader.h"

#include <algorithm>
#include <cmath>

#include "engine/run_state.h"
#include "media/ff_api.h"
#include "media/ff_owners.h"
#include "media/ff_utils.h"

namespace qv {

namespace {

constexpr AVRational kMicro{1, AV_TIME_BASE};

struct TStream {
  TInputContextPtr Ctx;
  TCodecContextPtr Dec;
  int Index = -1;
};

bool OpenStream(const std::string& fileName, AVMediaType kind, TStream& s, std::string& error) {
  AVFormatContext* raw = nullptr;
  int ret = ff::avformat_open_input(&raw, ("file:" + fileName).c_str(), nullptr, nullptr);
  if (ret < 0) {
    error = ErrorCodeText("Cannot read " + fileName, ret);
    return false;
  }
  s.Ctx.reset(raw);
  if ((ret = ff::avformat_find_stream_info(raw, nullptr)) < 0 ||
      (s.Index = ff::av_find_best_stream(raw, kind, -1, -1, nullptr, 0)) < 0) {
    error = fileName + (kind == AVMEDIA_TYPE_VIDEO ? " holds no pictures." : " holds no sound.");
    return false;
  }
  const AVCodecParameters* par = raw->streams[s.Index]->codecpar;
  const AVCodec* codec = ff::avcodec_find_decoder(par->codec_id);
  s.Dec.reset(ff::avcodec_alloc_context3(codec));
  if (!codec || !s.Dec || ff::avcodec_parameters_to_context(s.Dec.get(), par) < 0 ||
      ff::avcodec_open2(s.Dec.get(), codec, nullptr) < 0) {
    error = "No decoder for " + fileName;
    return false;
  }
  return true;
}

// Hands each decoded frame of the stream to `take` until it returns false or the file ends.
template <class Take>
void DecodeFrames(TStream& s, Take take) {
  TPacketPtr pkt = NewPacket();
  TFramePtr frame = NewFrame();
  bool more = true;
  while (more) {
    const bool read = ff::av_read_frame(s.Ctx.get(), pkt.get()) >= 0;
    if (read && pkt->stream_index != s.Index) {
      ff::av_packet_unref(pkt.get());
      continue;
    }
    ff::avcodec_send_packet(s.Dec.get(), read ? pkt.get() : nullptr);
    ff::av_packet_unref(pkt.get());
    while (more && ff::avcodec_receive_frame(s.Dec.get(), frame.get()) >= 0) {
      more = take(frame.get());
      ff::av_frame_unref(frame.get());
    }
    if (!read) break;
  }
}

float SampleAt(const AVFrame* f, int channel, int i) {
  const AVSampleFormat fmt = AVSampleFormat(f->format);
  const bool planar = ff::av_sample_fmt_is_planar(fmt);
  const int channels = f->ch_layout.nb_channels;
  const std::uint8_t* plane = f->extended_data[planar ? channel : 0];
  const int at = planar ? i : i * channels + channel;
  switch (ff::av_get_packed_sample_fmt(fmt)) {
    case AV_SAMPLE_FMT_S16: return float(reinterpret_cast<const std::int16_t*>(plane)[at]) / 32768.0f;
    case AV_SAMPLE_FMT_S32: return float(double(reinterpret_cast<const std::int32_t*>(plane)[at]) / 2147483648.0);
    case AV_SAMPLE_FMT_FLT: return reinterpret_cast<const float*>(plane)[at];
    case AV_SAMPLE_FMT_DBL: return float(reinterpret_cast<const double*>(plane)[at]);
    default: return 0;
  }
}

}  // namespace

struct TPictureReader::TState {
  TStream Video;
  TScalerPtr Scaler;
};

TPictureReader::TPictureReader() : S(std::make_unique<TState>()) {}
TPictureReader::~TPictureReader() = default;

bool TPictureReader::Open(const std::string& fileName) {
  FileName = fileName;
  S = std::make_unique<TState>();
  return OpenStream(fileName, AVMEDIA_TYPE_VIDEO, S->Video, FError);
}

bool TPictureReader::PictureAt(std::int64_t us, int width, TRgbPicture& picture) {
  TStream& v = S->Video;
  if (!v.Ctx) return false;
  AVFormatContext* ctx = v.Ctx.get();
  const AVStream* st = ctx->streams[v.Index];
  const std::int64_t origin = ctx->start_time == AV_NOPTS_VALUE ? 0 : ctx->start_time;
  const std::int64_t target = ff::av_rescale_q(us + origin, kMicro, st->time_base);
  ff::av_seek_frame(ctx, v.Index, target, AVSEEK_FLAG_BACKWARD);
  ff::avcodec_flush_buffers(v.Dec.get());
  // The last picture that starts at or before the instant, else the first after it.
  TFramePtr shown = NewFrame();
  DecodeFrames(v, [&](AVFrame* f) {
    if (shown->buf[0] && f->best_effort_timestamp > target) return false;
    ff::av_frame_unref(shown.get());
    ff::av_frame_ref(shown.get(), f);
    return f->best_effort_timestamp < target;
  });
  if (!shown->buf[0]) return false;
  const int w = width > 0 ? width : shown->width;
  const int h = std::max(1, int(std::lround(double(shown->height) * w / std::max(1, shown->width))));
  S->Scaler.reset(ff::sws_getCachedContext(S->Scaler.release(), shown->width, shown->height,
                                           AVPixelFormat(shown->format), w, h, AV_PIX_FMT_BGRA, 2 /* bilinear */,
                                           nullptr, nullptr, nullptr));
  if (!S->Scaler) return false;
  picture.Width = w;
  picture.Height = h;
  picture.Pixels.assign(size_t(w) * size_t(h), 0);
  std::uint8_t* dst[4] = {reinterpret_cast<std::uint8_t*>(picture.Pixels.data()), nullptr, nullptr, nullptr};
  int dstStride[4] = {w * 4, 0, 0, 0};
  ff::sws_scale(S->Scaler.get(), shown->data, shown->linesize, 0, shown->height, dst, dstStride);
  return true;
}

std::vector<float> TPictureReader::SoundOutline(int slices) {
  TStream a;
  std::string error;
  if (slices <= 0 || !OpenStream(FileName, AVMEDIA_TYPE_AUDIO, a, error)) return {};
  const AVFormatContext* ctx = a.Ctx.get();
  const std::int64_t duration = ctx->duration > 0 ? ctx->duration : 1;
  const std::int64_t origin = ctx->start_time == AV_NOPTS_VALUE ? 0 : ctx->start_time;
  const AVStream* st = ctx->streams[a.Index];
  std::vector<float> peaks(size_t(slices), 0.0f);
  DecodeFrames(a, [&](AVFrame* f) {
    if (f->best_effort_timestamp == AV_NOPTS_VALUE || f->sample_rate <= 0) return true;
    const std::int64_t start = ff::av_rescale_q(f->best_effort_timestamp, st->time_base, kMicro) - origin;
    for (int i = 0; i < f->nb_samples; ++i) {
      const std::int64_t t = start + std::int64_t(i) * AV_TIME_BASE / f->sample_rate;
      const size_t slice = size_t(std::clamp<std::int64_t>(t * slices / duration, 0, slices - 1));
      for (int c = 0; c < f->ch_layout.nb_channels; ++c)
        peaks[slice] = std::max(peaks[slice], std::min(1.0f, std::fabs(SampleAt(f, c, i))));
    }
    return true;
  });
  return peaks;
}

}  // namespace qv
