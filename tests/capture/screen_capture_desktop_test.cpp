// The screen device against a real X server: what it grabs, where, in which format, with the pointer,
// and how it paces frames.
#include "support/media_env.h"
// After gtest: Xlib's macros clash with its names.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "capture/capture_session.h"
#include "capture/screen_capture.h"
#include "capture/screen_capture_test_util.h"
#include "capture/screen_capture_x11.h"
#include "media/band_converter.h"
#include "media/row_pair_converter.h"
#include "media/ff_owners.h"

extern char** environ;

namespace qv::test {
namespace {

QV_MEDIA_TEST_ENV;

class ScreenCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QV_REQUIRE_DISPLAY();
    D = OpenTestDisplay();
    ASSERT_NE(D, nullptr) << "cannot open " << std::getenv("DISPLAY");
    SW = DisplayWidth(D, DefaultScreen(D));
    SH = DisplayHeight(D, DefaultScreen(D));
    RegisterScreenCapture();
  }
  void TearDown() override {
    if (D) XCloseDisplay(D);
  }
  int Open(TDeviceInput& dev, const std::string& options, TFormatParameters* ap = nullptr) {
    TFormatParameters local;
    return dev.Open(ScreenCaptureDevice(), options, ap ? ap : &local);
  }
  // Reads one frame and checks the packet's shape.
  void Read(TDeviceInput& dev, AVPacket* pkt) {
    ff::av_packet_unref(pkt);
    ASSERT_EQ(dev.ReadPacket(pkt), CaptureState(dev)->FrameBytes);
    ASSERT_EQ(pkt->size, CaptureState(dev)->FrameBytes);
    ASSERT_NE(pkt->buf, nullptr);
  }
  TRgb At(TDeviceInput& dev, AVPacket* pkt, int x, int y) {
    TScreenCaptureContext* s = CaptureState(dev);
    return PixelAt(pkt->data, s->Stride, s->PixelFormat, x, y);
  }
  // The four quadrant colours of a pattern whose top left is at (x, y) of the frame.
  void ExpectPattern(TDeviceInput& dev, AVPacket* pkt, int x, int y, int w, int h) {
    EXPECT_EQ(At(dev, pkt, x + 3, y + 3), kRed);
    EXPECT_EQ(At(dev, pkt, x + w - 4, y + 3), kGreen);
    EXPECT_EQ(At(dev, pkt, x + 3, y + h - 4), kBlue);
    EXPECT_EQ(At(dev, pkt, x + w - 4, y + h - 4), kYellow);
    EXPECT_EQ(At(dev, pkt, x + w / 2 - 1, y + h / 2 - 1), kRed);
    EXPECT_EQ(At(dev, pkt, x + w / 2, y + h / 2), kYellow);
  }
  Display* D = nullptr;
  int SW = 0, SH = 0;
};

TEST_F(ScreenCaptureTest, FullScreenRegionAndClippedEdge) {
  TPatternWindow win(D, 300, 200, 120, 80, true);
  TLogCapture log;
  auto pkt = NewPacket();
  {
    TDeviceInput dev;
    ASSERT_EQ(Open(dev, "framerate=25/1"), 0) << log.All();
    const AVCodecParameters* par = dev.Context()->streams[0]->codecpar;
    EXPECT_EQ(par->width, SW);
    EXPECT_EQ(par->height, SH);
    EXPECT_EQ(par->codec_id, AV_CODEC_ID_RAWVIDEO);
    EXPECT_EQ(dev.Context()->streams[0]->time_base.den, 1000000);
    EXPECT_EQ(CaptureState(dev)->Stride * SH, CaptureState(dev)->FrameBytes);
    EXPECT_TRUE(log.Has("ready for capturing " + std::to_string(SW) + "x" + std::to_string(SH) + "x", llInfo))
        << log.All();
    EXPECT_TRUE(log.HasText("[screencapture @ 0x")) << log.All();
    Read(dev, pkt.get());
    ExpectPattern(dev, pkt.get(), 300, 200, 120, 80);
  }
  {
    TDeviceInput dev;
    ASSERT_EQ(Open(dev, "offset=290,190;framesize=100,60;framerate=25/1"), 0) << log.All();
    EXPECT_EQ(dev.Context()->streams[0]->codecpar->width, 100);
    EXPECT_EQ(dev.Context()->streams[0]->codecpar->height, 60);
    Read(dev, pkt.get());
    EXPECT_EQ(At(dev, pkt.get(), 12, 12), kRed);
    EXPECT_EQ(At(dev, pkt.get(), 99, 12), kGreen);  // x 389 is the pattern's right half
    EXPECT_EQ(At(dev, pkt.get(), 12, 45), kRed);    // y 235 is still the top half
    EXPECT_EQ(At(dev, pkt.get(), 12, 55), kBlue);
  }
  {
    // A region reaching past the right edge keeps only what is on the screen.
    TPatternWindow edge(D, SW - 60, 300, 60, 40, true);
    TDeviceInput dev;
    ASSERT_EQ(Open(dev, "offset=" + std::to_string(SW - 120) + ",290;framesize=400,100"), 0) << log.All();
    EXPECT_EQ(dev.Context()->streams[0]->codecpar->width, 120);
    EXPECT_EQ(CaptureState(dev)->Width, 120);
    Read(dev, pkt.get());
    ExpectPattern(dev, pkt.get(), 60, 10, 60, 40);
  }
}

