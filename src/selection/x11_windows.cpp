#include "selection/x11_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace qv::x11 {

namespace {

// X reports a BadWindow for a window that vanished between two calls; that is an ordinary event
// while the user drags over a changing desktop, not a reason to end the program.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

class ScopedErrorTrap {
 public:
  explicit ScopedErrorTrap(Display* dpy) : dpy_(dpy) {
    XSync(dpy_, False);
    old_ = XSetErrorHandler(IgnoreXError);
  }
  ~ScopedErrorTrap() {
    XSync(dpy_, False);
    XSetErrorHandler(old_);
  }
  ScopedErrorTrap(const ScopedErrorTrap&) = delete;
  ScopedErrorTrap& operator=(const ScopedErrorTrap&) = delete;

 private:
  Display* dpy_;
  int (*old_)(Display*, XErrorEvent*) = nullptr;
};

bool ReadWindowRect(Display* dpy, Window window, TScreenRect& rect) {
  XWindowAttributes attrs;
  if (!XGetWindowAttributes(dpy, window, &attrs)) return false;
  Window child = 0;
  int x = 0, y = 0;
  if (!XTranslateCoordinates(dpy, window, attrs.root, 0, 0, &x, &y, &child)) return false;
  rect = {x, y, x + attrs.width, y + attrs.height};
  return true;
}

bool HasWmState(Display* dpy, Window w) {
  // Window managers put WM_STATE on the client windows they manage, never on their own frames.
  const Atom wmState = XInternAtom(dpy, "WM_STATE", True);
  if (wmState == None) return false;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  const int status = XGetWindowProperty(dpy, w, wmState, 0, 0, False, AnyPropertyType, &type, &format,
                                        &count, &after, &data);
  if (data) XFree(data);
  return status == Success && type != None;
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

}  // namespace

XWindowId WindowAtPoint(Display* dpy, int x, int y) {
  ScopedErrorTrap trap(dpy);
  const Window root = DefaultRootWindow(dpy);
  Window top = 0;
  int cx = 0, cy = 0;
  if (!XTranslateCoordinates(dpy, root, root, x, y, &cx, &cy, &top) || top == None) return root;
  Window w = top;
  if (!HasWmState(dpy, top)) {
    const Window inner = ChildAtPoint(dpy, top, x, y);
    if (!inner) return top;
    // Under a window manager the frame's child is the client; without one this was the last level.
    if (!HasWmState(dpy, inner)) return inner;
    w = inner;
  }
  const Window child = ChildAtPoint(dpy, w, x, y);
  return child ? child : w;
}

bool GetWindowRect(Display* dpy, XWindowId window, TScreenRect& rect) {
  ScopedErrorTrap trap(dpy);
  return ReadWindowRect(dpy, window, rect);
}

void DrawInvertedOutline(Display* dpy, const TScreenRect& rect) {
  const int width = rect.Right - rect.Left;
  const int height = rect.Bottom - rect.Top;
  if (width <= 1 || height <= 1) return;
  const int screen = DefaultScreen(dpy);
  const Window root = RootWindow(dpy, screen);
  Visual* visual = DefaultVisual(dpy, screen);
  XGCValues v{};
  // Not-xor keeps red on light windows (it inverts the others) and undoes itself when repeated.
  v.function = GXequiv;
  v.plane_mask = AllPlanes;
  v.foreground = visual->c_class == TrueColor ? visual->red_mask : WhitePixel(dpy, screen);
  v.line_width = 4;
  v.line_style = LineSolid;
  v.join_style = JoinMiter;
  v.subwindow_mode = IncludeInferiors;
  GC gc = XCreateGC(dpy, root, GCFunction | GCPlaneMask | GCForeground | GCLineWidth | GCLineStyle |
                                   GCJoinStyle | GCSubwindowMode,
                    &v);
  // The outline runs through the outermost pixels of the rectangle, the pen centred on it; one
  // request draws every pixel once, so a second draw cancels the first.
  XDrawRectangle(dpy, root, gc, rect.Left, rect.Top, static_cast<unsigned>(width - 1),
                 static_cast<unsigned>(height - 1));
  XFreeGC(dpy, gc);
  XFlush(dpy);
}

bool PointerPosition(Display* dpy, int& x, int& y) {
  Window root = 0, child = 0;
  int wx = 0, wy = 0;
  unsigned int mask = 0;
  return XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &x, &y, &wx, &wy, &mask);
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

void FreeCursor(Display* dpy, unsigned long cursor) {
  if (cursor) XFreeCursor(dpy, cursor);
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

void UnmapWindow(Display* dpy, XWindowId window) {
  XUnmapWindow(dpy, window);
  XFlush(dpy);
}

void Sync(Display* dpy) { XSync(dpy, False); }

XWindowId RootWindowId(Display* dpy) { return DefaultRootWindow(dpy); }

Display* OpenDisplay() { return XOpenDisplay(nullptr); }

void CloseDisplay(Display* dpy) {
  if (dpy) XCloseDisplay(dpy);
}

}  // namespace qv::x11
