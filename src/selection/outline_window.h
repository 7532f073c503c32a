// The window finder's outline around the window under the pointer: a window of its own, unmanaged
// (override-redirect) and shaped to a red ring with the X Shape extension, like the recording's
// frame overlay. A compositing manager shows it like any other window (drawing on the root would be
// hidden behind the composited windows), and its input shape is empty, so pointer queries and
// clicks go through it to the windows below. Kept free of Qt, like x11_windows.h.
#pragma once

#include "selection/x11_windows.h"

namespace qv::x11 {

class TOutlineWindow {
 public:
  static constexpr int kWidth = 4;

  // Uses the caller's connection, on the caller's thread; the window is made at the first Show.
  explicit TOutlineWindow(_XDisplay* dpy) : Dpy(dpy) {}
  ~TOutlineWindow();
  TOutlineWindow(const TOutlineWindow&) = delete;
  TOutlineWindow& operator=(const TOutlineWindow&) = delete;

  // Rings the rectangle's outermost pixels, the part on the desktop: a maximised window that
  // starts off the screen keeps its ring in sight. Only requests, never a round trip.
  void Show(const TScreenRect& rect);
  void Hide();
  bool Shown() const { return Mapped; }
  XWindowId WindowId() const { return Win; }

 private:
  void Create();

  _XDisplay* Dpy;
  XWindowId Win = 0;
  bool Mapped = false;
  TScreenRect Shape;
};

}  // namespace qv::x11
