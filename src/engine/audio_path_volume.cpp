// The audio volume applied to decoded samples after the audio hook and before the encoders:
// 256 is unity, 512 doubles, 128 halves. 16-bit samples follow the classic rounding
// (s * volume + 128) >> 8 with clipping; the other formats get the same factor in their own range, so
// a decoder that hands out float or 32-bit samples is scaled, not scrambled.
#include <climits>
#include <cmath>
#include <cstring>

#include "engine/audio_path.h"

namespace qv {

namespace {

template <typename T, typename Wide>
void ScaleInts(std::uint8_t* data, int count, int volume, Wide lo, Wide hi, Wide bias) {
  for (int i = 0; i < count; ++i) {
    T s;
    std::memcpy(&s, data + size_t(i) * sizeof(T), sizeof(T));
    Wide v = ((Wide(s) - bias) * volume + 128) >> 8;
    v = std::clamp<Wide>(v + bias, lo, hi);
    s = T(v);
    std::memcpy(data + size_t(i) * sizeof(T), &s, sizeof(T));
  }
}

template <typename T>
void ScaleFloats(std::uint8_t* data, int count, int volume) {
  const T factor = T(volume) / T(256);
  for (int i = 0; i < count; ++i) {
    T s;
    std::memcpy(&s, data + size_t(i) * sizeof(T), sizeof(T));
    s *= factor;
    std::memcpy(data + size_t(i) * sizeof(T), &s, sizeof(T));
  }
}

}  // namespace

void ApplyAudioVolume(std::uint8_t* data, int bytes, int sampleFormat, int volume) {
  if (volume == 256 || !data || bytes <= 0) return;
  const AVSampleFormat fmt = ff::av_get_packed_sample_fmt(AVSampleFormat(sampleFormat));
  switch (fmt) {
    case AV_SAMPLE_FMT_U8:
      ScaleInts<std::uint8_t, int>(data, bytes, volume, 0, 255, 128);
      break;
    case AV_SAMPLE_FMT_S16:
      ScaleInts<std::int16_t, int>(data, bytes / 2, volume, -32768, 32767, 0);
      break;
    case AV_SAMPLE_FMT_S32:
      ScaleInts<std::int32_t, std::int64_t>(data, bytes / 4, volume, INT32_MIN, INT32_MAX, 0);
      break;
    case AV_SAMPLE_FMT_S64:
      ScaleInts<std::int64_t, __int128>(data, bytes / 8, volume, INT64_MIN, INT64_MAX, 0);
      break;
    case AV_SAMPLE_FMT_FLT:
      ScaleFloats<float>(data, bytes / 4, volume);
      break;
    case AV_SAMPLE_FMT_DBL:
      ScaleFloats<double>(data, bytes / 8, volume);
      break;
    default:
      break;
  }
}

void ApplyAudioVolume(AVFrame* frame, int volume) {
  if (volume == 256 || !frame || frame->nb_samples <= 0) return;
  if (ff::av_frame_make_writable(frame) < 0) return;
  const AVSampleFormat fmt = AVSampleFormat(frame->format);
  const int channels = frame->ch_layout.nb_channels;
  const bool planar = ff::av_sample_fmt_is_planar(fmt);
  const int bytes = ff::av_get_bytes_per_sample(fmt) * frame->nb_samples * (planar ? 1 : channels);
  for (int p = 0; p < (planar ? channels : 1); ++p) ApplyAudioVolume(frame->extended_data[p], bytes, frame->format, volume);
}

}  // namespace qv
