#include "capture/previewer.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "media/ff_utils.h"

namespace qv {

namespace {

// Channel layout of a TrueColor visual's pixel.
struct TChannel {
  int Shift = 0;
  int Bits = 0;
  explicit TChannel(unsigned long mask) {
    if (!mask) return;
    while (!(mask & 1)) {
      mask >>= 1;
      ++Shift;
    }
    while (mask & 1) {
      mask >>= 1;
      ++Bits;
    }
  }
  unsigned long Put(unsigned v8) const {
    return Bits >= 8 ? (unsigned long)v8 << (Shift + Bits - 8) : (unsigned long)(v8 >> (8 - Bits)) << Shift;
  }
};

unsigned Scale(unsigned v, unsigned max) { return (v * 255 + max / 2) / max; }

// One pixel of the bitmap as 8-bit red, green and blue.
void PixelAt(const std::uint8_t* row, int x, TPixelFormat f, unsigned& r, unsigned& g, unsigned& b) {
  switch (f) {
    case pf32bit:
      b = row[x * 4], g = row[x * 4 + 1], r = row[x * 4 + 2];
      return;
    case pf24bit:
      b = row[x * 3], g = row[x * 3 + 1], r = row[x * 3 + 2];
      return;
    case pf16bit: {  // BGR565LE: red in the low bits
      const unsigned v = row[x * 2] | (row[x * 2 + 1] << 8);
      r = Scale(v & 0x1f, 31), g = Scale((v >> 5) & 0x3f, 63), b = Scale(v >> 11, 31);
      return;
    }
    case pf15bit: {  // BGR555LE
      const unsigned v = row[x * 2] | (row[x * 2 + 1] << 8);
      r = Scale(v & 0x1f, 31), g = Scale((v >> 5) & 0x1f, 31), b = Scale((v >> 10) & 0x1f, 31);
      return;
    }
    case pf8bit: {  // BGR8: 2 bits blue, 3 green, 3 red
      const unsigned v = row[x];
      r = Scale(v & 7, 7), g = Scale((v >> 3) & 7, 7), b = Scale(v >> 6, 3);
      return;
    }
  }
}

}  // namespace

struct TPreviewer::TWindow {
  Display* Dpy = nullptr;
  int Screen = 0;
  Window Win = 0;
  GC Gc = nullptr;
  XImage* Image = nullptr;
  bool IoError = false;
  bool WmMoves = false;  // the window manager moves windows on _NET_WM_MOVERESIZE
  bool Dragging = false;
  int DragX = 0, DragY = 0;
  Atom WmProtocols = 0, WmDelete = 0, NetWmName = 0, Utf8 = 0, NetWmState = 0, StateAbove = 0,
       StateSkipTaskbar = 0, NetWmType = 0, TypeUtility = 0, MotifHints = 0, MoveResize = 0, NetSupported = 0;

  void InternAtoms() {
    auto a = [this](const char* n) { return XInternAtom(Dpy, n, False); };
    WmProtocols = a("WM_PROTOCOLS");
    WmDelete = a("WM_DELETE_WINDOW");
    NetWmName = a("_NET_WM_NAME");
    Utf8 = a("UTF8_STRING");
    NetWmState = a("_NET_WM_STATE");
    StateAbove = a("_NET_WM_STATE_ABOVE");
    StateSkipTaskbar = a("_NET_WM_STATE_SKIP_TASKBAR");
    NetWmType = a("_NET_WM_WINDOW_TYPE");
    TypeUtility = a("_NET_WM_WINDOW_TYPE_UTILITY");
    MotifHints = a("_MOTIF_WM_HINTS");
    MoveResize = a("_NET_WM_MOVERESIZE");
    NetSupported = a("_NET_SUPPORTED");
  }

