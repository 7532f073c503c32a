#include "capture/pipewire_capture.h"

#include <string>

#include "capture/capture_session.h"
#include "capture/device_options.h"
#include "capture/pipewire_stream.h"
#include "capture/screencast_portal.h"
#include "media/ff_api.h"

namespace qv {

namespace {

const AVClass kPipeWireCaptureClass = DeviceLogClass("pipewirecapture");
// The compositor sends a picture when the screen changes, and at once when the stream starts.
constexpr int kFirstFrameTimeoutMs = 10000;

std::unique_ptr<TDeviceState> NewPipeWireCapture() { return std::make_unique<TPipeWireCaptureContext>(); }

int ReadHeader(AVFormatContext* ctx, TFormatParameters* ap);
int ReadPacket(AVFormatContext* ctx, AVPacket* pkt);

const TInputDevice kPipeWireCaptureDevice = {
    "pipewirecapture", "Screen capture through the ScreenCast portal and PipeWire", 0, ReadHeader, ReadPacket,
    nullptr,  // the host destroys the state, which releases everything
    AVFMT_NOFILE,      NewPipeWireCapture,
};

TPipeWireCaptureContext* State(AVFormatContext* ctx) { return DeviceState<TPipeWireCaptureContext>(ctx); }

int Fail(AVFormatContext* ctx, TPipeWireCaptureContext* s, int code, const std::string& text) {
  return DeviceFailure(ctx, s->LogContext(), code, text);
}

int ApplyOptions(AVFormatContext* ctx, TPipeWireCaptureContext* s, TFormatParameters* ap,
                 TScreenCaptureOptions& o) {
  std::string error;
  if (!ParseScreenCaptureOptions(ctx->url ? ctx->url : "", o, error))
    return Fail(ctx, s, AVERROR(EINVAL), "The screen capture settings are invalid (" + error + ").");
  if (o.Window || o.HasTitle)
    return Fail(ctx, s, AVERROR(EINVAL), "A window is picked in the desktop's own dialog here, not by its id or title.");
  if (o.OffsetX < 0 || o.OffsetY < 0)
    return Fail(ctx, s, AVERROR(EINVAL), "The area to record starts left of or above the screen.");
  bool unknown = false;
  s->Session = TCaptureSession::FindOrOwn(o.Session, unknown);
  if (unknown)
    ff::av_log(s->LogContext(), AV_LOG_WARNING, "session %lld is not a registered capture session, ignored\n",
               static_cast<long long>(o.Session));
  s->SkipUnchanged = o.SkipUnchanged != 0;
  if (o.HasFrameRate) ap->time_base = AVRational{o.RateDen, o.RateNum};
  if (ap->time_base.num <= 0 || ap->time_base.den <= 0) ap->time_base = AVRational{1, 15};
  return 0;
}

// Portal, then stream, then the first picture, which fixes the frame's size and format.
int OpenStream(AVFormatContext* ctx, TPipeWireCaptureContext* s, const TScreenCaptureOptions& o, TFormatParameters* ap) {
  std::string error;
  std::uint32_t node = o.Node;
  int fd = -1;  // -1: the session's own PipeWire
  if (!node) {
    s->Portal = std::make_unique<TScreenCastPortal>();
    s->Portal->SetRestoreToken(s->Session->RestoreToken());
    s->Portal->AskForWindow(o.PortalWindow != 0);
    fd = s->Portal->Share(o.DrawCursor != 0, error);
    s->Session->SetRestoreToken(s->Portal->RestoreToken());
    if (fd < 0) return Fail(ctx, s, AVERROR(EIO), error);
    node = s->Portal->Stream().Node;
  }
  TCropArea crop;
  crop.X = o.OffsetX;
  crop.Y = o.OffsetY;
  crop.Width = o.HasFrameSize ? o.Width : ap->width;
  crop.Height = o.HasFrameSize ? o.Height : ap->height;
  s->Stream = std::make_unique<TPipeWireStream>();
  if (!s->Stream->Start(fd, node, crop, error) ||
      !s->Stream->WaitFirstFrame(kFirstFrameTimeoutMs, error))
    return Fail(ctx, s, AVERROR(EIO), "The screen cannot be read (" + error + ").");
  return 0;
}

void DescribeStream(const TPipeWireStream& stream, AVRational period, AVStream* st) {
  st->time_base = AVRational{1, 1000000};
  AVCodecParameters* par = st->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = AV_CODEC_ID_RAWVIDEO;
  par->width = stream.Width();
  par->height = stream.Height();
  par->format = stream.PixelFormat();
  par->bits_per_coded_sample = 32;
  par->bit_rate = ff::av_rescale_rnd(std::int64_t(stream.FrameBytes()) * 8, period.den, period.num, AV_ROUND_NEAR_INF);
  st->r_frame_rate = st->avg_frame_rate = AVRational{period.den, period.num};
}

// A monitor whose mode changed is neither scaled nor followed, as on X11: said once.
void FollowStreamSize(TPipeWireCaptureContext* s) {
  int width = 0, height = 0;
  s->Stream->StreamSize(width, height);
  if (s->SaidSize || (width == s->FirstWidth && height == s->FirstHeight)) return;
  s->SaidSize = true;
  ff::av_log(s->LogContext(), AV_LOG_WARNING,
             "The screen is now %dx%d: the recording goes on at %dx%d, the same part of the screen, black where "
             "the screen no longer reaches (nothing is scaled).\n",
             width, height, s->Stream->Width(), s->Stream->Height());
}

// What a failed open took is released by the host destroying the state.
int ReadHeader(AVFormatContext* ctx, TFormatParameters* ap) {
  TPipeWireCaptureContext* s = State(ctx);
  TScreenCaptureOptions o;
  if (const int rc = ApplyOptions(ctx, s, ap, o)) return rc;
  if (const int rc = OpenStream(ctx, s, o, ap)) return rc;
  AVStream* st = ff::avformat_new_stream(ctx, nullptr);
  if (!st) return Fail(ctx, s, AVERROR(ENOMEM), "The screen cannot be read: out of memory.");
  s->Stream->StreamSize(s->FirstWidth, s->FirstHeight);
  s->Schedule.Setup(ap->time_base, s->Session.get(), s);
  DescribeStream(*s->Stream, ap->time_base, st);
  ctx->flags |= AVFMT_FLAG_NOPARSE;
  ff::av_log(s->LogContext(), AV_LOG_INFO, "ready for capturing %ix%i at (%i,%i) of PipeWire node %u\n",
             s->Stream->Width(), s->Stream->Height(), o.OffsetX, o.OffsetY,
             o.Node ? o.Node : s->Portal->Stream().Node);
  s->Session->Join(s);
  return 0;
}

int ReadPacket(AVFormatContext* ctx, AVPacket* pkt) {
  TPipeWireCaptureContext* s = State(ctx);
  const std::int64_t stamp = s->Schedule.WaitNextSlot();
  pkt->stream_index = 0;
  pkt->pts = pkt->dts = stamp;
  pkt->duration = s->Schedule.PeriodMicros();
  // The desktop ends a share by closing the portal's session, or its stream just goes.
  const bool closed = s->Portal && s->Portal->Closed();
  // An empty packet: no new picture came, so the one of the slot before holds.
  const std::uint64_t pictures = s->Stream->Pictures();
  if (s->SkipUnchanged && pictures == s->PicturesCopied && !s->Schedule.ResumedFromPause() && !closed &&
      !s->Stream->Ended())
    return 0;
  s->PicturesCopied = pictures;
  if (ff::av_new_packet(pkt, s->Stream->FrameBytes()) < 0)
    return Fail(ctx, s, AVERROR(ENOMEM), "The screen cannot be read: out of memory.");
  std::string error;
  const bool copied = s->Stream->CopyLatest(pkt->data, error);
  if (s->Portal && (!copied || closed)) {
    ff::av_packet_unref(pkt);
    return Fail(ctx, s, AVERROR(EIO), "The desktop stopped sharing the screen.");
  }
  if (!copied) {
    ff::av_packet_unref(pkt);
    return Fail(ctx, s, AVERROR(EIO), "The screen cannot be read (" + error + ").");
  }
  FollowStreamSize(s);
  pkt->stream_index = 0;
  pkt->flags |= AV_PKT_FLAG_KEY;
  pkt->pts = pkt->dts = stamp;
  pkt->duration = s->Schedule.PeriodMicros();
  return pkt->size;
}

}  // namespace

TPipeWireCaptureContext::TPipeWireCaptureContext() : LogClass(&kPipeWireCaptureClass) {}

TPipeWireCaptureContext::~TPipeWireCaptureContext() {
  if (Session) Session->Leave(this);
  Stream.reset();
  Portal.reset();
}

void RegisterPipeWireCapture() { RegisterInputFormat(&kPipeWireCaptureDevice); }

}  // namespace qv
