#include "capture/screen_capture.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "capture/capture_session.h"
#include "capture/device_options.h"
#include "capture/frame_form.h"
#include "capture/input_watch.h"
#include "capture/screen_capture_changes.h"
#include "capture/screen_capture_cursor.h"
#include "capture/screen_capture_x11.h"
#include "media/ff_api.h"

namespace qv {

namespace {

const AVClass kScreenCaptureClass = DeviceLogClass("screencapture");

std::unique_ptr<TDeviceState> NewScreenCapture() { return std::make_unique<TScreenCaptureContext>(); }

const TInputDevice kScreenCaptureDevice = {
    "screencapture",         "Screen capture using GDI", 0,
    ScreenCaptureReadHeader, ScreenCaptureReadPacket,
    nullptr,  // the host destroys the state, which releases everything
    AVFMT_NOFILE,            NewScreenCapture,
};

TScreenCaptureContext* State(AVFormatContext* ctx) { return DeviceState<TScreenCaptureContext>(ctx); }
::Display* Dpy(const TScreenCaptureContext* s) { return static_cast<::Display*>(s->Source); }

std::string Format(const char* pattern, auto... values) {
  char buf[512];
  std::snprintf(buf, sizeof(buf), pattern, values...);
  return buf;
}

int Fail(AVFormatContext* ctx, TScreenCaptureContext* s, int code, const std::string& text) {
  return DeviceFailure(ctx, s->LogContext(), code, text);
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
  s->Palette.resize(256);
  for (int i = 0; i < 256; ++i)
    s->Palette[i] = 0xFF000000u | (std::uint32_t(colors[i].red >> 8) << 16) | (std::uint32_t(colors[i].green >> 8) << 8) |
                    std::uint32_t(colors[i].blue >> 8);
}

// The one place that draws over a grabbed picture; returns the rows it drew into, which the slot
// must read again before it is used for another picture.
// One band over both; an empty band adds nothing.
TRowBand CoveringBand(const TRowBand& a, const TRowBand& b) {
  if (a.Top >= a.Bottom) return b;
  if (b.Top >= b.Bottom) return a;
  return TRowBand{std::min(a.Top, b.Top), std::max(a.Bottom, b.Bottom)};
}

TRowBand DrawPointer(TScreenCaptureContext* s, const TCursorTarget& target, int frameX, int frameY) {
  XFixesCursorImage* image = XFixesGetCursorImage(Dpy(s));
  if (!image) {
    ff::av_log(s->LogContext(), AV_LOG_ERROR, "Couldn't get cursor info: error %li\n", 0L);
    s->DrawCursor = 0;
    return {};
  }
  TCursorImage cursor;
  cursor.X = image->x;
  cursor.Y = image->y;
  cursor.HotX = image->xhot;
  cursor.HotY = image->yhot;
  cursor.Width = image->width;
  cursor.Height = image->height;
  cursor.Pixels = image->pixels;
  if (!BlendCursor(cursor, target, frameX, frameY)) {
    ff::av_log(s->LogContext(), AV_LOG_ERROR, "Couldn't draw icon: error %li\n", 0L);
    s->DrawCursor = 0;
  }
  XFree(image);
  const int top = cursor.Y - cursor.HotY - frameY;
  return TRowBand{std::clamp(top, 0, s->Height), std::clamp(top + cursor.Height, 0, s->Height)};
}

// Reads the option string into the state; 0, or the error after it was said.
int ApplyOptions(AVFormatContext* ctx, TScreenCaptureContext* s, TFormatParameters* ap, TScreenCaptureOptions& o) {
  std::string error;
  if (!ParseScreenCaptureOptions(ctx->url ? ctx->url : "", o, error))
    return Fail(ctx, s, AVERROR(EINVAL), "The screen capture settings are invalid (" + error + ").");
  bool unknown = false;
  s->Session = TCaptureSession::FindOrOwn(o.Session, unknown);
  if (unknown)
    ff::av_log(s->LogContext(), AV_LOG_WARNING, "session %lld is not a registered capture session, ignored\n",
               static_cast<long long>(o.Session));
  s->Window = o.Window;
  s->OffsetX = o.OffsetX;
  s->OffsetY = o.OffsetY;
  if (o.HasFrameRate) ap->time_base = AVRational{o.RateDen, o.RateNum};
  s->ShowFrame = o.ShowFrame;
  s->ClientOnly = o.ClientOnly;
  s->DrawCursor = o.DrawCursor;
  return 0;
}

std::optional<TKeysChoice> KeysChoice(const TScreenCaptureOptions& o) {
  if (o.ShowKeys == 0) return std::nullopt;
  return TKeysChoice{o.ShowKeys == 2 ? TKeysMode::Everything : TKeysMode::Combinations,
                     static_cast<TKeysCorner>(o.KeysCorner), o.KeysFont};
}

// Unchanged slots are left out only where the server reports what changes.
void WatchChanges(TScreenCaptureContext* s) {
  s->Changes = TScreenChanges::Watch(Dpy(s), s->DrawCursor != 0);
  if (!s->Changes)
    ff::av_log(s->LogContext(), AV_LOG_WARNING, "the display reports no changes (DAMAGE): every slot is grabbed\n");
}

// The area: the window's (or the screen's) size unless the options or the engine give one, cut at
// the screen's far edges. Every term is bounded by kMaxCaptureSide or by X's 16-bit geometry, so
// the sums cannot overflow.
int FixArea(AVFormatContext* ctx, TScreenCaptureContext* s, int width, int height) {
  s->ScreenWidth = DisplayWidth(Dpy(s), s->Screen);
  s->ScreenHeight = DisplayHeight(Dpy(s), s->Screen);
  s->Width = width > 0 ? width : s->Area ? s->Area->Width : s->ScreenWidth;
  s->Height = height > 0 ? height : s->Area ? s->Area->Height : s->ScreenHeight;
  if (s->Width > kMaxCaptureSide || s->Height > kMaxCaptureSide)
    return Fail(ctx, s, AVERROR(EINVAL), Format("Invalid properties: the area %dx%d is larger than %dx%d.", s->Width,
                                                s->Height, kMaxCaptureSide, kMaxCaptureSide));
  // Only the far edges are clipped, against the screen, also for a window.
  if (s->OffsetX + s->Width > s->ScreenWidth) s->Width = s->ScreenWidth - s->OffsetX;
  if (s->OffsetY + s->Height > s->ScreenHeight) s->Height = s->ScreenHeight - s->OffsetY;
  if (s->Width <= 0 || s->Height <= 0)
    return Fail(ctx, s, AVERROR(EIO),
                Format("Invalid properties: the area to record at %d,%d is not on the %dx%d screen.", s->OffsetX,
                       s->OffsetY, s->ScreenWidth, s->ScreenHeight));
  return 0;
}

// The X side of the open: connection, window, area, images and pixel format.
int OpenScreen(AVFormatContext* ctx, TScreenCaptureContext* s, const TScreenCaptureOptions& o, int width, int height,
               bool& foundTitle) {
  ::Display* dpy = OpenCaptureDisplay();
  if (!dpy) {
    const char* name = std::getenv("DISPLAY");
    return Fail(ctx, s, AVERROR(EIO), Format("The display \"%s\" cannot be opened.", name ? name : ""));
  }
  s->Source = dpy;
  s->Screen = DefaultScreen(dpy);
  if (o.HasTitle) {
    s->Window = o.Title.empty() ? 0 : static_cast<std::uint32_t>(FindWindowByTitle(dpy, o.Title));
    foundTitle = s->Window != 0;
  }
  if (s->Window) {
    s->Area = std::make_unique<TCaptureWindow>();
    if (ResolveCaptureWindow(dpy, s->Window, s->ClientOnly != 0, *s->Area) != 0 || !WatchWindow(dpy, s->Window))
      return Fail(ctx, s, AVERROR(EIO), "The window to record no longer exists.");
    s->Area->NowWidth = s->Area->Width;
    s->Area->NowHeight = s->Area->Height;
  }
  WatchScreenSize(dpy, s->Screen);
  if (const int rc = FixArea(ctx, s, width, height)) return rc;

  const int depth = DefaultDepth(dpy, s->Screen);
  s->BitsPerPixel = BitsPerPixelOfDepth(dpy, depth);
  if (s->BitsPerPixel % 8 != 0 || s->BitsPerPixel == 0)
    return Fail(ctx, s, AVERROR(EIO), Format("The screen's depth of %d bits cannot be recorded.", depth));
  int poolError = 0;
  std::string what;
  s->Images = TGrabPool::Create(dpy, s->Screen, s->Width, s->Height, true, poolError, what);
  if (!s->Images)
    return Fail(ctx, s, AVERROR(ENOMEM), Format("The screen cannot be read: no %s for it (error %d).", what.c_str(),
                                                poolError));
  const XImage* image = s->Images->Template();
  s->Stride = image->bytes_per_line;
  s->FrameBytes = s->Images->FrameBytes();
  ff::av_log(s->LogContext(), AV_LOG_DEBUG, "Using Bitmap type %li, size %lix%lix%i, %i planes of width %li bytes\n",
             0L, long(image->width), long(image->height), image->bits_per_pixel, 1, long(image->bytes_per_line));
  s->PixelFormat = PixelFormatOfImage(image, DefaultVisual(dpy, s->Screen), depth);
  if (s->PixelFormat == AV_PIX_FMT_NONE)
    return Fail(ctx, s, AVERROR(EIO), Format("The screen's depth of %d bits cannot be recorded.", depth));
  if (s->PixelFormat == AV_PIX_FMT_PAL8) ReadPalette(s);
  return 0;
}

void DescribeStream(TScreenCaptureContext* s, AVStream* st) {
  st->time_base = AVRational{1, 1000000};
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
}

// Where the frame is read this time: the window's place now, when a window is followed.
int FrameOrigin(AVFormatContext* ctx, TScreenCaptureContext* s, int& frameX, int& frameY) {
  ::Display* dpy = Dpy(s);
  frameX = s->OffsetX;
  frameY = s->OffsetY;
  if (DisplayLost(dpy)) return Fail(ctx, s, AVERROR(EIO), "The connection to the display was lost.");
  if (!s->Area) return 0;
  int wx = 0, wy = 0;
  if (WindowClosed(dpy, s->Window, s->Area->Seen) || !CaptureWindowOrigin(dpy, *s->Area, wx, wy)) {
    if (DisplayLost(dpy)) return Fail(ctx, s, AVERROR(EIO), "The connection to the display was lost.");
    return Fail(ctx, s, AVERROR(EIO), "The recorded window was closed.");
  }
  frameX += wx;
  frameY += wy;
  return 0;
}

// The recording keeps the size it started with. A screen that changed size (a projector, a game's
// own mode) or a window that was resized is neither scaled nor followed: the area stays where it
// was, cut where what it shows grew, black where it shrank, so a mode switch back and forth leaves
// the picture where it was. Each is said once.
void FollowScreenSize(TScreenCaptureContext* s) {
  int width = 0, height = 0;
  if (!ScreenResized(Dpy(s), s->Screen, width, height)) return;
  s->ScreenWidth = width;
  s->ScreenHeight = height;
  if (s->SaidScreenSize) return;
  s->SaidScreenSize = true;
  ff::av_log(s->LogContext(), AV_LOG_WARNING,
             "The screen is now %dx%d: the recording goes on at %dx%d, the same part of the screen, black where "
             "the screen no longer reaches (nothing is scaled).\n",
             width, height, s->Width, s->Height);
}

void FollowWindowSize(TScreenCaptureContext* s) {
  TCaptureWindow& area = *s->Area;
  if (!area.Seen.Reconfigured) return;
  area.Seen.Reconfigured = false;
  if (!CaptureWindowSize(Dpy(s), area, area.NowWidth, area.NowHeight)) return;  // gone: the next slot says so
  if (s->SaidWindowSize || (area.NowWidth == area.Width && area.NowHeight == area.Height)) return;
  s->SaidWindowSize = true;
  ff::av_log(s->LogContext(), AV_LOG_WARNING,
             "The recorded window is now %dx%d: the recording goes on at %dx%d from its top-left corner, cut where "
             "it grew, black where it shrank (nothing is scaled).\n",
             area.NowWidth, area.NowHeight, s->Width, s->Height);
}

// What of the area at (frameX, frameY) can be read now; true when that changed since the slot
// before, so the next picture is read whole.
bool FollowReadable(TScreenCaptureContext* s, int frameX, int frameY) {
  FollowScreenSize(s);
  TRootRect readable{0, 0, s->ScreenWidth, s->ScreenHeight};
  if (s->Area) {
    FollowWindowSize(s);
    const TCaptureWindow& area = *s->Area;
    const TRootRect window{frameX - s->OffsetX, frameY - s->OffsetY, area.NowWidth, area.NowHeight};
    readable = area.Seen.Unmapped ? TRootRect{} : CommonPart(readable, window);
    if (!RectsMeet(readable, TRootRect{frameX, frameY, s->Width, s->Height}) && !s->SaidWindowHidden) {
      s->SaidWindowHidden = true;
      ff::av_log(s->LogContext(), AV_LOG_WARNING,
                 "The recorded window is minimised or off the screen: the recording shows black until it is "
                 "back.\n");
    }
  }
  if (readable == s->Readable) return false;
  s->Readable = readable;
  return true;
}

// Whether the slot needs a picture: something changed in the area, the window moved, or a picture
// is owed (the first, and the first after a pause). A still screen delivers nothing more: the
// engine repeats the picture before for the slots between, and codes it again where a container
// needs a trace of them.
bool SlotNeedsPicture(TScreenCaptureContext* s, int frameX, int frameY) {
  const bool drawn = s->Changes->Changed(TRootRect{frameX, frameY, s->Width, s->Height}, s->SlotRows);
  const bool moved = frameX != s->PictureX || frameY != s->PictureY;
  if (!drawn && !moved && !s->PictureOwed) return false;
  if (moved || s->PictureOwed) s->SlotRows.MarkAll();
  s->PictureX = frameX;
  s->PictureY = frameY;
  s->PictureOwed = false;
  return true;
}

// Reads what changed into a grab slot and draws the pointer; `SlotRows` ends up holding the rows
// that differ from the picture delivered before (the pointer's old and new rows included).
int GrabInto(AVFormatContext* ctx, TScreenCaptureContext* s, AVPacket* pkt, int frameX, int frameY) {
  TGrabSlot* grab = s->Images->Acquire();
  if (!grab) return Fail(ctx, s, AVERROR(ENOMEM), "The screen cannot be read: out of memory.");
  if (!s->Changes) s->SlotRows.MarkAll();
  s->SlotRows.Mark(s->PointerRows);
  s->SlotRows.Mark(s->KeyRows);
  s->Images->MarkStale(s->SlotRows);
  if (const int rc = s->Images->Grab(grab, frameX, frameY, s->Readable)) {
    s->Images->Unuse(grab);
    if (DisplayLost(Dpy(s))) return Fail(ctx, s, AVERROR(EIO), "The connection to the display was lost.");
    return Fail(ctx, s, AVERROR(EIO), Format("Failed to capture image (X error %d).", rc));
  }
  const TCursorTarget target{grab->Data, s->Stride, s->Width, s->Height, s->PixelFormat,
                             s->Palette.empty() ? nullptr : s->Palette.data()};
  // The spotlight goes under the pointer, the rings over it.
  TRowBand drawn = s->Input ? s->Input->DrawSpotlight(target, frameX, frameY) : TRowBand{};
  if (s->DrawCursor) drawn = CoveringBand(drawn, DrawPointer(s, target, frameX, frameY));
  s->KeyRows = TRowBand{};
  if (s->Input) {
    drawn = CoveringBand(drawn, s->Input->DrawRings(target, frameX, frameY));
    s->KeyRows = s->Input->DrawKeys(target);
  }
  s->PointerRows = drawn;
  for (const TRowBand& band : {s->PointerRows, s->KeyRows}) {
    grab->Stale.Mark(band);
    s->SlotRows.Mark(band);
  }
  AVBufferRef* buf = s->Images->Wrap(grab);
  if (!buf) {
    s->Images->Unuse(grab);
    return Fail(ctx, s, AVERROR(ENOMEM), "The screen cannot be read: out of memory.");
  }
  pkt->buf = buf;
  pkt->data = grab->Data;
  pkt->size = s->FrameBytes;
  return 0;
}

// A picture that differs in some rows only says which: the engine converts just those.
void TellChangedRows(TScreenCaptureContext* s, AVPacket* pkt) {
  if (s->SlotRows.Count() < s->Height) PutChangedRows(pkt, s->SlotRows.FewRuns());
  s->SlotRows.Clear();
}

}  // namespace

TScreenCaptureContext::TScreenCaptureContext() : LogClass(&kScreenCaptureClass) {}

TScreenCaptureContext::~TScreenCaptureContext() {
  if (Session) Session->Leave(this);
  // The overlay's thread reads this state: it goes first.
  FrameForm.reset();
  // Detached while the connection is still open; a lost connection accepts no more requests.
  Changes.reset();
  Input.reset();
  if (Images) Images->Release();
  Images.reset();
  Area.reset();
  CloseCaptureDisplay(Dpy(this));
}

void RegisterScreenCapture() { RegisterInputFormat(&kScreenCaptureDevice); }
const TInputDevice* ScreenCaptureDevice() { return &kScreenCaptureDevice; }

// What a failed open took is released by the host destroying the state.
int ScreenCaptureReadHeader(AVFormatContext* ctx, TFormatParameters* ap) {
  TScreenCaptureContext* s = State(ctx);
  TScreenCaptureOptions o;
  if (const int rc = ApplyOptions(ctx, s, ap, o)) return rc;
  bool foundTitle = false;
  if (const int rc = OpenScreen(ctx, s, o, o.HasFrameSize ? o.Width : ap->width,
                                o.HasFrameSize ? o.Height : ap->height, foundTitle))
    return rc;

  AVStream* st = ff::avformat_new_stream(ctx, nullptr);
  if (!st) return Fail(ctx, s, AVERROR(ENOMEM), "The screen cannot be read: out of memory.");
  // A rate that is not positive cannot pace anything.
  if (ap->time_base.num <= 0 || ap->time_base.den <= 0) {
    ap->time_base = AVRational{1, 15};
    ff::av_log(s->LogContext(), AV_LOG_INFO, "frame rate assume as %d/%d.\n", 1, 15);
  }
  s->TimeBase = ap->time_base;
  s->Schedule.Setup(s->TimeBase, s->Session.get(), s);
  DescribeStream(s, st);
  ctx->flags |= AVFMT_FLAG_NOPARSE;
  if (o.SkipUnchanged) WatchChanges(s);
  s->SlotRows.Resize(s->Height);
  if (o.ShowClicks || o.ShowKeys || o.Spotlight)
    s->Input = TInputWatch::Watch(Dpy(s), s->LogContext(), o.ShowClicks != 0, o.Spotlight != 0, KeysChoice(o),
                                  s->Height);

  if (s->ShowFrame) {
    std::string formError;
    s->FrameForm = TFrameForm::Create(s, formError);
    if (!s->FrameForm)
      ff::av_log(s->LogContext(), AV_LOG_WARNING, "Cannot show the capture frame: %s\n", formError.c_str());
  }
  if (foundTitle) ff::av_log(s->LogContext(), AV_LOG_INFO, "Found window %s, ", o.Title.c_str());
  ff::av_log(s->LogContext(), AV_LOG_INFO, "ready for capturing %ix%ix%i at (%i,%i)\n", s->Width, s->Height,
             s->BitsPerPixel, s->OffsetX, s->OffsetY);
  s->Session->Join(s);
  return 0;
}

int ScreenCaptureReadPacket(AVFormatContext* ctx, AVPacket* pkt) {
  TScreenCaptureContext* s = State(ctx);
  s->Started.store(1);
  const std::int64_t stamp = s->Schedule.WaitNextSlot();
  if (s->Schedule.ResumedFromPause()) s->PictureOwed = true;

  int frameX = 0, frameY = 0;
  if (const int rc = FrameOrigin(ctx, s, frameX, frameY)) return rc;
  if (FollowReadable(s, frameX, frameY)) s->PictureOwed = true;
  pkt->stream_index = 0;
  pkt->pts = pkt->dts = stamp;
  pkt->duration = s->Schedule.PeriodMicros();
  const bool changed = !s->Changes || SlotNeedsPicture(s, frameX, frameY);
  int pointer[2] = {0, 0};
  const bool pointerRead = s->Changes && s->Changes->PointerAt(pointer[0], pointer[1]);
  const bool overlaysChanged =
      s->Input && s->Input->Update(stamp, {frameX, frameY, s->Width, s->Height}, s->Schedule.ResumedFromPause(),
                                   pointerRead ? pointer : nullptr);
  // An empty packet: the picture of the slot before holds.
  if (!changed && !overlaysChanged) return 0;
  if (const int rc = GrabInto(ctx, s, pkt, frameX, frameY)) return rc;
  TellChangedRows(s, pkt);
  pkt->flags |= AV_PKT_FLAG_KEY;
  if (!s->Palette.empty() && !s->PaletteSent) {
    if (std::uint8_t* side = ff::av_packet_new_side_data(pkt, AV_PKT_DATA_PALETTE, 256 * 4)) {
      std::memcpy(side, s->Palette.data(), 256 * 4);
      s->PaletteSent = 1;
    }
  }
  return s->FrameBytes;
}

}  // namespace qv