TEST_F(ScreenCaptureTest, WindowByIdFollowsMovesAndKeepsItsSize) {
  TPatternWindow win(D, 200, 150, 160, 100, true);
  TLogCapture log;
  TDeviceInput dev;
  ASSERT_EQ(Open(dev, "hwnd=" + std::to_string(win.Win) + ";framerate=25/1"), 0) << log.All();
  EXPECT_EQ(CaptureState(dev)->Width, 160);
  EXPECT_EQ(CaptureState(dev)->Height, 100);
  auto pkt = NewPacket();
  Read(dev, pkt.get());
  ExpectPattern(dev, pkt.get(), 0, 0, 160, 100);

  win.Move(500, 400);
  Read(dev, pkt.get());
  ExpectPattern(dev, pkt.get(), 0, 0, 160, 100);

  // Resized: the capture keeps the size it had at open, from the window's top-left corner, black
  // where the window no longer reaches, and says so once.
  XResizeWindow(D, win.Win, 300, 300);
  XSync(D, False);
  Read(dev, pkt.get());
  EXPECT_EQ(pkt->size, CaptureState(dev)->Stride * 100);
  TPatternWindow beneath(D, 500, 400, 160, 100, true);  // what the old rectangle would show
  win.Move(500, 400);
  XResizeWindow(D, win.Win, 80, 50);
  XSync(D, False);
  Read(dev, pkt.get());
  EXPECT_EQ(At(dev, pkt.get(), 5, 5), kRed);
  EXPECT_EQ(At(dev, pkt.get(), 120, 80), (TRgb{0, 0, 0}));
  EXPECT_EQ(log.Count("The recorded window is now 300x300: the recording goes on at 160x100"), 1) << log.All();
  EXPECT_EQ(log.Count("The recorded window is now"), 1) << log.All();

  // Half off the screen: the part outside is black, the rest still follows the window.
  XResizeWindow(D, win.Win, 160, 100);
  win.Move(SW - 80, 400);
  Read(dev, pkt.get());
  EXPECT_EQ(At(dev, pkt.get(), 5, 5), kRed);
  EXPECT_EQ(At(dev, pkt.get(), 79, 95), kBlue);
  EXPECT_EQ(At(dev, pkt.get(), 81, 5), (TRgb{0, 0, 0}));
  EXPECT_EQ(At(dev, pkt.get(), 159, 99), (TRgb{0, 0, 0}));

  // An offset inside the window is relative to the window.
  TDeviceInput part;
  win.Move(100, 100);
  ASSERT_EQ(Open(part, "hwnd=" + std::to_string(win.Win) + ";offset=70,40;framesize=20,20"), 0) << log.All();
  Read(part, pkt.get());
  EXPECT_EQ(At(part, pkt.get(), 5, 5), kRed);
  EXPECT_EQ(At(part, pkt.get(), 15, 5), kGreen);
  EXPECT_EQ(At(part, pkt.get(), 5, 15), kBlue);
  EXPECT_EQ(At(part, pkt.get(), 15, 15), kYellow);
}

