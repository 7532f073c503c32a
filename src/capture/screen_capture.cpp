#include "capture/screen_capture.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "capture/capture_timeline.h"
#include "capture/device_options.h"
#include "capture/frame_form.h"
#include "capture/screen_capture_cursor.h"
#include "capture/screen_capture_x11.h"
#include "media/ff_api.h"

namespace qv {

namespace {

const TInputDevice kScreenCaptureDevice = {
    "screencapture",         "Screen capture using GDI", int(sizeof(TScreenCaptureContext)),
    ScreenCaptureReadHeader, ScreenCaptureReadPacket,     ScreenCaptureReadClose,
    AVFMT_NOFILE,
};

// A gap this long between two requests, with the reader idle through it, is taken for a pause.
constexpr std::int64_t kPauseGapUs = 500000;

std::mutex PauseLock;
std::int64_t PausedSum = 0;
std::int64_t PauseStart = -1;
std::atomic<bool> PauseClockUsed{false};

std::int64_t ThreadCpuMicros() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return std::int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

TScreenCaptureContext* State(AVFormatContext* ctx) { return static_cast<TScreenCaptureContext*>(ctx->priv_data); }
::Display* Dpy(const TScreenCaptureContext* s) { return static_cast<::Display*>(s->Source); }

// Releases everything an open took; used by close and by an open step that fails.
void ReleaseCapture(TScreenCaptureContext* s) {
  // The overlay's thread reads this state: it goes first.
  delete s->FrameForm;
  s->FrameForm = nullptr;
  // A lost connection accepts no more requests: the pool then only drops its memory.
  if (s->Images) s->Images->Release();
  s->Images = nullptr;
  delete s->Area;
  s->Area = nullptr;
  delete[] s->Palette;
  s->Palette = nullptr;
  CloseCaptureDisplay(Dpy(s));
  s->Source = nullptr;
}

int FailOpen(AVFormatContext* ctx, int code) {
  ReleaseCapture(State(ctx));
  return code;
}

int BitsPerPixelOfDepth(::Display* dpy, int depth) {
  int count = 0, bpp = 0;
  XPixmapFormatValues* formats = XListPixmapFormats(dpy, &count);
  for (int i = 0; formats && i < count; ++i)
    if (formats[i].depth == depth) bpp = formats[i].bits_per_pixel;
  if (formats) XFree(formats);
  return bpp;
}

void ReadPalette(TScreenCaptureContext* s) {
  ::Display* dpy = Dpy(s);
  XColor colors[256];
  for (int i = 0; i < 256; ++i) colors[i].pixel = static_cast<unsigned long>(i);
  XQueryColors(dpy, DefaultColormap(dpy, s->Screen), colors, 256);
  s->Palette = new std::uint32_t[256];
  for (int i = 0; i < 256; ++i)
    s->Palette[i] = 0xFF000000u | (std::uint32_t(colors[i].red >> 8) << 16) | (std::uint32_t(colors[i].green >> 8) << 8) |
                    std::uint32_t(colors[i].blue >> 8);
}

// How long the recording was paused since the previous request, in microseconds.
std::int64_t PausedSincePrevious(TScreenCaptureContext* s, std::int64_t now) {
  const std::int64_t clock = CapturePausedMicros();
  std::int64_t paused = 0;
  if (PauseClockUsed.load()) {
    paused = clock - s->PauseSeen;
  } else if (s->Reader == static_cast<unsigned long>(pthread_self())) {
    // Nobody tells us about pauses: a paused worker waits at its gate without running, while a
    // slow one (encoder, disk) keeps working, and its frames are owed.
    const std::int64_t gap = now - s->LastReturn;
    const std::int64_t cpu = ThreadCpuMicros() - s->LastReturnCpu;
    if (gap >= kPauseGapUs && cpu * 4 < gap) paused = gap - cpu;
  }
  s->PauseSeen = clock;
  return paused > 0 ? paused : 0;
}

void DrawPointer(AVFormatContext* ctx, TScreenCaptureContext* s, TGrabSlot* slot, int frameX, int frameY) {
  XFixesCursorImage* image = XFixesGetCursorImage(Dpy(s));
  if (!image) {
    ff::av_log(ctx, AV_LOG_ERROR, "Couldn't get cursor info: error %li\n", 0L);
    s->DrawCursor = 0;
    return;
  }
  TCursorImage cursor;
  cursor.X = image->x;
  cursor.Y = image->y;
  cursor.HotX = image->xhot;
  cursor.HotY = image->yhot;
  cursor.Width = image->width;
  cursor.Height = image->height;
  cursor.Pixels = image->pixels;
  TCursorTarget target{slot->Data, s->Stride, s->Width, s->Height, s->PixelFormat, s->Palette};
  if (!BlendCursor(cursor, target, frameX, frameY)) {
    ff::av_log(ctx, AV_LOG_ERROR, "Couldn't draw icon: error %li\n", 0L);
    s->DrawCursor = 0;
  }
  XFree(image);
}

}  // namespace

void RegisterScreenCapture() { RegisterInputFormat(&kScreenCaptureDevice); }
const TInputDevice* ScreenCaptureDevice() { return &kScreenCaptureDevice; }

void NoteCapturePaused(bool paused) {
  const std::int64_t now = ff::av_gettime_relative();
  std::lock_guard<std::mutex> lock(PauseLock);
  PauseClockUsed = true;
  if (paused && PauseStart < 0) {
    PauseStart = now;
  } else if (!paused && PauseStart >= 0) {
    PausedSum += now - PauseStart;
    PauseStart = -1;
  }
}

std::int64_t CapturePausedMicros() {
  std::lock_guard<std::mutex> lock(PauseLock);
  return PausedSum + (PauseStart >= 0 ? ff::av_gettime_relative() - PauseStart : 0);
}

int ScreenCaptureReadHeader(AVFormatContext* ctx, TFormatParameters* ap) {
  TScreenCaptureContext* s = State(ctx);
  int width = ap->width;
  int height = ap->height;

  TScreenCaptureOptions o;
  std::string error;
  if (!ParseScreenCaptureOptions(ctx->url ? ctx->url : "", o, error)) {
    ff::av_log(ctx, AV_LOG_ERROR, "%s\n", error.c_str());
    return AVERROR(EINVAL);
  }
  s->Window = o.Window;
  s->OffsetX = o.OffsetX;
  s->OffsetY = o.OffsetY;
  if (o.HasFrameSize) {
    width = o.Width;
    height = o.Height;
  }
  if (o.HasFrameRate) ap->time_base = AVRational{o.RateDen, o.RateNum};
  s->ShowFrame = o.ShowFrame;
  s->ClientOnly = o.ClientOnly;
  s->DrawCursor = o.DrawCursor;

  ::Display* dpy = OpenCaptureDisplay();
  if (!dpy) {
    ff::av_log(ctx, AV_LOG_ERROR, "Couldn't get window DC (error %li)\n", 0L);
    return AVERROR(EIO);
  }
  s->Source = dpy;
  s->Screen = DefaultScreen(dpy);
  bool foundTitle = false;
  if (o.HasTitle) {
    s->Window = o.Title.empty() ? 0 : static_cast<std::uint32_t>(FindWindowByTitle(dpy, o.Title));
    foundTitle = s->Window != 0;
  }

  if (s->Window) {
    s->Area = new TCaptureWindow;
    const int rc = ResolveCaptureWindow(dpy, s->Window, s->ClientOnly != 0, *s->Area);
    if (rc) {
      ff::av_log(ctx, AV_LOG_ERROR, "Couldn't get window DC (error %li)\n", long(rc));
      return FailOpen(ctx, AVERROR(EIO));
    }
  }

  s->ScreenWidth = DisplayWidth(dpy, s->Screen);
  s->ScreenHeight = DisplayHeight(dpy, s->Screen);
  s->Width = s->Area ? s->Area->Width : s->ScreenWidth;
  s->Height = s->Area ? s->Area->Height : s->ScreenHeight;
  if (width > 0 && width != s->Width) s->Width = width;
  if (height > 0 && height != s->Height) s->Height = height;
  // Only the far edges are clipped, against the screen, also for a window.
  if (s->OffsetX + s->Width > s->ScreenWidth) s->Width = s->ScreenWidth - s->OffsetX;
  if (s->OffsetY + s->Height > s->ScreenHeight) s->Height = s->ScreenHeight - s->OffsetY;
  s->BitsPerPixel = BitsPerPixelOfDepth(dpy, DefaultDepth(dpy, s->Screen));

  // An empty area has no frame to read either.
  if (s->Width <= 0 || s->Height <= 0 || s->BitsPerPixel % 8 != 0 || s->BitsPerPixel == 0) {
    ff::av_log(ctx, AV_LOG_ERROR, "Invalid properties, aborting\n");
    return FailOpen(ctx, AVERROR(EIO));
  }

  int poolError = 0;
  std::string what;
  s->Images = TGrabPool::Create(dpy, s->Screen, s->Width, s->Height, true, poolError, what);
  if (!s->Images) {
    ff::av_log(ctx, AV_LOG_ERROR, "Screen DC CreateCompatibleBitmap (error %li)\n", long(poolError));
    return FailOpen(ctx, AVERROR(EIO));
  }
  const XImage* image = s->Images->Template();
  s->Stride = image->bytes_per_line;
  ff::av_log(ctx, AV_LOG_DEBUG, "Using Bitmap type %li, size %lix%lix%i, %i planes of width %li bytes\n", 0L,
             long(image->width), long(image->height), image->bits_per_pixel, 1, long(image->bytes_per_line));

  s->PixelFormat = PixelFormatOfImage(image, DefaultVisual(dpy, s->Screen), DefaultDepth(dpy, s->Screen));
  if (s->PixelFormat == AV_PIX_FMT_NONE) {
    ff::av_log(ctx, AV_LOG_ERROR, "image depth %i not supported ... aborting\n", s->BitsPerPixel);
    return FailOpen(ctx, -1);
  }
  if (s->PixelFormat == AV_PIX_FMT_PAL8) ReadPalette(s);
  s->FrameBytes = s->Images->FrameBytes();

  AVStream* st = ff::avformat_new_stream(ctx, nullptr);
  if (!st) return FailOpen(ctx, AVERROR(ENOMEM));
  st->time_base = AVRational{1, 1000000};

  // A rate that is not positive cannot pace anything.
  if (ap->time_base.num <= 0 || ap->time_base.den <= 0) {
    ap->time_base = AVRational{1, 15};
    ff::av_log(ctx, AV_LOG_INFO, "frame rate assume as %d/%d.\n", 1, 15);
  }
  s->TimeBase = ap->time_base;

  if (s->ShowFrame) {
    std::string formError;
    s->FrameForm = TFrameForm::Create(s, formError);
    if (!s->FrameForm) ff::av_log(ctx, AV_LOG_WARNING, "Cannot show the capture frame: %s\n", formError.c_str());
  }

  AVCodecParameters* par = st->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = AV_CODEC_ID_RAWVIDEO;
  par->width = s->Width;
  par->height = s->Height;
  par->format = s->PixelFormat;
  par->bits_per_coded_sample = s->BitsPerPixel;
  par->bit_rate = ff::av_rescale_rnd(std::int64_t(s->FrameBytes) * 8, s->TimeBase.den, s->TimeBase.num,
                                     AV_ROUND_NEAR_INF);
  st->r_frame_rate = st->avg_frame_rate = AVRational{s->TimeBase.den, s->TimeBase.num};
  ctx->flags |= AVFMT_FLAG_NOPARSE;

  if (foundTitle) ff::av_log(ctx, AV_LOG_INFO, "Found window %s, ", o.Title.c_str());
  ff::av_log(ctx, AV_LOG_INFO, "ready for capturing %ix%ix%i at (%i,%i)\n", s->Width, s->Height, s->BitsPerPixel,
             s->OffsetX, s->OffsetY);
  JoinCaptureTimeline(s);
  return 0;
}

int ScreenCaptureReadPacket(AVFormatContext* ctx, AVPacket* pkt) {
  TScreenCaptureContext* s = State(ctx);
  const AVRational tb = s->TimeBase;  // seconds per frame
  const std::int64_t period = ff::av_rescale_rnd(1000000, tb.num, tb.den, AV_ROUND_NEAR_INF);
  std::int64_t now = ff::av_gettime_relative();

  std::atomic_ref<int> started(s->Started);
  if (!started.load()) {
    s->NextFrameTime = ff::av_rescale_rnd(now, tb.den, tb.num, AV_ROUND_NEAR_INF);
    s->FirstFrameTime = s->NextFrameTime + 1000000;
    s->PauseSeen = CapturePausedMicros();
    // When the sound of this recording started first, the first frame sits that much later on the
    // shared time line, so picture and sound begin together in the file.
    const std::int64_t shift = StartOnCaptureTimeline(
        s, ff::av_rescale_rnd(s->FirstFrameTime, tb.num, tb.den, AV_ROUND_NEAR_INF));
    s->TimelineShift = shift > 0 ? shift : 0;
    started.store(1);
  } else if (const std::int64_t paused = PausedSincePrevious(s, now); paused > 0) {
    // The time of a pause is left out of the frames as the audio device leaves it out of the sound:
    // the schedule moves on by the pause instead of catching up with frames nobody asked for.
    s->NextFrameTime += ff::av_rescale_rnd(paused, tb.den, tb.num, AV_ROUND_NEAR_INF);
    s->PausedTotal += paused;
  }
  s->NextFrameTime += 1000000;
  const std::int64_t slot = s->NextFrameTime;

  std::int64_t delay = ff::av_rescale_rnd(slot, tb.num, tb.den, AV_ROUND_NEAR_INF) - now;
  while (delay > 0) {
    if (delay >= 1000) std::this_thread::sleep_for(std::chrono::milliseconds(delay / 1000));
    else sched_yield();
    now = ff::av_gettime_relative();
    delay = ff::av_rescale_rnd(slot, tb.num, tb.den, AV_ROUND_NEAR_INF) - now;
  }
  // More than a period late: skip a slot, so a slow reader falls behind by frames, not by time.
  if (delay < -period) s->NextFrameTime += 1000000;

  int frameX = s->OffsetX, frameY = s->OffsetY;
  ::Display* dpy = Dpy(s);
  if (s->Area) {
    int wx = 0, wy = 0;
    if (!CaptureWindowOrigin(dpy, *s->Area, wx, wy)) {
      ff::av_log(ctx, AV_LOG_ERROR, "Failed to capture image (error %li)\n", long(BadWindow));
      return -1;
    }
    frameX += wx;
    frameY += wy;
  }

  TGrabSlot* grab = s->Images->Acquire();
  if (!grab) return AVERROR(EIO);
  if (const int rc = s->Images->Grab(grab, frameX, frameY, s->ScreenWidth, s->ScreenHeight)) {
    s->Images->Unuse(grab);
    ff::av_log(ctx, AV_LOG_ERROR, "Failed to capture image (error %li)\n", long(rc));
    return -1;
  }
  if (s->DrawCursor) DrawPointer(ctx, s, grab, frameX, frameY);

  AVBufferRef* buf = s->Images->Wrap(grab);
  if (!buf) {
    s->Images->Unuse(grab);
    return AVERROR(EIO);
  }
  pkt->buf = buf;
  pkt->data = grab->Data;
  pkt->size = s->FrameBytes;
  pkt->stream_index = 0;
  pkt->flags |= AV_PKT_FLAG_KEY;
  // Stamped with the slot's time on the capture clock, pauses left out: a skipped slot shows as a
  // gap the engine fills with a repeated frame, so the video keeps pace with the audio.
  pkt->pts = pkt->dts =
      ff::av_rescale_rnd(slot - s->FirstFrameTime, tb.num, tb.den, AV_ROUND_NEAR_INF) - s->PausedTotal +
      s->TimelineShift;
  pkt->duration = period;
  if (s->Palette && !s->PaletteSent) {
    if (std::uint8_t* side = ff::av_packet_new_side_data(pkt, AV_PKT_DATA_PALETTE, 256 * 4)) {
      std::memcpy(side, s->Palette, 256 * 4);
      s->PaletteSent = 1;
    }
  }

  s->LastReturn = ff::av_gettime_relative();
  s->LastReturnCpu = ThreadCpuMicros();
  s->Reader = static_cast<unsigned long>(pthread_self());
  return s->FrameBytes;
}

int ScreenCaptureReadClose(AVFormatContext* ctx) {
  LeaveCaptureTimeline(State(ctx));
  ReleaseCapture(State(ctx));
  return 0;
}

}  // namespace qv
