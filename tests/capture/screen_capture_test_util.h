// Helpers for the screen device's desktop tests: a connection of the test's own, windows painted with
// known colours, and pixel reading from captured packets.
#pragma once

// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <unistd.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/screen_capture.h"
#include "media/ff_api.h"
#include "media/logger.h"

namespace qv::test {

struct TRgb {
  int R = 0, G = 0, B = 0;
  bool operator==(const TRgb& o) const { return R == o.R && G == o.G && B == o.B; }
};
inline std::ostream& operator<<(std::ostream& os, const TRgb& c) {
  return os << "(" << c.R << "," << c.G << "," << c.B << ")";
}

constexpr TRgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kYellow{255, 255, 0};

inline unsigned long PixelFor(Display* d, TRgb c) {
  XColor x{};
  x.red = static_cast<unsigned short>(c.R * 257);
  x.green = static_cast<unsigned short>(c.G * 257);
  x.blue = static_cast<unsigned short>(c.B * 257);
  x.flags = DoRed | DoGreen | DoBlue;
  XAllocColor(d, DefaultColormap(d, DefaultScreen(d)), &x);
  return x.pixel;
}

// A window whose quadrants are red (top left), green (top right), blue (bottom left) and yellow
// (bottom right), painted by the server from a background pixmap so it survives being covered.
class TPatternWindow {
 public:
  TPatternWindow(Display* d, int x, int y, int w, int h, bool unmanaged, const std::string& title = "")
      : D(d), W(w), H(h) {
    const int s = DefaultScreen(d);
    Pixmap pm = XCreatePixmap(d, RootWindow(d, s), unsigned(w), unsigned(h), unsigned(DefaultDepth(d, s)));
    GC gc = XCreateGC(d, pm, 0, nullptr);
    const TRgb colors[4] = {kRed, kGreen, kBlue, kYellow};
    for (int q = 0; q < 4; ++q) {
      XSetForeground(d, gc, PixelFor(d, colors[q]));
      const int qx = (q % 2) * (w / 2), qy = (q / 2) * (h / 2);
      XFillRectangle(d, pm, gc, qx, qy, unsigned(q % 2 ? w - w / 2 : w / 2), unsigned(q / 2 ? h - h / 2 : h / 2));
    }
    XFreeGC(d, gc);
    XSetWindowAttributes a{};
    a.background_pixmap = pm;
    a.override_redirect = unmanaged;
    a.event_mask = StructureNotifyMask | ExposureMask;
    Win = XCreateWindow(d, RootWindow(d, s), x, y, unsigned(w), unsigned(h), 0, CopyFromParent, InputOutput,
                        CopyFromParent, CWBackPixmap | CWOverrideRedirect | CWEventMask, &a);
    XFreePixmap(d, pm);
    if (!title.empty()) {
      XStoreName(d, Win, title.c_str());
      Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
      XChangeProperty(d, Win, XInternAtom(d, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(title.data()), int(title.size()));
    }
    if (!unmanaged) {
      XSizeHints hints{};
      hints.flags = USPosition | PPosition;
      hints.x = x;
      hints.y = y;
      XSetWMNormalHints(d, Win, &hints);
    }
    XMapRaised(d, Win);
    // Wait until it is on the screen.
    XEvent e;
    do XWindowEvent(d, Win, StructureNotifyMask, &e);
    while (e.type != MapNotify);
    XSync(d, False);
    usleep(100000);
  }
  ~TPatternWindow() {
    XDestroyWindow(D, Win);
    XSync(D, False);
  }
  void Move(int x, int y) {
    XMoveWindow(D, Win, x, y);
    XRaiseWindow(D, Win);
    XSync(D, False);
  }
  // Top left of the window's inside on the root.
  void Origin(int& x, int& y) const {
    Window child;
    XTranslateCoordinates(D, Win, DefaultRootWindow(D), 0, 0, &x, &y, &child);
  }
  Display* D;
  Window Win = 0;
  int W, H;
};

// The colour at (x, y) of a packed frame.
inline TRgb PixelAt(const std::uint8_t* data, int stride, AVPixelFormat fmt, int x, int y) {
  const std::uint8_t* p = data + std::ptrdiff_t(y) * stride;
  switch (fmt) {
    case AV_PIX_FMT_BGR0:
    case AV_PIX_FMT_BGRA: p += x * 4; return {p[2], p[1], p[0]};
    case AV_PIX_FMT_BGR24: p += x * 3; return {p[2], p[1], p[0]};
    case AV_PIX_FMT_RGB565LE: {
      p += x * 2;
      const int v = p[0] | (p[1] << 8);
      return {((v >> 11) & 31) * 255 / 31, ((v >> 5) & 63) * 255 / 63, (v & 31) * 255 / 31};
    }
    case AV_PIX_FMT_RGB555LE: {
      p += x * 2;
      const int v = p[0] | (p[1] << 8);
      return {((v >> 10) & 31) * 255 / 31, ((v >> 5) & 31) * 255 / 31, (v & 31) * 255 / 31};
    }
    default: ADD_FAILURE() << "unexpected pixel format " << fmt; return {};
  }
}

// Collects every line the media code logs while it lives.
class TLogCapture {
 public:
  TLogCapture() {
    TFFLogger* logger = GetLogger();
    logger->TriggerEventInMainThread = false;
    logger->SetLogLevel(llDebug);
    logger->OnLog = [this](const void*, std::uint32_t, TLogLevel level, const std::string& msg) {
      Lines.push_back({level, msg});
    };
  }
  ~TLogCapture() { GetLogger()->OnLog = nullptr; }
  bool Has(const std::string& part, TLogLevel level) const {
    for (const auto& l : Lines)
      if (l.second.find(part) != std::string::npos && l.first == level) return true;
    return false;
  }
  bool HasText(const std::string& part) const {
    for (const auto& l : Lines)
      if (l.second.find(part) != std::string::npos) return true;
    return false;
  }
  int Count(const std::string& part) const {
    int n = 0;
    for (const auto& l : Lines) n += l.second.find(part) != std::string::npos;
    return n;
  }
  std::string All() const {
    std::string s;
    for (const auto& l : Lines) s += l.second;
    return s;
  }
  std::vector<std::pair<TLogLevel, std::string>> Lines;
};

struct TPacketDeleter {
  void operator()(AVPacket* p) const { ff::av_packet_free(&p); }
};
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;
inline TPacketPtr NewPacket() { return TPacketPtr(ff::av_packet_alloc()); }

inline TScreenCaptureContext* CaptureState(TDeviceInput& dev) {
  return DeviceState<TScreenCaptureContext>(dev.Context());
}

inline Display* OpenTestDisplay() {
  Display* d = XOpenDisplay(nullptr);
  return d;
}

#define QV_REQUIRE_DISPLAY()                                                         \
  do {                                                                               \
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "DISPLAY is not set: needs an X server (desktop rig)"; \
  } while (0)

}  // namespace qv::test