TEST_F(ScreenCaptureTest, WindowByTitleWithAndWithoutItsFrame) {
  const std::string title = "qv capture; target=" + std::to_string(getpid());
  TPatternWindow win(D, 240, 180, 140, 90, false, title);
  TLogCapture log;
  auto pkt = NewPacket();
  int cx = 0, cy = 0;
  win.Origin(cx, cy);
  {
    TDeviceInput dev;
    ASSERT_EQ(Open(dev, "cursor=0;title=" + title), 0) << log.All();
    EXPECT_TRUE(log.HasText("Found window " + title + ", ")) << log.All();
    // Without "client" the capture is the window manager's frame around the window (if any).
    TScreenCaptureContext* s = CaptureState(dev);
    int fx = 0, fy = 0;
    Window child;
    XTranslateCoordinates(D, s->Area->Win, DefaultRootWindow(D), 0, 0, &fx, &fy, &child);
    fx -= s->Area->Border;
    fy -= s->Area->Border;
    EXPECT_GE(s->Width, 140);
    Read(dev, pkt.get());
    ExpectPattern(dev, pkt.get(), cx - fx, cy - fy, 140, 90);
  }
  {
    TDeviceInput dev;
    ASSERT_EQ(Open(dev, "client=1;title=" + title), 0) << log.All();
    EXPECT_EQ(CaptureState(dev)->Width, 140);
    EXPECT_EQ(CaptureState(dev)->Height, 90);
    Read(dev, pkt.get());
    ExpectPattern(dev, pkt.get(), 0, 0, 140, 90);
  }
  {
    // A title that names no window: the whole screen, and no "Found window".
    TLogCapture quiet;
    TDeviceInput dev;
    ASSERT_EQ(Open(dev, "title=no such window " + std::to_string(getpid())), 0);
    EXPECT_EQ(CaptureState(dev)->Width, SW);
    EXPECT_FALSE(quiet.HasText("Found window"));
  }
}