  bool WmSupports(Atom what) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(Dpy, RootWindow(Dpy, Screen), NetSupported, 0, 4096, False, XA_ATOM, &type, &format,
                           &count, &after, &data) == Success &&
        data && format == 32) {
      const auto* atoms = reinterpret_cast<const Atom*>(data);
      for (unsigned long i = 0; i < count && !found; ++i) found = atoms[i] == what;
    }
    if (data) XFree(data);
    return found;
  }

  void SetSizeHints(int w, int h, bool position) {
    XSizeHints* hints = XAllocSizeHints();
    hints->flags = PMinSize | PMaxSize | (position ? (PPosition | USPosition) : 0);
    hints->min_width = hints->max_width = w;
    hints->min_height = hints->max_height = h;
    if (position) {
      hints->x = (DisplayWidth(Dpy, Screen) - w) / 2;
      hints->y = (DisplayHeight(Dpy, Screen) - h) / 2;
    }
    XSetWMNormalHints(Dpy, Win, hints);
    XFree(hints);
  }

  void Create(int w, int h) {
    const int x = (DisplayWidth(Dpy, Screen) - w) / 2, y = (DisplayHeight(Dpy, Screen) - h) / 2;
    XSetWindowAttributes attrs;
    attrs.background_pixel = BlackPixel(Dpy, Screen);
    attrs.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | Button1MotionMask | StructureNotifyMask;
    Win = XCreateWindow(Dpy, RootWindow(Dpy, Screen), x, y, unsigned(w), unsigned(h), 0, CopyFromParent, InputOutput,
                        CopyFromParent, CWBackPixel | CWEventMask, &attrs);
    XSetWMProtocols(Dpy, Win, &WmDelete, 1);
    SetSizeHints(w, h, true);
    XClassHint cls{const_cast<char*>("preview"), const_cast<char*>("Quorvane")};
    XSetClassHint(Dpy, Win, &cls);
    // A tool window: small caption with only the close box, above every other window, no taskbar entry.
    XChangeProperty(Dpy, Win, NetWmType, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&TypeUtility),
                    1);
    Atom states[] = {StateAbove, StateSkipTaskbar};
    XChangeProperty(Dpy, Win, NetWmState, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(states), 2);
    long motif[5] = {1 | 2, 4 | 32, 2 | 8 | 16, 0, 0};  // functions: move, close; decorations: border, title, menu
    XChangeProperty(Dpy, Win, MotifHints, MotifHints, 32, PropModeReplace, reinterpret_cast<unsigned char*>(motif), 5);
    Gc = XCreateGC(Dpy, Win, 0, nullptr);
    WmMoves = WmSupports(MoveResize);
    XMapRaised(Dpy, Win);
  }

  void SetCaption(const std::string& text) {
    XStoreName(Dpy, Win, text.c_str());
    XChangeProperty(Dpy, Win, NetWmName, Utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
  }

  void Paint() {
    if (Win && Image) XPutImage(Dpy, Win, Gc, Image, 0, 0, 0, 0, unsigned(Image->width), unsigned(Image->height));
  }

  void SetImage(const TBitmap& bmp) {
    if (Image) XDestroyImage(Image);
    Image = nullptr;
    const int w = bmp.Width(), h = bmp.Height();
    if (w <= 0 || h <= 0) return;
    Visual* vis = DefaultVisual(Dpy, Screen);
    const int depth = DefaultDepth(Dpy, Screen);
    Image = XCreateImage(Dpy, vis, unsigned(depth), ZPixmap, 0, nullptr, unsigned(w), unsigned(h), 32, 0);
    if (!Image) return;
    Image->data = static_cast<char*>(std::calloc(size_t(Image->bytes_per_line) * size_t(h), 1));
    if (!Image->data) {
      XDestroyImage(Image);
      Image = nullptr;
      return;
    }
    const bool direct = Image->bits_per_pixel == 32 && Image->byte_order == LSBFirst && vis->red_mask == 0xff0000 &&
                        vis->green_mask == 0xff00 && vis->blue_mask == 0xff;
    const TChannel rc(vis->red_mask), gc(vis->green_mask), bc(vis->blue_mask);
    unsigned r = 0, g = 0, b = 0;
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* row = bmp.ScanLine(y);
      auto* out = reinterpret_cast<std::uint8_t*>(Image->data + size_t(y) * size_t(Image->bytes_per_line));
      for (int x = 0; x < w; ++x) {
        PixelAt(row, x, bmp.PixelFormat(), r, g, b);
        if (direct) {
          out[x * 4] = std::uint8_t(b), out[x * 4 + 1] = std::uint8_t(g), out[x * 4 + 2] = std::uint8_t(r);
          out[x * 4 + 3] = 0xff;
        } else {
          XPutPixel(Image, x, y, rc.Put(r) | gc.Put(g) | bc.Put(b));
        }
      }
    }
  }

  // A press anywhere in the window moves it, as a press on a caption would.
  void StartDrag(const XButtonEvent& e) {
    if (WmMoves) {
      XUngrabPointer(Dpy, CurrentTime);
      XEvent m{};
      m.xclient.type = ClientMessage;
      m.xclient.window = Win;
      m.xclient.message_type = MoveResize;
      m.xclient.format = 32;
      m.xclient.data.l[0] = e.x_root;
      m.xclient.data.l[1] = e.y_root;
      m.xclient.data.l[2] = 8;  // _NET_WM_MOVERESIZE_MOVE
      m.xclient.data.l[3] = Button1;
      m.xclient.data.l[4] = 1;  // a normal application
      XSendEvent(Dpy, RootWindow(Dpy, Screen), False, SubstructureRedirectMask | SubstructureNotifyMask, &m);
      return;
    }
    Dragging = true;
    DragX = e.x;
    DragY = e.y;
  }

  void Destroy() {
    if (Image) XDestroyImage(Image);
    Image = nullptr;
    if (Gc) XFreeGC(Dpy, Gc);
    Gc = nullptr;
    if (Win) XDestroyWindow(Dpy, Win);
    Win = 0;
  }
};

