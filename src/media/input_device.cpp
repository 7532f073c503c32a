#include "media/input_device.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "media/ff_api.h"
#include "media/ff_owners.h"

namespace qv {

namespace {

std::mutex RegistryLock;
std::vector<const TInputDevice*>& Registry() {
  static std::vector<const TInputDevice*> devices;
  return devices;
}

bool ValidRate(AVRational r) { return r.num > 0 && r.den > 0; }

int ChannelsOf(const AVCodecParameters* par) {
  if (par->ch_layout.nb_channels > 0) return par->ch_layout.nb_channels;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return par->channels;  // a device that fills only the older field
#pragma GCC diagnostic pop
}

int BytesPerSampleOf(const AVCodecParameters* par) {
  if (par->format >= 0) {
    const int bytes = ff::av_get_bytes_per_sample(AVSampleFormat(par->format));
    if (bytes > 0) return bytes;
  }
  if (par->bits_per_coded_sample > 0) return par->bits_per_coded_sample / 8;
  return ff::av_get_exact_bits_per_sample(par->codec_id) / 8;
}

}  // namespace

void RegisterInputFormat(const TInputDevice* device) {
  if (!device || !device->name) return;
  std::lock_guard<std::mutex> lock(RegistryLock);
  for (const TInputDevice* d : Registry())
    if (d->name == device->name) return;  // the very same record, not merely the same text
  Registry().push_back(device);
}

const TInputDevice* FindInputDevice(const std::string& name) {
  std::lock_guard<std::mutex> lock(RegistryLock);
  for (const TInputDevice* d : Registry())
    if (name == d->name) return d;
  return nullptr;
}

std::vector<const TInputDevice*> RegisteredInputDevices() {
  std::lock_guard<std::mutex> lock(RegistryLock);
  return Registry();
}

// Running position of one stream, for packets that arrive without time stamps.
struct TDeviceInput::TStamp {
  std::int64_t Frames = 0;   // video packets so far
  std::int64_t Samples = 0;  // audio samples so far
};

TDeviceInput::TDeviceInput() = default;
TDeviceInput::~TDeviceInput() { Close(); }

bool TDeviceInput::MakeState(const TInputDevice* device, AVFormatContext* ctx) {
  if (device->create) {
    State = device->create();
    ctx->priv_data = static_cast<TDeviceState*>(State.get());
    return State != nullptr;
  }
  if (device->priv_data_size > 0) ctx->priv_data = ff::av_mallocz(static_cast<size_t>(device->priv_data_size));
  return device->priv_data_size <= 0 || ctx->priv_data;
}

// The state is ours, not the format context's: it goes before the context so it is freed once.
void TDeviceInput::Discard(AVFormatContext* ctx) {
  const TFormatContextPtr owned(ctx);
  if (State) {
    ctx->priv_data = nullptr;
    State.reset();
  } else {
    FreeThrough<TAvMemPtr<void>>(ctx->priv_data);
  }
}

int TDeviceInput::Open(const TInputDevice* device, const std::string& url, TFormatParameters* ap) {
  Close();
  if (!device || !device->read_header || !device->read_packet) return AVERROR(EINVAL);
  AVFormatContext* ctx = ff::avformat_alloc_context();
  if (!ctx) return AVERROR(ENOMEM);
  Error.clear();
  ctx->opaque = this;  // SetDeviceError finds the host through it
  int ret;
  try {
    // The old file-name field held 1023 characters and a terminating zero; devices were written for it.
    ctx->url = ff::av_strdup(url.substr(0, 1023).c_str());
    ret = MakeState(device, ctx) && ctx->url ? 0 : AVERROR(ENOMEM);
    TFormatParameters defaults;
    TFormatParameters* params = ap ? ap : &defaults;
    if (ret == 0) ret = device->read_header(ctx, params);
    HeaderTimeBase = params->time_base;
  } catch (...) {
    Discard(ctx);
    throw;
  }
  if (ret < 0) {
    // As with libavformat's demuxers, a device releases what it took itself when its open fails:
    // read_close is not called. The state and the context go here.
    Discard(ctx);
    return ret;
  }
  Dev = device;
  Ctx = ctx;
  StampCount = ctx->nb_streams;
  Stamps.reset(StampCount ? new TStamp[StampCount] : nullptr);
  return 0;
}

int TDeviceInput::ReadPacket(AVPacket* pkt) {
  if (!Ctx || !pkt) return AVERROR(EINVAL);
  const int ret = Dev->read_packet(Ctx, pkt);
  if (ret < 0) return ret;
  if (pkt->stream_index < 0 || unsigned(pkt->stream_index) >= Ctx->nb_streams) {
    ff::av_packet_unref(pkt);
    return AVERROR(EINVAL);
  }
  if (Ctx->nb_streams > StampCount) {  // a stream added after the header
    std::unique_ptr<TStamp[]> grown(new TStamp[Ctx->nb_streams]);
    for (unsigned i = 0; i < StampCount; ++i) grown[i] = Stamps[i];
    Stamps = std::move(grown);
    StampCount = Ctx->nb_streams;
  }
  AVStream* st = Ctx->streams[pkt->stream_index];
  const AVCodecParameters* par = st->codecpar;
  TStamp& stamp = Stamps[pkt->stream_index];
  const bool unstamped = pkt->pts == AV_NOPTS_VALUE && pkt->dts == AV_NOPTS_VALUE;
  const AVRational tb = ValidRate(st->time_base) ? st->time_base : AVRational{1, 1000000};

  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    AVRational rate = ValidRate(st->avg_frame_rate)   ? st->avg_frame_rate
                      : ValidRate(st->r_frame_rate)   ? st->r_frame_rate
                      : ValidRate(HeaderTimeBase)     ? av_inv_q(HeaderTimeBase)
                                                      : AVRational{0, 0};
    if (unstamped && ValidRate(rate)) {
      const AVRational period = av_inv_q(rate);
      // From the frame index rather than by adding periods, so rates like 30000/1001 do not drift.
      pkt->pts = pkt->dts = ff::av_rescale_q(stamp.Frames, period, tb);
      pkt->duration = ff::av_rescale_q(1, period, tb);
    }
    ++stamp.Frames;
  } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
    const int frameBytes = ChannelsOf(par) * BytesPerSampleOf(par);
    if (frameBytes > 0 && par->sample_rate > 0) {
      const std::int64_t samples = pkt->size / frameBytes;
      const AVRational sampleTb{1, par->sample_rate};
      if (unstamped) {
        pkt->pts = pkt->dts = ff::av_rescale_q(stamp.Samples, sampleTb, tb);
        pkt->duration = ff::av_rescale_q(stamp.Samples + samples, sampleTb, tb) - pkt->pts;
      }
      stamp.Samples += samples;
    }
  }
  if (pkt->dts == AV_NOPTS_VALUE) pkt->dts = pkt->pts;
  else if (pkt->pts == AV_NOPTS_VALUE) pkt->pts = pkt->dts;
  // Raw pictures and PCM are all key frames; the library marks them so for its own demuxers.
  if (const AVCodecDescriptor* desc = ff::avcodec_descriptor_get(par->codec_id))
    if (desc->props & AV_CODEC_PROP_INTRA_ONLY) pkt->flags |= AV_PKT_FLAG_KEY;
  return ret;
}

namespace {

const char* DeviceItemName(void* object) { return (*static_cast<const AVClass**>(object))->class_name; }

}  // namespace

AVClass DeviceLogClass(const char* name) {
  AVClass c{};
  c.class_name = name;
  c.item_name = DeviceItemName;
  c.version = LIBAVUTIL_VERSION_INT;
  c.category = AV_CLASS_CATEGORY_INPUT;
  return c;
}

void SetDeviceError(AVFormatContext* ctx, const std::string& text) {
  if (ctx && ctx->opaque) static_cast<TDeviceInput*>(ctx->opaque)->Error = text;
}

int DeviceFailure(AVFormatContext* ctx, void* logContext, int code, const std::string& text) {
  ff::av_log(logContext, AV_LOG_ERROR, "%s\n", text.c_str());
  SetDeviceError(ctx, text);
  return code;
}

void TDeviceInput::Close() {
  if (!Ctx) return;
  AVFormatContext* ctx = Ctx;
  const TInputDevice* dev = Dev;
  Ctx = nullptr;
  Dev = nullptr;
  Stamps.reset();
  StampCount = 0;
  if (dev->read_close) dev->read_close(ctx);
  Discard(ctx);
}

}  // namespace qv
