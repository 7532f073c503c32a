// The "wavecapture" record, its registration and opening.
#include "capture/wave_capture.h"

#include <new>
#include <type_traits>

#include "capture/capture_timeline.h"
#include "capture/device_options.h"
#include "capture/pause_flags.h"
#include "capture/wave_capture_clock.h"
#include "capture/wave_capture_queue.h"
#include "media/ff_api.h"

namespace qv {

static_assert(std::is_trivially_destructible_v<TWaveCaptureContext>,
              "the host frees the private state without running a destructor");

const TInputDevice WaveCaptureDevice = {
    "wavecapture",
    "Wave capture using waveIn functions",
    static_cast<int>(sizeof(TWaveCaptureContext)),
    WaveCaptureReadHeader,
    WaveCaptureReadPacket,
    WaveCaptureReadClose,
    AVFMT_NOFILE,
};

void RegisterWaveCapture() { RegisterInputFormat(&WaveCaptureDevice); }

namespace {

int Fail(TWaveCaptureContext* state, int code) {
  CloseWaveDevice(state);
  return code;
}

}  // namespace

int WaveCaptureReadHeader(AVFormatContext* ctx, TFormatParameters*) {
  if (!ctx->priv_data) return AVERROR(ENOMEM);
  // The host hands over zeroed memory; begin the state's life there properly.
  auto* state = new (ctx->priv_data) TWaveCaptureContext{};
  state->Owner.store(ctx);
  state->FrameSize = 4096;

  TWaveCaptureOptions options;
  std::string error;
  ParseWaveCaptureOptions(ctx->url ? ctx->url : "", options, error);
  state->DeviceId = options.DeviceId;
  state->SampleRate = options.SampleRate;
  state->Channels = options.Channels;
  state->BitsPerSample = options.BitsPerSample;
  state->BufferSize = options.BufferSize;
  if (options.PausePointer != 0) {
    // The number is only a key into the flags the program registered; it is never dereferenced.
    TPauseFlagRef flag = ResolvePauseFlag(options.PausePointer);
    if (flag) {
      state->PausePointer = new TPauseFlagRef(std::move(flag));
    } else {
      ff::av_log(ctx, AV_LOG_WARNING, "pause_pointer %lld is not a registered pause flag, ignored\n",
                 static_cast<long long>(options.PausePointer));
    }
  }

  if (state->SampleRate <= 0) {
    ff::av_log(ctx, AV_LOG_ERROR, "Bad sample rate %d\n", state->SampleRate);
    return Fail(state, AVERROR(EIO));
  }
  if (state->Channels != 1 && state->Channels != 2) {
    ff::av_log(ctx, AV_LOG_ERROR, "Bad channels number %d\n", state->Channels);
    return Fail(state, AVERROR(EIO));
  }
  if (state->BitsPerSample == 8) {
    state->SampleFormat = AV_SAMPLE_FMT_U8;
    state->CodecId = AV_CODEC_ID_PCM_U8;
  } else if (state->BitsPerSample == 16) {
    state->SampleFormat = AV_SAMPLE_FMT_S16;
    state->CodecId = AV_CODEC_ID_PCM_S16LE;
  } else {
    ff::av_log(ctx, AV_LOG_ERROR, "Bad sample format %d\n", state->BitsPerSample);
    return Fail(state, AVERROR(EIO));
  }

  state->QueueLock = new (std::nothrow) std::mutex;
  if (!state->QueueLock) {
    ff::av_log(ctx, AV_LOG_ERROR, "Could not create Mutex.\n");
    return Fail(state, AVERROR(EIO));
  }
  state->DataReady = new (std::nothrow) TWaveEvent;
  if (!state->DataReady) {
    ff::av_log(ctx, AV_LOG_ERROR, "Could not create Event.\n");
    return Fail(state, AVERROR(EIO));
  }
  state->Clock = new (std::nothrow) TWaveClock(state->SampleRate);
  if (!state->Clock) return Fail(state, AVERROR(ENOMEM));
  if (!OpenWaveDevice(state)) return Fail(state, AVERROR(EIO));

  AVStream* stream = ff::avformat_new_stream(ctx, nullptr);
  if (!stream) {
    ff::av_log(ctx, AV_LOG_ERROR, "Cannot add stream.\n");
    return Fail(state, AVERROR(ENOMEM));
  }
  AVCodecParameters* par = stream->codecpar;
  par->codec_type = AVMEDIA_TYPE_AUDIO;
  par->codec_id = state->CodecId;
  ff::av_channel_layout_default(&par->ch_layout, state->Channels);
  par->sample_rate = state->SampleRate;
  par->block_align = state->WaveFormat.BlockAlign;
  par->format = state->SampleFormat;
  par->bit_rate = static_cast<std::int64_t>(state->SampleRate) * state->Channels * state->BitsPerSample;
  par->frame_size = state->FrameSize;
  par->bits_per_coded_sample = state->BitsPerSample;
  // Microsecond time stamps; no parsing and no probing reads, so nothing is captured before the
  // engine asks for the first packet.
  stream->time_base = AVRational{1, 1000000};
  stream->pts_wrap_bits = 64;
  ctx->flags |= AVFMT_FLAG_NOPARSE;
  ctx->probesize = 0;

  JoinCaptureTimeline(state);
  ff::av_log(ctx, AV_LOG_INFO, "ready for recording...\n");
  return 0;
}

int WaveCaptureReadClose(AVFormatContext* ctx) {
  if (ctx->priv_data) CloseWaveDevice(static_cast<TWaveCaptureContext*>(ctx->priv_data));
  return 0;
}

}  // namespace qv