TPreviewer::TPreviewer(const char* displayName) : DisplayName(displayName ? displayName : ""),
                                                  HasDisplayName(displayName != nullptr) {}

TPreviewer::~TPreviewer() {
  {
    std::lock_guard<std::mutex> lock(Lock);
    Stopping = true;
  }
  if (Started) {
    Wake();
    Thread.join();
  }
  for (int fd : WakePipe)
    if (fd >= 0) ::close(fd);
}

bool TPreviewer::Closed() const {
  std::lock_guard<std::mutex> lock(Lock);
  return FClosed;
}

unsigned long TPreviewer::WindowId() const {
  std::lock_guard<std::mutex> lock(Lock);
  return FWindowId;
}

std::int64_t TPreviewer::FrameNumber() const {
  std::lock_guard<std::mutex> lock(Lock);
  return FFrameNumber;
}

std::int64_t TPreviewer::Pts() const {
  std::lock_guard<std::mutex> lock(Lock);
  return FPts;
}

void TPreviewer::Wake() {
  const char c = 1;
  if (WakePipe[1] >= 0) {
    const ssize_t n = ::write(WakePipe[1], &c, 1);  // a full pipe already wakes the thread
    (void)n;
  }
}

bool TPreviewer::Preview(const TBitmap& bitmap, std::int64_t frameNumber, std::int64_t pts) {
  std::unique_lock<std::mutex> lock(Lock);
  if (FClosed || Finished) return false;
  if (!Started) {
    if (::pipe2(WakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
      Finished = true;
      return false;
    }
    Started = true;
    Thread = std::thread(&TPreviewer::Run, this);
  }
  Bitmap = bitmap;
  FFrameNumber = frameNumber;
  FPts = pts;
  const std::uint64_t mine = ++Posted;
  lock.unlock();
  Wake();
  lock.lock();
  // Bounded, so a stalled X server cannot hold up the recording for long.
  Changed.wait_for(lock, std::chrono::seconds(5), [&] { return Painted >= mine || FClosed || Finished; });
  return !(FClosed || Finished);
}

void TPreviewer::Run() {
  TWindow w;
  w.Dpy = XOpenDisplay(HasDisplayName ? DisplayName.c_str() : nullptr);
  if (!w.Dpy) {
    std::lock_guard<std::mutex> lock(Lock);
    Finished = true;
    Changed.notify_all();
    return;
  }
  // A lost connection ends the preview, not the program.
  XSetIOErrorExitHandler(
      w.Dpy, [](Display*, void* data) { static_cast<TWindow*>(data)->IoError = true; }, &w);
  w.Screen = DefaultScreen(w.Dpy);
  w.InternAtoms();

  auto closeWindow = [&] {
    w.Destroy();
    XFlush(w.Dpy);
    std::lock_guard<std::mutex> lock(Lock);
    FClosed = true;
    Changed.notify_all();
  };

  for (;;) {
    while (!w.IoError && XPending(w.Dpy)) {
      XEvent e;
      XNextEvent(w.Dpy, &e);
      if (e.xany.window != w.Win || !w.Win) continue;
      switch (e.type) {
        case Expose:
          if (e.xexpose.count == 0) w.Paint();
          break;
        case ClientMessage:
          if (e.xclient.message_type == w.WmProtocols && Atom(e.xclient.data.l[0]) == w.WmDelete) closeWindow();
          break;
        case DestroyNotify:  // destroyed behind our back
          w.Win = 0;
          closeWindow();
          break;
        case ButtonPress:
          if (e.xbutton.button == Button1) w.StartDrag(e.xbutton);
          break;
        case MotionNotify:
          if (w.Dragging) XMoveWindow(w.Dpy, w.Win, e.xmotion.x_root - w.DragX, e.xmotion.y_root - w.DragY);
          break;
        case ButtonRelease:
          if (e.xbutton.button == Button1) w.Dragging = false;
          break;
      }
    }
    if (w.IoError) break;

    TBitmap frame;
    std::int64_t pts = 0;
    std::uint64_t posted = 0;
    {
      std::lock_guard<std::mutex> lock(Lock);
      if (Stopping) break;
      if (Posted > Painted && !FClosed) {
        frame = Bitmap;
        pts = FPts;
        posted = Posted;
      }
    }
    if (posted) {
      const int width = frame.Width() > 0 ? frame.Width() : 1, height = frame.Height() > 0 ? frame.Height() : 1;
      if (!w.Win) {
        w.Create(width, height);
      } else if (!w.Image || w.Image->width != width || w.Image->height != height) {
        w.SetSizeHints(width, height, false);
        XResizeWindow(w.Dpy, w.Win, unsigned(width), unsigned(height));
      }
      w.SetCaption(TimeToText(pts));
      w.SetImage(frame);
      w.Paint();
      XSync(w.Dpy, False);
      std::lock_guard<std::mutex> lock(Lock);
      FWindowId = w.Win;
      if (Painted < posted) Painted = posted;
      Changed.notify_all();
      continue;  // look at events that arrived meanwhile before sleeping
    }

    pollfd fds[2] = {{ConnectionNumber(w.Dpy), POLLIN, 0}, {WakePipe[0], POLLIN, 0}};
    ::poll(fds, 2, -1);
    char drain[64];
    while (::read(WakePipe[0], drain, sizeof drain) > 0) {
    }
  }

  if (!w.IoError) {
    w.Destroy();
    XCloseDisplay(w.Dpy);
  }
  std::lock_guard<std::mutex> lock(Lock);
  Finished = true;
  Changed.notify_all();
}

void RegisterPreviewer() {
  SetPreviewWindowFactory([]() -> std::unique_ptr<TPreviewWindow> { return std::make_unique<TPreviewer>(); });
}

}  // namespace qv
