#include "capture/previewer.h"

#include <gtest/gtest.h>
// Xlib's macros (None, Bool, ...) clash with GoogleTest's names: include it last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
}

namespace qv {
namespace {

bool WaitFor(const std::function<bool()>& done, int ms = 3000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

// The test's own connection, as another client (or the window manager) sees the preview window.
class PreviewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A bare X server resets when its last client leaves and refuses connections meanwhile.
    WaitFor([&] { return (Dpy = XOpenDisplay(nullptr)) != nullptr; }, 2000);
    if (!Dpy) GTEST_SKIP() << "no X display";
  }
  void TearDown() override {
    if (Dpy) XCloseDisplay(Dpy);
  }

  std::vector<Atom> AtomList(Window w, const char* prop) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::vector<Atom> out;
    if (XGetWindowProperty(Dpy, w, XInternAtom(Dpy, prop, False), 0, 64, False, XA_ATOM, &type, &format, &count,
                           &after, &data) == Success &&
        data && format == 32)
      out.assign(reinterpret_cast<Atom*>(data), reinterpret_cast<Atom*>(data) + count);
    if (data) XFree(data);
    return out;
  }
  bool HasAtom(Window w, const char* prop, const char* atom) {
    const Atom a = XInternAtom(Dpy, atom, False);
    for (Atom x : AtomList(w, prop))
      if (x == a) return true;
    return false;
  }
  std::string Caption(Window w) {
    char* name = nullptr;
    std::string s = XFetchName(Dpy, w, &name) && name ? name : "";
    if (name) XFree(name);
    return s;
  }
  bool Viewable(Window w) {
    XWindowAttributes a;
    return XGetWindowAttributes(Dpy, w, &a) && a.map_state == IsViewable;
  }
  // 0xRRGGBB of the window's pixel.
  unsigned long PixelAt(Window w, int x, int y) {
    XImage* img = XGetImage(Dpy, w, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!img) return ~0ul;
    const unsigned long p = XGetPixel(img, 0, 0);
    XDestroyImage(img);
    return p & 0xffffff;
  }
  void RootPosition(Window w, int& x, int& y) {
    Window child;
    XTranslateCoordinates(Dpy, w, DefaultRootWindow(Dpy), 0, 0, &x, &y, &child);
  }
  Display* Dpy = nullptr;
};

TBitmap TwoColour(TPixelFormat f, int w, int h) {
  TBitmap b;
  b.SetPixelFormat(f);
  b.SetSize(w, h);
  // Top half red, bottom half blue, in each format's own layout.
  for (int y = 0; y < h; ++y) {
    const bool red = y < h / 2;
    std::uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < w; ++x) switch (f) {
        case pf8bit:
          row[x] = red ? 0x07 : 0xC0;
          break;
        case pf15bit:
        case pf16bit: {
          const unsigned v = red ? 0x001f : (f == pf15bit ? 0x7c00 : 0xf800);
          row[2 * x] = std::uint8_t(v), row[2 * x + 1] = std::uint8_t(v >> 8);
          break;
        }
        case pf24bit:
          row[3 * x] = red ? 0 : 255, row[3 * x + 1] = 0, row[3 * x + 2] = red ? 255 : 0;
          break;
        case pf32bit:
          row[4 * x] = red ? 0 : 255, row[4 * x + 1] = 0, row[4 * x + 2] = red ? 255 : 0, row[4 * x + 3] = 255;
          break;
      }
  }
  return b;
}

TEST_F(PreviewerTest, ShowsTheFrameAboveOthersWithItsTimeAsCaption) {
  TPreviewer p;
  EXPECT_EQ(p.WindowId(), 0u);
  ASSERT_TRUE(p.Preview(TwoColour(pf24bit, 120, 80), 1, 3723004000LL));
  const Window w = p.WindowId();
  ASSERT_NE(w, 0u);
  EXPECT_TRUE(WaitFor([&] { return Viewable(w); }));
  EXPECT_EQ(Caption(w), "01:02:03.004");
  EXPECT_TRUE(WaitFor([&] { return HasAtom(w, "_NET_WM_STATE", "_NET_WM_STATE_ABOVE"); }));
  XWindowAttributes a;
  ASSERT_TRUE(XGetWindowAttributes(Dpy, w, &a));
  EXPECT_EQ(a.width, 120);
  EXPECT_EQ(a.height, 80);

  // With a window manager: an ordinary window raised later still stacks below the preview.
  const Window root = DefaultRootWindow(Dpy);
  if (!AtomList(root, "_NET_SUPPORTED").empty()) {
    const Window other = XCreateSimpleWindow(Dpy, root, 0, 0, 400, 300, 0, 0, 0);
    XMapRaised(Dpy, other);
    XFlush(Dpy);
    auto stackIndex = [&](Window x) {
      Atom type;
      int format;
      unsigned long count, after;
      unsigned char* data = nullptr;
      int index = -1;
      if (XGetWindowProperty(Dpy, root, XInternAtom(Dpy, "_NET_CLIENT_LIST_STACKING", False), 0, 1024, False,
                             XA_WINDOW, &type, &format, &count, &after, &data) == Success && data)
        for (unsigned long i = 0; i < count; ++i)
          if (reinterpret_cast<Window*>(data)[i] == x) index = int(i);
      if (data) XFree(data);
      return index;
    };
    EXPECT_TRUE(WaitFor([&] { return stackIndex(other) >= 0; }));
    XRaiseWindow(Dpy, other);
    XFlush(Dpy);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_GT(stackIndex(w), stackIndex(other));
    XDestroyWindow(Dpy, other);
  }

  ASSERT_TRUE(p.Preview(TwoColour(pf24bit, 120, 80), 2, AV_NOPTS_VALUE));
  EXPECT_EQ(Caption(w), "N/A");
  EXPECT_EQ(p.WindowId(), w);  // one window for the whole run
  EXPECT_EQ(p.FrameNumber(), 2);
}