TEST_F(ScreenCaptureTest, OpenFailuresReleaseAndReport) {
  struct Case {
    std::string options;
    int code;
    std::string message;  // part of what the user is told, also logged
  };
  const std::vector<Case> cases = {
      {"framerate=25", AVERROR(EINVAL), "The screen capture settings are invalid ('' is not a valid integer value)."},
      {"offset=10,20;framesize=640x480", AVERROR(EINVAL), "'640x480'"},
      {"offset=-2147483648,0;framesize=2147483647,10", AVERROR(EINVAL), "Invalid properties"},
      {"hwnd=123456789;showframe=1", AVERROR(EIO), "The window to record no longer exists."},
      {"offset=" + std::to_string(SW + 10) + ",0;showframe=1", AVERROR(EIO), "Invalid properties"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    TLogCapture log;
    TDeviceInput dev;
    EXPECT_EQ(Open(dev, c.options), c.code);
    EXPECT_NE(dev.ErrorText().find(c.message), std::string::npos) << dev.ErrorText();
    EXPECT_TRUE(log.Has(c.message, llError)) << log.All();
    EXPECT_EQ(dev.Context(), nullptr);
  }
}

// A recorded window that goes away ends the input at the next frame with the reason in words; an
// iconified one is still being recorded.
TEST_F(ScreenCaptureTest, ClosedWindowFailsTheRead) {
  enum class TEnd { Destroy, Unmap, Iconify };
  struct Case {
    const char* what;
    bool managed;
    TEnd end;
    bool closed;
  };
  const Case cases[] = {
      {"destroyed", false, TEnd::Destroy, true},
      {"unmapped", false, TEnd::Unmap, true},
      {"withdrawn from the window manager", true, TEnd::Unmap, true},
      {"iconified", true, TEnd::Iconify, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TPatternWindow beneath(D, 300, 200, 160, 100, true);  // what the window's place shows without it
    auto win = std::make_unique<TPatternWindow>(D, 300, 200, 160, 100, !c.managed, "qv closed window");
    TLogCapture log;
    TDeviceInput dev;
    ASSERT_EQ(Open(dev, "hwnd=" + std::to_string(win->Win) + ";framerate=25/1;client=1"), 0);
    auto pkt = NewPacket();
    Read(dev, pkt.get());
    if (c.end == TEnd::Destroy) win.reset();
    else if (c.end == TEnd::Unmap) XWithdrawWindow(D, win->Win, DefaultScreen(D));
    else XIconifyWindow(D, win->Win, DefaultScreen(D));
    XSync(D, False);
    const std::int64_t start = ff::av_gettime_relative();
    int rc = 0;
    for (int i = 0; i < 25 && rc >= 0; ++i) {
      ff::av_packet_unref(pkt.get());
      rc = dev.ReadPacket(pkt.get());
    }
    if (!c.closed) {
      // Minimised: black, said once.
      EXPECT_EQ(rc, CaptureState(dev)->FrameBytes) << dev.ErrorText();
      EXPECT_EQ(At(dev, pkt.get(), 5, 5), (TRgb{0, 0, 0}));
      EXPECT_EQ(log.Count("The recorded window is minimised or off the screen"), 1) << log.All();
      continue;
    }
    EXPECT_EQ(rc, AVERROR(EIO));
    EXPECT_LT(ff::av_gettime_relative() - start, 1000000);
    EXPECT_EQ(dev.ErrorText(), "The recorded window was closed.");
  }
}

// A pointer image known from the server appears in the frame where the pointer is.
TEST_F(ScreenCaptureTest, PointerIsDrawnWhereItIs) {
  TPatternWindow win(D, 400, 300, 200, 200, true);
  ASSERT_EQ(std::system("xdotool mousemove 450 340"), 0);
  XSync(D, False);
  usleep(100000);
  XFixesCursorImage* cur = XFixesGetCursorImage(D);
  ASSERT_NE(cur, nullptr);
  ASSERT_EQ(cur->x, 450);
  ASSERT_EQ(cur->y, 340);

  TLogCapture log;
  auto pkt = NewPacket();
  TDeviceInput with, without;
  ASSERT_EQ(Open(with, "offset=400,300;framesize=200,200;cursor=1"), 0) << log.All();
  ASSERT_EQ(Open(without, "offset=400,300;framesize=200,200;cursor=0"), 0);
  Read(with, pkt.get());
  auto plain = NewPacket();
  Read(without, plain.get());

  int opaque = 0, changed = 0;
  for (int y = 0; y < int(cur->height); ++y)
    for (int x = 0; x < int(cur->width); ++x) {
      const std::uint32_t argb = std::uint32_t(cur->pixels[y * cur->width + x]);
      const int fx = 50 - cur->xhot + x, fy = 40 - cur->yhot + y;
      if (fx < 0 || fy < 0 || fx >= 200 || fy >= 200) continue;
      if ((argb >> 24) == 255) {
        ++opaque;
        EXPECT_EQ(At(with, pkt.get(), fx, fy), (TRgb{int(argb >> 16 & 255), int(argb >> 8 & 255), int(argb & 255)}));
        EXPECT_EQ(At(without, plain.get(), fx, fy), kRed);
      }
      if (!(At(with, pkt.get(), fx, fy) == At(without, plain.get(), fx, fy))) ++changed;
    }
  EXPECT_GT(opaque, 10);
  EXPECT_GT(changed, 10);
  // Away from the pointer both frames agree.
  EXPECT_EQ(At(with, pkt.get(), 150, 150), kYellow);
  EXPECT_EQ(CaptureState(with)->DrawCursor, 1);
  XFree(cur);

  // The pointer moves with the window being followed.
  ASSERT_EQ(std::system("xdotool mousemove 900 900"), 0);
}

// With "skipunchanged" a slot in which nothing changed in the area is an empty packet stamped with its
// slot. What is drawn in the area, the pointer entering or leaving it come as a picture in the next
// slot; changes elsewhere cost nothing, and a still area delivers no picture however long it stays.
TEST_F(ScreenCaptureTest, OnlySlotsThatChangedAreGrabbed) {
  TPatternWindow win(D, 400, 300, 200, 200, true);
  ASSERT_EQ(std::system("xdotool mousemove 1000 900"), 0);
  TLogCapture log;
  auto pkt = NewPacket();
  TDeviceInput dev;
  ASSERT_EQ(Open(dev, "offset=400,300;framesize=200,200;framerate=25/1;cursor=1;skipunchanged=1"), 0) << log.All();
  std::int64_t previous = AV_NOPTS_VALUE;
  // True for a picture; every packet is one slot or more after the one before.
  auto picture = [&] {
    ff::av_packet_unref(pkt.get());
    EXPECT_GE(dev.ReadPacket(pkt.get()), 0) << log.All();
    if (previous != AV_NOPTS_VALUE) {
      EXPECT_GE(pkt->pts - previous, 40000);
    }
    previous = pkt->pts;
    return pkt->size > 0;
  };
  ASSERT_TRUE(picture());
  const std::int64_t first = pkt->pts;
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(picture()) << "static slot " << i;
  EXPECT_EQ(pkt->pts - first, 5 * 40000);

  XSetWindowBackground(D, win.Win, PixelFor(D, kBlue));
  XClearWindow(D, win.Win);
  XSync(D, False);
  ASSERT_TRUE(picture());
  EXPECT_EQ(At(dev, pkt.get(), 100, 100), kBlue);
  EXPECT_FALSE(picture());
  TPatternWindow elsewhere(D, 900, 300, 50, 50, true);
  EXPECT_FALSE(picture()) << "a window mapped outside the area";

  ASSERT_EQ(std::system("xdotool mousemove 450 340"), 0);
  EXPECT_TRUE(picture()) << "the pointer entered";
  EXPECT_FALSE(picture());
  ASSERT_EQ(std::system("xdotool mousemove 1000 900"), 0);
  ASSERT_TRUE(picture()) << "the pointer left";
  EXPECT_EQ(At(dev, pkt.get(), 50, 40), kBlue);
  ASSERT_EQ(std::system("xdotool mousemove 1100 950"), 0);
  EXPECT_FALSE(picture()) << "the pointer moved outside";

  int held = 0;
  while (held < 60 && !picture()) ++held;
  EXPECT_EQ(held, 60) << "a picture of the still area after " << held << " empty slots";
}

// The packet's picture as a frame (no buffer of its own), and a yuv420p frame to convert into.
TFramePtr FrameOf(const AVPacket* pkt, const TScreenCaptureContext* s) {
  TFramePtr f(ff::av_frame_alloc());
  f->data[0] = pkt->data;
  f->linesize[0] = s->Stride;
  f->width = s->Width;
  f->height = s->Height;
  f->format = s->PixelFormat;
  return f;
}

TFramePtr Yuv420(int w, int h) {
  TFramePtr f(ff::av_frame_alloc());
  f->width = w;
  f->height = h;
  f->format = AV_PIX_FMT_YUV420P;
  EXPECT_GE(ff::av_frame_get_buffer(f.get(), 0), 0);
  return f;
}

// The recording's flags (libyuv's row pairs) and flags that keep libswscale (bands with margins).
constexpr int kRecordingScaler = SWS_AREA | SWS_FULL_CHR_H_INP;
constexpr int kScalerFlags[] = {kRecordingScaler, SWS_BICUBIC | SWS_FULL_CHR_H_INP};

void ConvertWhole(const AVFrame* in, AVFrame* out, int flags, bool scalerOnly = false) {
  TScalerPtr sws(ff::sws_getContext(in->width, in->height, AVPixelFormat(in->format), out->width, out->height,
                                    AVPixelFormat(out->format), flags, nullptr, nullptr, nullptr));
  if (scalerOnly) ff::sws_scale(sws.get(), in->data, in->linesize, 0, in->height, out->data, out->linesize);
  else ConvertWholePicture(sws.get(), in, out, flags);
}

// The largest difference between two planes.
int PlaneDifference(const AVFrame* a, const AVFrame* b, int plane, int w, int h) {
  int worst = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      worst = std::max(worst, std::abs(a->data[plane][y * a->linesize[plane] + x] - b->data[plane][y * b->linesize[plane] + x]));
  return worst;
}

// A small change is read and converted as a band of rows. The picture still equals the screen
// everywhere, also from a grab image that was held by a packet when the screen changed before, and
// the conversion kept from picture to picture equals a whole-picture conversion.
TEST_F(ScreenCaptureTest, SmallChangeIsReadAndConvertedAsABand) {
  TPatternWindow pattern(D, 40, 40, 200, 200, true);
  TPatternWindow spot(D, 300, 250, 40, 20, true);
  auto paint = [&](TRgb c) {
    XSetWindowBackground(D, spot.Win, PixelFor(D, c));
    XClearWindow(D, spot.Win);
    XSync(D, False);
  };
  TLogCapture log;
  TDeviceInput dev;
  ASSERT_EQ(Open(dev, "offset=0,0;framesize=640,480;framerate=25/1;cursor=0;skipunchanged=1"), 0) << log.All();
  TScreenCaptureContext* s = CaptureState(dev);
  TBandConverter bands[2];
  TFramePtr kept[2] = {Yuv420(640, 480), Yuv420(640, 480)};
  auto first = NewPacket();
  Read(dev, first.get());
  std::vector<TRowBand> rows;
  EXPECT_FALSE(GetChangedRows(first.get(), rows)) << "the first picture is whole";
  for (int i = 0; i < 2; ++i) ConvertWhole(FrameOf(first.get(), s).get(), kept[i].get(), kScalerFlags[i]);

  paint(kBlue);
  auto second = NewPacket();
  Read(dev, second.get());
  ASSERT_TRUE(GetChangedRows(second.get(), rows));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_LE(rows[0].Top, 250);
  EXPECT_GE(rows[0].Bottom, 270);
  EXPECT_LE(rows[0].Bottom - rows[0].Top, 48);
  for (int i = 0; i < 2; ++i)
    ASSERT_TRUE(bands[i].Convert(FrameOf(second.get(), s).get(), kept[i].get(), rows, kScalerFlags[i]));
  first.reset();
  second.reset();

  paint(kRed);
  auto third = NewPacket();
  Read(dev, third.get());  // into the first image again, which missed the blue
  XImage* screen = XGetImage(D, DefaultRootWindow(D), 0, 0, 640, 480, AllPlanes, ZPixmap);
  ASSERT_NE(screen, nullptr);
  ASSERT_EQ(s->BitsPerPixel, 32);
  int wrong = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      std::uint32_t got = 0;
      std::memcpy(&got, third->data + y * s->Stride + x * 4, 4);
      wrong += (XGetPixel(screen, x, y) & 0xFFFFFF) != (got & 0xFFFFFF);
    }
  XDestroyImage(screen);
  EXPECT_EQ(wrong, 0) << "pixels that differ from the screen";
  EXPECT_EQ(At(dev, third.get(), 310, 255), kRed);
  ExpectPattern(dev, third.get(), 40, 40, 200, 200);

  ASSERT_TRUE(GetChangedRows(third.get(), rows));
  const TFramePtr picture = FrameOf(third.get(), s);
  EXPECT_TRUE(RowPairConversionApplies(picture.get(), kept[0].get(), kRecordingScaler)) << "libyuv is at hand";
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(kScalerFlags[i]);
    ASSERT_TRUE(bands[i].Convert(picture.get(), kept[i].get(), rows, kScalerFlags[i]));
    TFramePtr whole = Yuv420(640, 480);
    ConvertWhole(picture.get(), whole.get(), kScalerFlags[i]);
    EXPECT_EQ(PlaneDifference(kept[i].get(), whole.get(), 0, 640, 480), 0);
    EXPECT_EQ(PlaneDifference(kept[i].get(), whole.get(), 1, 320, 240), 0);
    EXPECT_EQ(PlaneDifference(kept[i].get(), whole.get(), 2, 320, 240), 0);
  }
  // libyuv's colours are libswscale's, to a level's rounding.
  TFramePtr scaler = Yuv420(640, 480);
  ConvertWhole(picture.get(), scaler.get(), kRecordingScaler, true);
  for (int plane = 0; plane < 3; ++plane)
    EXPECT_LE(PlaneDifference(kept[0].get(), scaler.get(), plane, plane ? 320 : 640, plane ? 240 : 480), 1) << plane;
}

