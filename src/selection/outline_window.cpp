#include "selection/outline_window.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include <algorithm>

namespace qv::x11 {

namespace {

unsigned long RedPixel(Display* dpy) {
  const int screen = DefaultScreen(dpy);
  const Visual* visual = DefaultVisual(dpy, screen);
  return visual->c_class == TrueColor ? visual->red_mask : WhitePixel(dpy, screen);
}

TScreenRect OnDesktop(Display* dpy, const TScreenRect& rect) {
  const TScreenRect root = RootRect(dpy);
  return {std::max(rect.Left, root.Left), std::max(rect.Top, root.Top), std::min(rect.Right, root.Right),
          std::min(rect.Bottom, root.Bottom)};
}

}  // namespace

TOutlineWindow::~TOutlineWindow() {
  if (!Win) return;
  XDestroyWindow(Dpy, Win);
  XFlush(Dpy);
}

void TOutlineWindow::Create() {
  const int screen = DefaultScreen(Dpy);
  XSetWindowAttributes attrs{};
  // Unmanaged: no decoration, no taskbar entry, never given the focus.
  attrs.override_redirect = True;
  attrs.background_pixel = RedPixel(Dpy);
  attrs.border_pixel = 0;
  Win = XCreateWindow(Dpy, RootWindow(Dpy, screen), 0, 0, 1, 1, 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWBackPixel | CWBorderPixel, &attrs);
  XStoreName(Dpy, Win, "Quorvane window outline");
  XClassHint hint{const_cast<char*>("quorvane-outline"), const_cast<char*>("Quorvane")};
  XSetClassHint(Dpy, Win, &hint);
  // No input region at all: the pointer, and every query of what lies under it, sees through.
  XShapeCombineRectangles(Dpy, Win, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
}

void TOutlineWindow::Show(const TScreenRect& rect) {
  const TScreenRect r = OnDesktop(Dpy, rect);
  const int w = r.Right - r.Left, h = r.Bottom - r.Top;
  if (w <= 0 || h <= 0) {
    Hide();
    return;
  }
  if (!Win) Create();
  if (!(r == Shape)) {
    Shape = r;
    XMoveResizeWindow(Dpy, Win, r.Left, r.Top, unsigned(w), unsigned(h));
    // The ring: the whole rectangle, then its inside taken away.
    XRectangle outer{0, 0, static_cast<unsigned short>(w), static_cast<unsigned short>(h)};
    XShapeCombineRectangles(Dpy, Win, ShapeBounding, 0, 0, &outer, 1, ShapeSet, Unsorted);
    if (w > 2 * kWidth && h > 2 * kWidth) {
      XRectangle inside{kWidth, kWidth, static_cast<unsigned short>(w - 2 * kWidth),
                        static_cast<unsigned short>(h - 2 * kWidth)};
      XShapeCombineRectangles(Dpy, Win, ShapeBounding, 0, 0, &inside, 1, ShapeSubtract, Unsorted);
    }
  }
  XMapRaised(Dpy, Win);
  Mapped = true;
  XFlush(Dpy);
}

void TOutlineWindow::Hide() {
  if (!Win || !Mapped) return;
  XUnmapWindow(Dpy, Win);
  Mapped = false;
  XFlush(Dpy);
}

}  // namespace qv::x11