TEST_F(PreviewerTest, EveryBitmapFormatIsDrawnTopRowFirst) {
  // Full red and full blue fill their channel masks at any TrueColor depth (24-bit and 16-bit rigs).
  Visual* vis = DefaultVisual(Dpy, DefaultScreen(Dpy));
  if (vis->c_class != TrueColor) GTEST_SKIP() << "needs a TrueColor visual";
  const unsigned long red = vis->red_mask, blue = vis->blue_mask;
  for (TPixelFormat f : {pf8bit, pf15bit, pf16bit, pf24bit, pf32bit}) {
    SCOPED_TRACE(int(f));
    TPreviewer p;
    ASSERT_TRUE(p.Preview(TwoColour(f, 64, 48), 1, 0));
    const Window w = p.WindowId();
    ASSERT_TRUE(WaitFor([&] { return Viewable(w); }));
    // The window manager may map it after our first paint; a repaint follows the Expose.
    EXPECT_TRUE(WaitFor([&] { return PixelAt(w, 10, 5) == red; })) << std::hex << PixelAt(w, 10, 5);
    EXPECT_EQ(PixelAt(w, 10, 40), blue) << std::hex << PixelAt(w, 10, 40);
  }
}

TEST_F(PreviewerTest, ClosingTheWindowEndsThePreview) {
  TPreviewer p;
  ASSERT_TRUE(p.Preview(TwoColour(pf32bit, 80, 60), 1, 0));
  const Window w = p.WindowId();
  ASSERT_TRUE(WaitFor([&] { return Viewable(w); }));
  EXPECT_FALSE(p.Closed());

  // What the window manager sends when the user clicks the close box.
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(Dpy, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = long(XInternAtom(Dpy, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(Dpy, w, False, NoEventMask, &e);
  XFlush(Dpy);

  EXPECT_TRUE(WaitFor([&] { return p.Closed(); }));
  EXPECT_FALSE(p.Preview(TwoColour(pf32bit, 80, 60), 2, 40000));
  EXPECT_FALSE(p.Preview(TwoColour(pf32bit, 80, 60), 3, 80000));
  EXPECT_EQ(p.WindowId(), w);  // no second window
  EXPECT_EQ(p.FrameNumber(), 1);
}

TEST_F(PreviewerTest, DraggedFromInsideTheWindow) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "xdotool missing";
  TPreviewer p;
  ASSERT_TRUE(p.Preview(TwoColour(pf24bit, 160, 120), 1, 0));
  const Window w = p.WindowId();
  ASSERT_TRUE(WaitFor([&] { return Viewable(w); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  int x0, y0;
  RootPosition(w, x0, y0);
  const std::string cmd = "xdotool mousemove " + std::to_string(x0 + 80) + " " + std::to_string(y0 + 60) +
                          " sleep 0.2 mousedown 1 sleep 0.2 mousemove " + std::to_string(x0 + 120) + " " +
                          std::to_string(y0 + 90) + " sleep 0.2 mousemove " + std::to_string(x0 + 150) + " " +
                          std::to_string(y0 + 110) + " sleep 0.2 mouseup 1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  int x1 = x0, y1 = y0;
  EXPECT_TRUE(WaitFor([&] {
    RootPosition(w, x1, y1);
    return x1 == x0 + 70 && y1 == y0 + 50;
  })) << "moved from " << x0 << "," << y0 << " to " << x1 << "," << y1;
}

TEST(Previewer, NoDisplayMeansNoPreview) {
  TPreviewer p(":4711");
  EXPECT_FALSE(p.Preview(TBitmap(), 1, 0));
  EXPECT_FALSE(p.Preview(TBitmap(), 2, 0));
}

TEST(Previewer, TheEngineReachesItThroughTheInterface) {
  SetPreviewWindowFactory(nullptr);
  EXPECT_EQ(CreatePreviewWindow(), nullptr);
  RegisterPreviewer();
  std::unique_ptr<TPreviewWindow> w = CreatePreviewWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_NE(dynamic_cast<TPreviewer*>(w.get()), nullptr);
  SetPreviewWindowFactory(nullptr);
}

}  // namespace
}  // namespace qv