// Starts a private Xvfb at depth 16 and points DISPLAY at it for the life of the object.
class TPrivateServer {
 public:
  explicit TPrivateServer(const char* geometry) {
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", geometry, "-nolisten", "tcp", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const int rc = posix_spawnp(&Pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
      Pid = 0;
      close(fds[0]);
      return;
    }
    char buf[32] = {};
    ssize_t n = 0, got;
    while (n < ssize_t(sizeof buf) - 1 && (got = read(fds[0], buf + n, sizeof buf - 1 - size_t(n))) > 0) {
      n += got;
      if (buf[n - 1] == '\n') break;
    }
    close(fds[0]);
    if (n <= 0) return;
    if (const char* old = std::getenv("DISPLAY")) Saved = old;
    Display = ":" + std::string(buf, size_t(n - 1));
    setenv("DISPLAY", Display.c_str(), 1);
  }
  ~TPrivateServer() {
    if (!Saved.empty()) setenv("DISPLAY", Saved.c_str(), 1);
    if (Pid > 0) {
      kill(Pid, SIGTERM);
      waitpid(Pid, nullptr, 0);
    }
  }
  bool Running() const { return !Display.empty(); }
  pid_t Pid = 0;
  std::string Display, Saved;
};

// A 16-bit screen comes out in its own pixel layout, rows as long as the server makes them, and the
// rawvideo decoder reads such packets back correctly.
TEST_F(ScreenCaptureTest, SixteenBitScreenWithPaddedRows) {
  TPrivateServer server("320x240x16");
  ASSERT_TRUE(server.Running()) << "Xvfb could not be started at depth 16";
  Display* d16 = XOpenDisplay(nullptr);
  ASSERT_NE(d16, nullptr);
  ASSERT_EQ(DefaultDepth(d16, DefaultScreen(d16)), 16);
  {
    TPatternWindow win(d16, 21, 11, 100, 60, true);
    TLogCapture log;
    TDeviceInput dev;
    // 101 pixels of 2 bytes: the server pads each row to 204 bytes.
    ASSERT_EQ(Open(dev, "offset=20,10;framesize=101,62"), 0) << log.All();
    TScreenCaptureContext* s = CaptureState(dev);
    EXPECT_EQ(s->PixelFormat, AV_PIX_FMT_RGB565LE);
    EXPECT_EQ(s->BitsPerPixel, 16);
    EXPECT_EQ(s->Stride, 204);
    EXPECT_EQ(s->FrameBytes, 204 * 62);
    EXPECT_TRUE(log.HasText("ready for capturing 101x62x16 at (20,10)")) << log.All();
    auto pkt = NewPacket();
    Read(dev, pkt.get());
    ExpectPattern(dev, pkt.get(), 1, 1, 100, 60);

    const AVCodec* codec = ff::avcodec_find_decoder(AV_CODEC_ID_RAWVIDEO);
    ASSERT_NE(codec, nullptr);
    AVCodecContext* cc = ff::avcodec_alloc_context3(codec);
    ASSERT_GE(ff::avcodec_parameters_to_context(cc, dev.Context()->streams[0]->codecpar), 0);
    ASSERT_GE(ff::avcodec_open2(cc, codec, nullptr), 0);
    ASSERT_GE(ff::avcodec_send_packet(cc, pkt.get()), 0);
    AVFrame* frame = ff::av_frame_alloc();
    ASSERT_GE(ff::avcodec_receive_frame(cc, frame), 0);
    EXPECT_EQ(frame->width, 101);
    const AVPixelFormat fmt = AVPixelFormat(frame->format);
    EXPECT_EQ(PixelAt(frame->data[0], frame->linesize[0], fmt, 1 + 96, 1 + 3), kGreen);
    EXPECT_EQ(PixelAt(frame->data[0], frame->linesize[0], fmt, 1 + 3, 1 + 56), kBlue);
    EXPECT_EQ(PixelAt(frame->data[0], frame->linesize[0], fmt, 1 + 96, 1 + 56), kYellow);
    ff::av_frame_free(&frame);
    ff::avcodec_free_context(&cc);
  }
  XCloseDisplay(d16);
}

