#include "selection/x11_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstring>

#include "capture/screen_capture_x11.h"

namespace qv::x11 {

namespace {

bool ReadWindowRect(Display* dpy, Window window, TScreenRect& rect) {
  XWindowAttributes attrs;
  if (!XGetWindowAttributes(dpy, window, &attrs)) return false;
  Window child = 0;
  int x = 0, y = 0;
  if (!XTranslateCoordinates(dpy, window, attrs.root, 0, 0, &x, &y, &child)) return false;
  rect = {x, y, x + attrs.width, y + attrs.height};
  return true;
}

// First direct child of `parent`, topmost first, that is shown, can be drawn into and whose
// rectangle holds the point; 0 when none does.
Window ChildAtPoint(Display* dpy, Window parent, int x, int y) {
  Window root = 0, parentOut = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(dpy, parent, &root, &parentOut, &children, &count)) return 0;
  Window found = 0;
  // The server lists children bottom to top.
  for (unsigned int i = count; i-- > 0 && !found;) {
    XWindowAttributes attrs;
    if (!XGetWindowAttributes(dpy, children[i], &attrs)) continue;
    if (attrs.map_state != IsViewable || attrs.c_class != InputOutput) continue;
    TScreenRect r;
    if (!ReadWindowRect(dpy, children[i], r)) continue;
    if (x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom) found = children[i];
  }
  if (children) XFree(children);
  return found;
}

// One colour channel of a pixel, scaled to 8 bits: the channel's value over its mask's full value.
std::uint32_t Channel(unsigned long pixel, unsigned long mask) {
  return mask ? std::uint32_t((pixel & mask) * 255 / mask) : 0;
}

void ConvertImage(const XImage* image, std::uint32_t* pixels, std::size_t stride) {
  const bool plain = image->bits_per_pixel == 32 && image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 &&
                     image->blue_mask == 0xFF && image->byte_order == LSBFirst;
  for (int y = 0; y < image->height; ++y) {
    std::uint32_t* row = pixels + stride * std::size_t(y);
    if (plain) {
      std::memcpy(row, image->data + std::size_t(y) * std::size_t(image->bytes_per_line),
                  std::size_t(image->width) * 4);
      for (int x = 0; x < image->width; ++x) row[x] |= 0xFF000000u;
      continue;
    }
    for (int x = 0; x < image->width; ++x) {
      const unsigned long p = XGetPixel(const_cast<XImage*>(image), x, y);
      row[x] = 0xFF000000u | Channel(p, image->red_mask) << 16 | Channel(p, image->green_mask) << 8 |
               Channel(p, image->blue_mask);
    }
  }
}

}  // namespace

XWindowId WindowAtPoint(Display* dpy, int x, int y) {
  const Window root = DefaultRootWindow(dpy);
  Window top = 0;
  int cx = 0, cy = 0;
  if (!XTranslateCoordinates(dpy, root, root, x, y, &cx, &cy, &top) || top == None) return root;
  // Over a window manager's frame, its title bar too, the window meant is the client inside.
  const Window client = ManagedClient(dpy, top);
  const Window w = client ? client : top;
  const Window child = ChildAtPoint(dpy, w, x, y);
  return child ? child : w;
}

bool GetWindowRect(Display* dpy, XWindowId window, TScreenRect& rect) { return ReadWindowRect(dpy, window, rect); }

bool PointerPosition(Display* dpy, int& x, int& y) {
  Window root = 0, child = 0;
  int wx = 0, wy = 0;
  unsigned int mask = 0;
  return XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &x, &y, &wx, &wy, &mask);
}

TScreenRect RootRect(Display* dpy) {
  const int screen = DefaultScreen(dpy);
  return {0, 0, DisplayWidth(dpy, screen), DisplayHeight(dpy, screen)};
}

bool ReadRootPixels(Display* dpy, int width, int height, std::uint32_t* pixels, std::size_t stride) {
  if (width <= 0 || height <= 0) return false;
  XImage* image = XGetImage(dpy, DefaultRootWindow(dpy), 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
  if (!image) return false;
  ConvertImage(image, pixels, stride);
  XDestroyImage(image);
  return true;
}

unsigned long CreateBitmapCursor(Display* dpy, int width, int height, const std::uint8_t* source,
                                 const std::uint8_t* mask, int hotX, int hotY) {
  const Window root = DefaultRootWindow(dpy);
  const auto w = static_cast<unsigned>(width), h = static_cast<unsigned>(height);
  Pixmap src = XCreateBitmapFromData(dpy, root, reinterpret_cast<const char*>(source), w, h);
  Pixmap msk = XCreateBitmapFromData(dpy, root, reinterpret_cast<const char*>(mask), w, h);
  Cursor cursor = 0;
  if (src && msk) {
    XColor black{}, white{};
    white.red = white.green = white.blue = 0xFFFF;
    black.flags = white.flags = DoRed | DoGreen | DoBlue;
    cursor = XCreatePixmapCursor(dpy, src, msk, &black, &white, static_cast<unsigned>(hotX),
                                 static_cast<unsigned>(hotY));
  }
  if (src) XFreePixmap(dpy, src);
  if (msk) XFreePixmap(dpy, msk);
  return cursor;
}

bool GrabPointerOnRoot(Display* dpy, unsigned long cursor) {
  // The press that started the drag left the pointer grabbed for this connection through the X
  // input extension, and the server refuses a core grab over a grab of another kind, even our own.
  // A core ungrab ends it; the two requests go out together, so no button event falls between.
  XUngrabPointer(dpy, CurrentTime);
  const int status = XGrabPointer(dpy, DefaultRootWindow(dpy), False,
                                  ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                                  GrabModeAsync, GrabModeAsync, None, cursor, CurrentTime);
  return status == GrabSuccess;
}

void UngrabPointer(Display* dpy) {
  XUngrabPointer(dpy, CurrentTime);
  XFlush(dpy);
}

bool GrabKeyboardOnRoot(Display* dpy) {
  return XGrabKeyboard(dpy, DefaultRootWindow(dpy), False, GrabModeAsync, GrabModeAsync, CurrentTime) ==
         GrabSuccess;
}

void UngrabKeyboard(Display* dpy) {
  XUngrabKeyboard(dpy, CurrentTime);
  XFlush(dpy);
}

bool IsEscapeKey(Display* dpy, unsigned keycode) {
  return keycode == XKeysymToKeycode(dpy, XK_Escape);
}

void UnmapWindow(Display* dpy, XWindowId window) {
  XUnmapWindow(dpy, window);
  XFlush(dpy);
}

XWindowId RootWindowId(Display* dpy) { return DefaultRootWindow(dpy); }

}  // namespace qv::x11
