// The "wavecapture" record, its registration and opening.
#include "capture/wave_capture.h"

#include <cstdio>

#include "capture/capture_session.h"
#include "capture/device_options.h"
#include "capture/wave_capture_reopen.h"
#include "capture/wave_capture_thread.h"
#include "media/ff_api.h"

namespace qv {

namespace {

const AVClass kWaveCaptureClass = DeviceLogClass("wavecapture");

std::unique_ptr<TDeviceState> NewWaveCapture() { return std::make_unique<TWaveCapture>(); }

std::string Format(const char* pattern, auto... values) {
  char buf[256];
  std::snprintf(buf, sizeof(buf), pattern, values...);
  return buf;
}

int Fail(AVFormatContext* ctx, TWaveCaptureContext& state, int code, const std::string& text) {
  return DeviceFailure(ctx, state.LogContext(), code, text);
}

// The sample format, and a buffer of whole frames no longer than kWaveMaxBufferUs of audio.
int CheckFormat(AVFormatContext* ctx, TWaveCaptureContext& state) {
  if (state.SampleRate <= 0)
    return Fail(ctx, state, AVERROR(EINVAL), Format("Invalid sound settings: sample rate %d.", state.SampleRate));
  if (state.Channels != 1 && state.Channels != 2)
    return Fail(ctx, state, AVERROR(EINVAL),
                Format("Invalid sound settings: %d channels (1 or 2 can be recorded).", state.Channels));
  if (state.BitsPerSample != 8 && state.BitsPerSample != 16)
    return Fail(ctx, state, AVERROR(EINVAL),
                Format("Invalid sound settings: %d bits per sample (8 or 16 can be recorded).", state.BitsPerSample));
  const bool eight = state.BitsPerSample == 8;
  state.SampleFormat = eight ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
  state.CodecId = eight ? AV_CODEC_ID_PCM_U8 : AV_CODEC_ID_PCM_S16LE;
  const int blockAlign = state.Channels * state.BitsPerSample / 8;
  const std::int64_t most = std::int64_t(state.SampleRate) * blockAlign * kWaveMaxBufferUs / 1000000;
  if (state.BufferSize < blockAlign || state.BufferSize > most)
    return Fail(ctx, state, AVERROR(EINVAL),
                Format("Invalid sound settings: a buffer of %d bytes (%d to %lld can be used).", state.BufferSize,
                       blockAlign, static_cast<long long>(most)));
  return 0;
}

int ApplyOptions(AVFormatContext* ctx, TWaveCaptureContext& state) {
  TWaveCaptureOptions options;
  std::string error;
  ParseWaveCaptureOptions(ctx->url ? ctx->url : "", options, error);
  state.DeviceId = options.DeviceId;
  state.Source = options.Source;
  state.SampleRate = options.SampleRate;
  state.Channels = options.Channels;
  state.BitsPerSample = options.BitsPerSample;
  state.BufferSize = options.BufferSize;
  // The number is only a key into the sessions the program registered; it is never dereferenced.
  bool unknown = false;
  state.Session = TCaptureSession::FindOrOwn(options.Session, unknown);
  if (unknown)
    ff::av_log(state.LogContext(), AV_LOG_WARNING, "session %lld is not a registered capture session, ignored\n",
               static_cast<long long>(options.Session));
  return CheckFormat(ctx, state);
}

std::string OpenFailureText(const TWaveCaptureContext& state, const std::string& reason) {
  if (state.Source.empty()) return "No sound input could be opened (ALSA: " + reason + ").";
  return "The sound source \"" + state.Source + "\" could not be opened (ALSA: " + reason + ").";
}

void DescribeStream(const TWaveCaptureContext& state, AVStream* stream) {
  AVCodecParameters* par = stream->codecpar;
  par->codec_type = AVMEDIA_TYPE_AUDIO;
  par->codec_id = state.CodecId;
  ff::av_channel_layout_default(&par->ch_layout, state.Channels);
  par->sample_rate = state.SampleRate;
  par->block_align = state.WaveFormat.BlockAlign;
  par->format = state.SampleFormat;
  par->bit_rate = static_cast<std::int64_t>(state.SampleRate) * state.Channels * state.BitsPerSample;
  par->frame_size = state.FrameSize;
  par->bits_per_coded_sample = state.BitsPerSample;
  // Microsecond time stamps; no parsing and no probing reads, so nothing is captured before the
  // engine asks for the first packet.
  stream->time_base = AVRational{1, 1000000};
  stream->pts_wrap_bits = 64;
}

}  // namespace

const TInputDevice WaveCaptureDevice = {
    "wavecapture", "Wave capture using waveIn functions",
    0,             WaveCaptureReadHeader,
    WaveCaptureReadPacket,
    nullptr,  // the host destroys the state, which closes the device
    AVFMT_NOFILE,  NewWaveCapture,
};

void RegisterWaveCapture() { RegisterInputFormat(&WaveCaptureDevice); }

TWaveCaptureContext::TWaveCaptureContext() : LogClass(&kWaveCaptureClass) {}

TWaveCapture::TWaveCapture() : State(std::make_shared<TWaveCaptureContext>()) {}

TWaveCapture::~TWaveCapture() { CloseWaveDevice(*this); }

// What a failed open took is released by the host destroying the state.
int WaveCaptureReadHeader(AVFormatContext* ctx, TFormatParameters*) {
  TWaveCapture& capture = *DeviceState<TWaveCapture>(ctx);
  TWaveCaptureContext& state = *capture.State;
  if (const int rc = ApplyOptions(ctx, state)) return rc;
  state.Clock.emplace(state.SampleRate);
  if (const std::string reason = OpenWaveDevice(capture); !reason.empty())
    return Fail(ctx, state, AVERROR(EIO), OpenFailureText(state, reason));

  AVStream* stream = ff::avformat_new_stream(ctx, nullptr);
  if (!stream) return Fail(ctx, state, AVERROR(ENOMEM), "The sound input cannot be read: out of memory.");
  DescribeStream(state, stream);
  ctx->flags |= AVFMT_FLAG_NOPARSE;
  ctx->probesize = 0;

  state.Session->Join(&state);
  ff::av_log(state.LogContext(), AV_LOG_INFO, "ready for recording...\n");
  return 0;
}

}  // namespace qv