// An 8-bit colour-mapped screen is delivered as palette indices, with the palette on the first packet.
TEST_F(ScreenCaptureTest, EightBitScreenCarriesItsPalette) {
  TPrivateServer server("320x240x8");
  ASSERT_TRUE(server.Running()) << "Xvfb could not be started at depth 8";
  Display* d8 = XOpenDisplay(nullptr);
  ASSERT_NE(d8, nullptr);
  {
    TPatternWindow win(d8, 10, 10, 100, 60, true);
    TLogCapture log;
    TDeviceInput dev;
    ASSERT_EQ(Open(dev, "offset=10,10;framesize=100,60;cursor=1"), 0) << log.All();
    TScreenCaptureContext* s = CaptureState(dev);
    ASSERT_EQ(s->PixelFormat, AV_PIX_FMT_PAL8);
    auto pkt = NewPacket();
    Read(dev, pkt.get());
    size_t size = 0;
    const std::uint8_t* side = ff::av_packet_get_side_data(pkt.get(), AV_PKT_DATA_PALETTE, &size);
    ASSERT_NE(side, nullptr);
    ASSERT_EQ(size, 1024u);
    auto colour = [&](int x, int y) {
      std::uint32_t c;
      std::memcpy(&c, side + 4 * pkt->data[y * s->Stride + x], 4);
      return TRgb{int(c >> 16 & 255), int(c >> 8 & 255), int(c & 255)};
    };
    EXPECT_EQ(colour(3, 3), kRed);
    EXPECT_EQ(colour(96, 3), kGreen);
    EXPECT_EQ(colour(3, 56), kBlue);
    EXPECT_EQ(colour(96, 56), kYellow);
    Read(dev, pkt.get());
    EXPECT_EQ(ff::av_packet_get_side_data(pkt.get(), AV_PKT_DATA_PALETTE, &size), nullptr);
    EXPECT_EQ(s->DrawCursor, 1);
  }
  XCloseDisplay(d8);
}

