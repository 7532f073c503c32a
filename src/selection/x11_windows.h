// Xlib helpers of the selection forms: which window lies under a screen point and its rectangle,
// the desktop's own pixels, and the grabs that follow a choice made over other programs' windows.
// Kept free of Qt so that Xlib's macros never meet Qt's headers. Every coordinate is a physical
// pixel of the desktop (the root window), whatever scale factor the toolkit applies.
#pragma once

#include <cstddef>
#include <cstdint>

struct _XDisplay;

namespace qv::x11 {

using XWindowId = unsigned long;

// Screen rectangle with the right and bottom edges outside it, like a window rectangle.
struct TScreenRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
};

inline bool operator==(const TScreenRect& a, const TScreenRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}

// The window a user means at (x, y) in root coordinates: the root's child there; when that is a
// window manager's frame, the client inside it (also over the frame's title bar and edges); then
// the first of that window's direct children (topmost first) that is shown and contains the point.
// Over bare desktop the root itself.
// Windows whose input shape leaves the point out (the finder's own outline) are looked through.
// Makes many round trips and may meet windows that vanish meanwhile: call it on a connection whose
// errors are trapped (OpenCaptureDisplay), never on the toolkit's.
XWindowId WindowAtPoint(_XDisplay* dpy, int x, int y);

// Screen rectangle of the window's inside area (what xwininfo calls the absolute upper-left corner
// and the size). False when the window is gone. Same connection rule as WindowAtPoint.
bool GetWindowRect(_XDisplay* dpy, XWindowId window, TScreenRect& rect);

// Pointer position on the desktop; false when it cannot be read.
bool PointerPosition(_XDisplay* dpy, int& x, int& y);

// The whole desktop: the root window's rectangle.
TScreenRect RootRect(_XDisplay* dpy);
// Reads the desktop's pixels from (0, 0) into `pixels` as 0xffRRGGBB words, `stride` words a row.
// False when the server gives no image.
bool ReadRootPixels(_XDisplay* dpy, int width, int height, std::uint32_t* pixels, std::size_t stride);

// Two-colour cursor (black where `source` has a bit, white elsewhere inside `mask`) from X bitmaps:
// rows padded to whole bytes, least significant bit first. Returns 0 on failure.
unsigned long CreateBitmapCursor(_XDisplay* dpy, int width, int height, const std::uint8_t* source,
                                 const std::uint8_t* mask, int hotX, int hotY);

// Takes every pointer event for this connection on the root window, showing `cursor`, so a drag
// keeps reporting to us after our own window has gone. False when another client holds the pointer.
bool GrabPointerOnRoot(_XDisplay* dpy, unsigned long cursor);
void UngrabPointer(_XDisplay* dpy);
// Takes every key press for this connection on the root window, so Escape reaches us while no
// window of ours is shown. False when another client holds the keyboard.
bool GrabKeyboardOnRoot(_XDisplay* dpy);
void UngrabKeyboard(_XDisplay* dpy);
bool IsEscapeKey(_XDisplay* dpy, unsigned keycode);

// Unmaps a top-level window behind the toolkit's back (its own idea of visibility stays as it was).
void UnmapWindow(_XDisplay* dpy, XWindowId window);

XWindowId RootWindowId(_XDisplay* dpy);

}  // namespace qv::x11
