// The frame overlay around a capture: geometry, shape, colours before and after capture starts,
// following a window, and going away when the device closes on another thread.
#include "support/media_env.h"
// After gtest: Xlib's macros clash with its names.
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <chrono>
#include <thread>

#include "capture/frame_form.h"
#include "capture/screen_capture.h"
#include "capture/screen_capture_test_util.h"

namespace qv::test {
namespace {

QV_MEDIA_TEST_ENV;

class FrameFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QV_REQUIRE_DISPLAY();
    D = OpenTestDisplay();
    ASSERT_NE(D, nullptr);
    RegisterScreenCapture();
    Red = PixelFor(D, kRed);
    Blue = PixelFor(D, kBlue);
  }
  void TearDown() override {
    if (D) XCloseDisplay(D);
  }
  unsigned long RootPixel(int x, int y) {
    XImage* img = XGetImage(D, DefaultRootWindow(D), x, y, 1, 1, AllPlanes, ZPixmap);
    const unsigned long p = img ? XGetPixel(img, 0, 0) : ~0ul;
    if (img) XDestroyImage(img);
    return p;
  }
  struct TGeometry {
    int X = 0, Y = 0;
    unsigned W = 0, H = 0;
  };
  TGeometry Geometry(Window w) {
    TGeometry g;
    Window root, child;
    unsigned border, depth;
    XGetGeometry(D, w, &root, &g.X, &g.Y, &g.W, &g.H, &border, &depth);
    XTranslateCoordinates(D, w, root, 0, 0, &g.X, &g.Y, &child);
    return g;
  }
  bool Exists(Window w) {
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    XQueryTree(D, DefaultRootWindow(D), &root, &parent, &children, &n);
    bool found = false;
    for (unsigned i = 0; i < n; ++i) found |= children[i] == w;
    if (children) XFree(children);
    return found;
  }
  Display* D = nullptr;
  unsigned long Red = 0, Blue = 0;
};

TEST_F(FrameFormTest, RingAroundTheRegionBlinksOnlyOnceCaptureStarts) {
  TPatternWindow win(D, 100, 100, 640, 480, true);
  TLogCapture log;
  TDeviceInput dev;
  TFormatParameters ap;
  ASSERT_EQ(dev.Open(ScreenCaptureDevice(), "offset=100,100;framesize=640,480;framerate=25/1;showframe=1", &ap), 0)
      << log.All();
  TFrameForm* form = CaptureState(dev)->FrameForm.get();
  ASSERT_NE(form, nullptr);
  const Window ring = form->WindowId();

  const TGeometry g = Geometry(ring);
  EXPECT_EQ(g.X, 98);
  EXPECT_EQ(g.Y, 98);
  EXPECT_EQ(g.W, 644u);
  EXPECT_EQ(g.H, 484u);
  XWindowAttributes attr;
  ASSERT_TRUE(XGetWindowAttributes(D, ring, &attr));
  EXPECT_TRUE(attr.override_redirect);

  // Drawing and input are both limited to the 2-pixel ring: the inside belongs to the windows below.
  for (int kind : {ShapeBounding, ShapeInput}) {
    int count = 0, ordering = 0;
    XRectangle* rects = XShapeGetRectangles(D, ring, kind, &count, &ordering);
    long area = 0;
    for (int i = 0; i < count; ++i) {
      area += long(rects[i].width) * rects[i].height;
      const bool overlapsInside = rects[i].x < 642 && rects[i].x + rects[i].width > 2 && rects[i].y < 482 &&
                                  rects[i].y + rects[i].height > 2;
      EXPECT_FALSE(overlapsInside) << "shape " << kind << " rect " << i;
    }
    EXPECT_EQ(area, 644L * 484 - 640L * 480) << "shape " << kind;
    if (rects) XFree(rects);
  }
  Window focus;
  int revert;
  XGetInputFocus(D, &focus, &revert);
  EXPECT_NE(focus, ring);

  // Red and steady until the first frame request.
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(RootPixel(99, 300), Red) << "sample " << i;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  auto pkt = NewPacket();
  ASSERT_EQ(dev.ReadPacket(pkt.get()), CaptureState(dev)->FrameBytes);
  // The ring lies outside the area: the frame's edges are the window below, not the ring.
  TScreenCaptureContext* s = CaptureState(dev);
  EXPECT_EQ(PixelAt(pkt->data, s->Stride, s->PixelFormat, 0, 0), kRed);
  EXPECT_EQ(PixelAt(pkt->data, s->Stride, s->PixelFormat, 639, 0), kGreen);
  EXPECT_EQ(PixelAt(pkt->data, s->Stride, s->PixelFormat, 0, 479), kBlue);
  EXPECT_EQ(PixelAt(pkt->data, s->Stride, s->PixelFormat, 639, 479), kYellow);

  // Then it alternates: the first switch shows the colour at the program-wide index (red again when
  // that is 0), so within a second and a half the ring has been blue and red again after that.
  bool sawBlue = false, sawRedAfterBlue = false;
  for (int i = 0; i < 150 && !sawRedAfterBlue; ++i) {
    const unsigned long p = RootPixel(98, 300);
    if (p == Blue) sawBlue = true;
    else if (sawBlue && p == Red) sawRedAfterBlue = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(sawBlue);
  EXPECT_TRUE(sawRedAfterBlue);

  // Released by a close on another thread: the window is gone when the close returns.
  std::thread closer([&] { dev.Close(); });
  closer.join();
  EXPECT_FALSE(Exists(ring));
}

TEST_F(FrameFormTest, FollowsTheCapturedWindowAndSitsOffScreenForFullScreen) {
  TPatternWindow win(D, 300, 200, 200, 150, true);
  TDeviceInput dev;
  TFormatParameters ap;
  ASSERT_EQ(dev.Open(ScreenCaptureDevice(), "hwnd=" + std::to_string(win.Win) + ";showframe=1", &ap), 0);
  const Window ring = CaptureState(dev)->FrameForm->WindowId();
  TGeometry g = Geometry(ring);
  EXPECT_EQ(g.X, 298);
  EXPECT_EQ(g.Y, 198);
  EXPECT_EQ(g.W, 204u);

  win.Move(600, 450);
  std::this_thread::sleep_for(std::chrono::milliseconds(80));
  g = Geometry(ring);
  EXPECT_EQ(g.X, 598);
  EXPECT_EQ(g.Y, 448);
  // A resize does not change the ring's size.
  XResizeWindow(D, win.Win, 400, 300);
  XSync(D, False);
  std::this_thread::sleep_for(std::chrono::milliseconds(80));
  EXPECT_EQ(Geometry(ring).W, 204u);
  dev.Close();
  EXPECT_FALSE(Exists(ring));

  TDeviceInput full;
  ASSERT_EQ(full.Open(ScreenCaptureDevice(), "showframe=1", &ap), 0);
  g = Geometry(CaptureState(full)->FrameForm->WindowId());
  EXPECT_EQ(g.X, -2);
  EXPECT_EQ(g.Y, -2);
  EXPECT_EQ(g.W, unsigned(DisplayWidth(D, DefaultScreen(D)) + 4));

  // Without "showframe" there is no overlay at all.
  TDeviceInput plain;
  ASSERT_EQ(plain.Open(ScreenCaptureDevice(), "showframe=0", &ap), 0);
  EXPECT_EQ(CaptureState(plain)->FrameForm, nullptr);
}

}  // namespace
}  // namespace qv::test