// The X server going away mid-capture ends the video input with an error; the process lives on.
TEST_F(ScreenCaptureTest, LostDisplayEndsTheInputInsteadOfTheProcess) {
  TPrivateServer server("320x240x24");
  ASSERT_TRUE(server.Running());
  TLogCapture log;
  TDeviceInput dev;
  ASSERT_EQ(Open(dev, "framesize=64,64;showframe=1;cursor=1;framerate=50/1"), 0) << log.All();
  auto pkt = NewPacket();
  Read(dev, pkt.get());
  kill(server.Pid, SIGKILL);
  waitpid(server.Pid, nullptr, 0);
  server.Pid = 0;
  int rc = 0;
  for (int i = 0; i < 5 && rc >= 0; ++i) {
    ff::av_packet_unref(pkt.get());
    rc = dev.ReadPacket(pkt.get());
  }
  EXPECT_EQ(rc, AVERROR(EIO));
  EXPECT_EQ(dev.ErrorText(), "The connection to the display was lost.");
  // Closing never waits on the dead server.
  const std::int64_t closing = ff::av_gettime_relative();
  dev.Close();
  EXPECT_LT(ff::av_gettime_relative() - closing, 1000000);
}

// ---- frame timing ----

std::int64_t NowUs() { return ff::av_gettime_relative(); }

