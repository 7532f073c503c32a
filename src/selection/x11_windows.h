// Xlib helpers of the window finder: which window lies under a screen point, its rectangle, the
// inverted outline drawn over the whole screen, and the pointer grab that follows a drag over other
// programs' windows. Kept free of Qt so that Xlib's macros never meet Qt's headers.
#pragma once

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

// The window a user means at (x, y) in root coordinates: the root's child there; when that is a
// window manager's frame, the client inside it; then the first of that window's direct children
// (topmost first) that is shown and contains the point. Over bare desktop the root itself.
XWindowId WindowAtPoint(_XDisplay* dpy, int x, int y);

// Screen rectangle of the window's inside area (what xwininfo calls the absolute upper-left corner
// and the size). False when the window is gone.
bool GetWindowRect(_XDisplay* dpy, XWindowId window, TScreenRect& rect);

// Outlines the rectangle on the root window, across every window on it, with a 4-pixel red pen in
// the not-xor mode: drawing the same rectangle a second time restores the screen exactly.
void DrawInvertedOutline(_XDisplay* dpy, const TScreenRect& rect);

// Pointer position on the screen; false when it cannot be read.
bool PointerPosition(_XDisplay* dpy, int& x, int& y);

// Two-colour cursor (black where `source` has a bit, white elsewhere inside `mask`) from X bitmaps:
// rows padded to whole bytes, least significant bit first. Returns 0 on failure.
unsigned long CreateBitmapCursor(_XDisplay* dpy, int width, int height, const std::uint8_t* source,
                                 const std::uint8_t* mask, int hotX, int hotY);
void FreeCursor(_XDisplay* dpy, unsigned long cursor);

// Takes every pointer event for this connection on the root window, showing `cursor`, so a drag
// keeps reporting to us after our own window has gone. False when another client holds the pointer.
bool GrabPointerOnRoot(_XDisplay* dpy, unsigned long cursor);
void UngrabPointer(_XDisplay* dpy);

// Unmaps a top-level window behind the toolkit's back (its own idea of visibility stays as it was).
void UnmapWindow(_XDisplay* dpy, XWindowId window);

void Sync(_XDisplay* dpy);

XWindowId RootWindowId(_XDisplay* dpy);

// A connection of our own, for when the toolkit does not share its Xlib display.
_XDisplay* OpenDisplay();
void CloseDisplay(_XDisplay* dpy);

}  // namespace qv::x11
