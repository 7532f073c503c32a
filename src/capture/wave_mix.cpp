#include "capture/wave_mix.h"

#include <algorithm>

#include "capture/capture_session.h"
#include "capture/device_options.h"
#include "capture/wave_capture.h"
#include "media/ff_api.h"
#include "media/ff_owners.h"

namespace qv {

namespace {

const AVClass kWaveMixClass = DeviceLogClass("wavemix");

std::unique_ptr<TDeviceState> NewWaveMix() { return std::make_unique<TWaveMix>(); }

std::string SourceOptions(const TWaveCaptureOptions& common, const TWaveMixInputOptions& input) {
  std::string options = "r=" + std::to_string(common.SampleRate) + ";c=" + std::to_string(common.Channels) +
                        ";f=16;bufsize=" + std::to_string(common.BufferSize) +
                        ";session=" + std::to_string(static_cast<long long>(common.Session));
  return input.Source.empty() ? options : options + ";source=" + input.Source;  // takes the rest: last
}

int OpenSources(AVFormatContext* ctx, TWaveMix& mix, const TWaveMixOptions& options) {
  std::vector<TMixInput> inputs;
  for (const TWaveMixInputOptions& input : options.Inputs) {
    TWaveMix::TSource source;
    source.Capture = std::make_unique<TDeviceInput>();
    source.Channels = options.Common.Channels;
    TFormatParameters ap;
    if (const int rc = source.Capture->Open(&WaveCaptureDevice, SourceOptions(options.Common, input), &ap); rc < 0)
      return DeviceFailure(ctx, mix.LogContext(), rc, source.Capture->ErrorText());
    mix.Sources.push_back(std::move(source));
    inputs.push_back({input.Label, input.Volume, input.Muted, input.WatchSilence});
    ff::av_log(mix.LogContext(), AV_LOG_INFO, "source %zu: %s \"%s\" at %d%%%s\n", mix.Sources.size(),
               input.Label.c_str(), input.Source.empty() ? "default" : input.Source.c_str(), input.Volume,
               input.Muted ? ", muted" : "");
  }
  mix.Mixer = std::make_unique<TSoundMixer>(std::move(inputs), options.Common.SampleRate, options.Common.Channels);
  return 0;
}

// One read of `source`'s capture, its samples kept: the packet's size, or the capture's error.
int ReadInto(TWaveMix::TSource& source, bool blocking) {
  AVFormatContext* sub = source.Capture->Context();
  sub->flags = blocking ? sub->flags & ~AVFMT_FLAG_NONBLOCK : sub->flags | AVFMT_FLAG_NONBLOCK;
  TPacketPtr packet(ff::av_packet_alloc());
  if (!packet) return AVERROR(ENOMEM);
  const int rc = source.Capture->ReadPacket(packet.get());
  if (rc < 0) return rc;
  const auto* samples = reinterpret_cast<const std::int16_t*>(packet->data);
  source.Pending.insert(source.Pending.end(), samples, samples + packet->size / 2);
  return rc;
}

int Drain(TWaveMix::TSource& source) {
  for (;;) {
    const int rc = ReadInto(source, false);
    if (rc == AVERROR(EAGAIN)) return 0;
    if (rc < 0) return rc;
  }
}

void Consume(TWaveMix::TSource& source, std::size_t samples) {
  source.Offset += samples;
  if (source.Offset * 2 < source.Pending.size()) return;
  source.Pending.erase(source.Pending.begin(), source.Pending.begin() + std::ptrdiff_t(source.Offset));
  source.Offset = 0;
}

void Tell(TWaveMix& mix) {
  mix.Session->SetSoundLevels(mix.Mixer->Levels());
  for (const std::string& notice : mix.Mixer->TakeSilenceNotices()) {
    ff::av_log(mix.LogContext(), AV_LOG_WARNING, "%s\n", notice.c_str());
    mix.Session->PostNotice(notice);
  }
}

// What every source has delivered, summed into `pkt`: its size, or 0 while some source has nothing.
int MixPending(TWaveMix& mix, AVPacket* pkt, std::int64_t most) {
  std::int64_t frames = most;
  for (const TWaveMix::TSource& source : mix.Sources) frames = std::min(frames, source.Frames());
  if (frames <= 0) return 0;
  const auto samples = static_cast<std::size_t>(frames * mix.Channels);
  if (ff::av_new_packet(pkt, static_cast<int>(samples * 2)) < 0) return AVERROR(ENOMEM);
  mix.Heads.clear();
  for (const TWaveMix::TSource& source : mix.Sources) mix.Heads.push_back(source.Pending.data() + source.Offset);
  mix.Mixer->Mix(mix.Heads, frames, reinterpret_cast<std::int16_t*>(pkt->data));
  for (TWaveMix::TSource& source : mix.Sources) Consume(source, samples);
  Tell(mix);
  return pkt->size;
}

int WaveMixReadHeader(AVFormatContext* ctx, TFormatParameters*) {
  TWaveMix& mix = *DeviceState<TWaveMix>(ctx);
  TWaveMixOptions options;
  std::string error;
  if (!ParseWaveMixOptions(ctx->url ? ctx->url : "", options, error))
    return DeviceFailure(ctx, mix.LogContext(), AVERROR(EINVAL), error + ".");
  if (options.Inputs.empty() || options.Common.BitsPerSample != 16)
    return DeviceFailure(ctx, mix.LogContext(), AVERROR(EINVAL),
                         "Invalid sound settings: mixing takes 16-bit sound from at least one source.");
  bool unknown = false;
  mix.Session = TCaptureSession::FindOrOwn(options.Common.Session, unknown);
  mix.Channels = options.Common.Channels;
  mix.SampleRate = options.Common.SampleRate;
  if (const int rc = OpenSources(ctx, mix, options)) return rc;

  AVStream* stream = ff::avformat_new_stream(ctx, nullptr);
  if (!stream || ff::avcodec_parameters_copy(stream->codecpar, mix.Sources[0].Capture->Context()->streams[0]->codecpar) < 0)
    return DeviceFailure(ctx, mix.LogContext(), AVERROR(ENOMEM), "The sound input cannot be read: out of memory.");
  stream->time_base = AVRational{1, 1000000};
  stream->pts_wrap_bits = 64;
  ctx->flags |= AVFMT_FLAG_NOPARSE;
  ctx->probesize = 0;
  return 0;
}

int WaveMixReadPacket(AVFormatContext* ctx, AVPacket* pkt) {
  TWaveMix& mix = *DeviceState<TWaveMix>(ctx);
  const bool blocking = !(ctx->flags & AVFMT_FLAG_NONBLOCK);
  // At most a second of sound in one packet, as the wave device's own silence packets.
  const std::int64_t most = std::max(1, mix.SampleRate);
  for (;;) {
    for (TWaveMix::TSource& source : mix.Sources)
      if (const int rc = Drain(source); rc < 0) return DeviceFailure(ctx, mix.LogContext(), rc, source.Capture->ErrorText());
    if (const int size = MixPending(mix, pkt, most); size != 0) return size;
    if (!blocking) return AVERROR(EAGAIN);
    // Wait where the mix waits: on the source furthest behind (its read gives up after a second).
    auto behind = std::min_element(mix.Sources.begin(), mix.Sources.end(),
                                   [](const auto& a, const auto& b) { return a.Frames() < b.Frames(); });
    if (const int rc = ReadInto(*behind, true); rc < 0)
      return rc == AVERROR(EAGAIN) ? rc : DeviceFailure(ctx, mix.LogContext(), rc, behind->Capture->ErrorText());
  }
}

}  // namespace

const TInputDevice WaveMixDevice = {
    "wavemix",    "Several sound sources mixed into one",
    0,            WaveMixReadHeader,
    WaveMixReadPacket,
    nullptr,  // the host destroys the state, which closes every source
    AVFMT_NOFILE, NewWaveMix,
};

void RegisterWaveMix() {
  RegisterWaveCapture();
  RegisterInputFormat(&WaveMixDevice);
}

TWaveMix::TWaveMix() : LogClass(&kWaveMixClass) {}

TWaveMix::~TWaveMix() {
  if (!Mixer || Mixer->MixedFrames() == 0) return;
  const double rate = SampleRate;
  ff::av_log(LogContext(), AV_LOG_INFO, "the limiter acted %lld times, holding %.2f s of %.1f s of sound down\n",
             static_cast<long long>(Mixer->LimiterOnsets()), double(Mixer->LimitedFrames()) / rate,
             double(Mixer->MixedFrames()) / rate);
}

std::int64_t TWaveMix::TSource::Frames() const { return std::int64_t(Pending.size() - Offset) / Channels; }

}  // namespace qv