TEST_F(ScreenCaptureTest, PacesFramesAtTheRequestedRate) {
  TLogCapture log;
  TDeviceInput dev;
  ASSERT_EQ(Open(dev, "offset=0,0;framesize=64,64;framerate=25/1"), 0) << log.All();
  EXPECT_EQ(dev.Context()->streams[0]->avg_frame_rate.num, 25);
  auto pkt = NewPacket();
  const std::int64_t first = NowUs();
  Read(dev, pkt.get());
  const std::int64_t firstLatency = NowUs() - first;
  EXPECT_GE(firstLatency, 38000);  // due one period after the first request
  EXPECT_LT(firstLatency, 70000);
  EXPECT_EQ(pkt->pts, 0);
  EXPECT_EQ(pkt->duration, 40000);
  const std::int64_t start = NowUs();
  for (int i = 1; i <= 25; ++i) {
    Read(dev, pkt.get());
    EXPECT_EQ(pkt->pts, i * 40000);
  }
  const double perFrame = double(NowUs() - start) / 25;
  EXPECT_NEAR(perFrame, 40000, 3000);
}

TEST_F(ScreenCaptureTest, DefaultsToFifteenFramesWithItsMessage) {
  TLogCapture log;
  TDeviceInput dev;
  TFormatParameters ap;
  ASSERT_EQ(Open(dev, "offset=0,0;framesize=32,32", &ap), 0) << log.All();
  EXPECT_TRUE(log.Has("frame rate assume as 1/15.", llInfo)) << log.All();
  EXPECT_EQ(ap.time_base.num, 1);
  EXPECT_EQ(ap.time_base.den, 15);
  auto pkt = NewPacket();
  Read(dev, pkt.get());
  const std::int64_t start = NowUs();
  for (int i = 1; i <= 10; ++i) {
    Read(dev, pkt.get());
    EXPECT_NEAR(double(pkt->pts), i * 1000000.0 / 15, 1.0);
  }
  EXPECT_NEAR(double(NowUs() - start) / 10, 66667, 5000);

  // A rate from the engine is used when the options give none.
  TDeviceInput engineRate;
  TFormatParameters ap10;
  ap10.time_base = AVRational{1, 10};
  ASSERT_EQ(Open(engineRate, "framesize=32,32", &ap10), 0);
  EXPECT_EQ(engineRate.Context()->streams[0]->avg_frame_rate.num, 10);
}

// A reader that stalls, busy or idle, gets the latest slot that is due at once: the slots it missed
// are one gap in the stamps, which the engine fills with the last picture, so the video keeps its
// wall-clock length and stays with the sound. Then frames are paced again.
TEST_F(ScreenCaptureTest, StalledReaderKeepsTheStallAsAGap) {
  for (bool busy : {true, false}) {
    SCOPED_TRACE(busy ? "busy reader" : "idle reader");
    TDeviceInput dev;
    ASSERT_EQ(Open(dev, "offset=0,0;framesize=32,32;framerate=25/1"), 0);
    auto pkt = NewPacket();
    Read(dev, pkt.get());
    Read(dev, pkt.get());
    const std::int64_t before = pkt->pts;
    const std::int64_t stallUntil = NowUs() + 1000000;
    volatile std::uint64_t spin = 0;
    if (busy) while (NowUs() < stallUntil) spin = spin + 1;
    else std::this_thread::sleep_for(std::chrono::seconds(1));

    std::int64_t t = NowUs();
    Read(dev, pkt.get());
    EXPECT_LT(NowUs() - t, 10000);
    EXPECT_EQ(pkt->pts % 40000, 0);
    EXPECT_NEAR(double(pkt->pts - before), 1000000, 60000);
    const std::int64_t afterGap = pkt->pts;
    t = NowUs();
    Read(dev, pkt.get());
    EXPECT_NEAR(double(NowUs() - t), 40000, 10000);
    EXPECT_EQ(pkt->pts - afterGap, 40000);
  }
}

// A pause told through the recording's capture session is left out of the time line, as the sound
// device leaves it out: no burst of catch-up frames and no gap, even while the reader kept busy.
TEST_F(ScreenCaptureTest, SessionPauseIsLeftOutOfTheTimeLine) {
  std::shared_ptr<TCaptureSession> session = TCaptureSession::Create();
  TDeviceInput dev;
  ASSERT_EQ(Open(dev, "offset=0,0;framesize=32,32;framerate=25/1;session=" + std::to_string(session->Number())), 0);
  auto pkt = NewPacket();
  Read(dev, pkt.get());
  Read(dev, pkt.get());
  EXPECT_EQ(pkt->pts, 40000);
  session->SetPaused(true);
  const std::int64_t until = NowUs() + 1000000;
  volatile std::uint64_t spin = 0;
  while (NowUs() < until) spin = spin + 1;
  session->SetPaused(false);
  int quick = 0;
  for (int i = 0; i < 5; ++i) {
    const std::int64_t t = NowUs();
    Read(dev, pkt.get());
    if (NowUs() - t < 5000) ++quick;
    EXPECT_EQ(pkt->pts, 80000 + i * 40000);
  }
  EXPECT_LE(quick, 1);
}

}  // namespace
}  // namespace qv::test
