#include "capture/screen_capture_x11.h"

#include <X11/Xatom.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/packet.h>
#include <libavcodec/defs.h>
}

#include "media/ff_api.h"

namespace qv {

namespace {

std::mutex DisplaysLock;
std::vector<::Display*>& OwnDisplays() {
  static std::vector<::Display*> displays;
  return displays;
}
XErrorHandler PreviousHandler = nullptr;
thread_local int TrappedError = 0;

std::mutex LostLock;
std::vector<::Display*>& LostDisplays() {
  static std::vector<::Display*> displays;
  return displays;
}

// The server went away. Xlib's default would end the process here; a recording must instead end
// its video input and write its file, so the connection is only marked and every later call on it
// fails.
void ConnectionLost(::Display* dpy, void*) {
  std::lock_guard<std::mutex> lock(LostLock);
  LostDisplays().push_back(dpy);
}

XIOErrorHandler PreviousIOHandler = nullptr;

bool IsOwn(::Display* dpy) {
  std::lock_guard<std::mutex> lock(DisplaysLock);
  const auto& list = OwnDisplays();
  return std::find(list.begin(), list.end(), dpy) != list.end();
}

// Errors on our own connections are remembered for the trap of the thread that made the call; a
// toolkit's connections keep whatever handler was there before us.
int ErrorHandler(::Display* dpy, XErrorEvent* event) {
  if (IsOwn(dpy)) {
    if (TrappedError == 0) TrappedError = event->error_code ? event->error_code : -1;
    return 0;
  }
  return PreviousHandler ? PreviousHandler(dpy, event) : 0;
}

// Returning lets Xlib go on to the connection's exit handler (ConnectionLost) instead of exit().
int IOErrorHandler(::Display* dpy) {
  if (IsOwn(dpy)) return 0;
  return PreviousIOHandler ? PreviousIOHandler(dpy) : 0;
}

void InstallOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    XInitThreads();
    PreviousHandler = XSetErrorHandler(ErrorHandler);
    PreviousIOHandler = XSetIOErrorHandler(IOErrorHandler);
  });
}

constexpr int kPadding = AV_INPUT_BUFFER_PADDING_SIZE;

// A window property as the server holds it, up to `longs` 32-bit units; Data is null when there is
// none.
struct TProperty {
  TProperty(::Display* dpy, ::Window w, Atom property, Atom type, long longs) {
    if (XGetWindowProperty(dpy, w, property, 0, longs, False, type, &Type, &Format, &Count, &After, &Data) != Success)
      Data = nullptr;
  }
  ~TProperty() {
    if (Data) XFree(Data);
  }
  TProperty(const TProperty&) = delete;
  TProperty& operator=(const TProperty&) = delete;
  Atom Type = None;
  int Format = 0;
  unsigned long Count = 0, After = 0;
  unsigned char* Data = nullptr;
};

std::string TextProperty(::Display* dpy, ::Window w, Atom property) {
  const TProperty p(dpy, w, property, AnyPropertyType, 4096);
  return p.Data && p.Format == 8 ? std::string(reinterpret_cast<const char*>(p.Data), p.Count) : std::string();
}

bool TitleMatches(::Display* dpy, ::Window w, Atom netName, Atom wmName, const std::string& title) {
  const std::string name = TextProperty(dpy, w, netName);
  if (!name.empty()) return name == title;
  return TextProperty(dpy, w, wmName) == title;
}

// Bottom to top, as the server stacks them; `parent` (when given) gets the window's parent, 0 for
// the root or a window that is gone.
std::vector<::Window> Children(::Display* dpy, ::Window w, ::Window* parent = nullptr) {
  ::Window root = 0, up = 0, *list = nullptr;
  unsigned int count = 0;
  std::vector<::Window> out;
  if (XQueryTree(dpy, w, &root, &up, &list, &count) && list) out.assign(list, list + count);
  if (list) XFree(list);
  if (parent) *parent = up;
  return out;
}

}  // namespace

::Display* OpenCaptureDisplay() {
  InstallOnce();
  ::Display* dpy = XOpenDisplay(nullptr);
  if (dpy) {
    XSetIOErrorExitHandler(dpy, ConnectionLost, nullptr);
    std::lock_guard<std::mutex> lock(DisplaysLock);
    OwnDisplays().push_back(dpy);
  }
  return dpy;
}

bool DisplayLost(::Display* dpy) {
  std::lock_guard<std::mutex> lock(LostLock);
  const auto& list = LostDisplays();
  return std::find(list.begin(), list.end(), dpy) != list.end();
}

void CloseCaptureDisplay(::Display* dpy) {
  if (!dpy) return;
  // Closing a connection whose server is gone can block for ever on Xlib's internal locks; the dead
  // connection is left as it is (a few kilobytes, once per lost server).
  if (!DisplayLost(dpy)) XCloseDisplay(dpy);
  {
    std::lock_guard<std::mutex> lock(DisplaysLock);
    auto& list = OwnDisplays();
    list.erase(std::remove(list.begin(), list.end(), dpy), list.end());
  }
  std::lock_guard<std::mutex> lock(LostLock);
  auto& lost = LostDisplays();
  lost.erase(std::remove(lost.begin(), lost.end(), dpy), lost.end());
}

TXErrorTrap::TXErrorTrap(::Display* dpy) : Dpy(dpy), Saved(TrappedError) { TrappedError = 0; }
TXErrorTrap::~TXErrorTrap() { TrappedError = Saved; }
int TXErrorTrap::Error() {
  XSync(Dpy, False);
  return TrappedError;
}

::Window FindWindowByTitle(::Display* dpy, const std::string& title) {
  const Atom netName = XInternAtom(dpy, "_NET_WM_NAME", False);
  const Atom wmName = XA_WM_NAME;
  TXErrorTrap trap(dpy);  // windows may vanish while we look
  // Top-level windows from the top of the stack down; under a reparenting window manager the
  // client is one level below its frame.
  std::vector<::Window> top = Children(dpy, DefaultRootWindow(dpy));
  for (auto it = top.rbegin(); it != top.rend(); ++it) {
    if (TitleMatches(dpy, *it, netName, wmName, title)) return *it;
    std::vector<::Window> inner = Children(dpy, *it);
    for (auto jt = inner.rbegin(); jt != inner.rend(); ++jt)
      if (TitleMatches(dpy, *jt, netName, wmName, title)) return *jt;
  }
  return 0;
}

namespace {

bool HasWmState(::Display* dpy, ::Window w, Atom wmState) {
  const TProperty p(dpy, w, wmState, AnyPropertyType, 0);
  return p.Type != None;
}

// Frames are shallow: openbox holds the client as the frame's child, IceWM one level further down,
// in a container of its own.
constexpr int kFrameDepth = 2;

}  // namespace

::Window ManagedClient(::Display* dpy, ::Window window) {
  // Window managers put WM_STATE on the clients they manage, never on their own frames.
  const Atom wmState = XInternAtom(dpy, "WM_STATE", True);
  if (wmState == None) return 0;
  TXErrorTrap trap(dpy);  // windows may vanish while we look
  if (HasWmState(dpy, window, wmState)) return window;
  ::Window parent = 0;
  std::vector<::Window> level = Children(dpy, window, &parent);
  if (parent != DefaultRootWindow(dpy)) return 0;  // the root itself, or a window inside a client
  for (int depth = 1; depth <= kFrameDepth && !level.empty(); ++depth) {
    std::vector<::Window> next;
    for (::Window w : level) {
      if (HasWmState(dpy, w, wmState)) return w;
      const std::vector<::Window> children = Children(dpy, w);
      next.insert(next.end(), children.begin(), children.end());
    }
    level.swap(next);
  }
  return 0;
}

int ResolveCaptureWindow(::Display* dpy, ::Window window, bool clientOnly, TCaptureWindow& out) {
  TXErrorTrap trap(dpy);
  XWindowAttributes attr;
  if (!XGetWindowAttributes(dpy, window, &attr)) return trap.Error() ? trap.Error() : BadWindow;
  ::Window target = window;
  if (clientOnly) {
    // What the program itself draws, where it is on the screen, without the frame's title bar and
    // edges: the client's own area, also when its frame was named.
    const ::Window client = ManagedClient(dpy, window);
    if (client && client != window) {
      target = client;
      if (!XGetWindowAttributes(dpy, target, &attr)) return trap.Error() ? trap.Error() : BadWindow;
    }
  } else {
    // Climb to the root's child: the frame that the window manager drew around the client.
    for (int depth = 0; depth < 64; ++depth) {
      ::Window root = 0, parent = 0, *list = nullptr;
      unsigned int count = 0;
      if (!XQueryTree(dpy, target, &root, &parent, &list, &count)) break;
      if (list) XFree(list);
      if (parent == 0 || parent == root) break;
      target = parent;
    }
    if (!XGetWindowAttributes(dpy, target, &attr)) return trap.Error() ? trap.Error() : BadWindow;
  }
  out.Border = clientOnly ? 0 : attr.border_width;
  out.Win = target;
  out.Width = attr.width + 2 * out.Border;
  out.Height = attr.height + 2 * out.Border;
  return trap.Error();
}

bool CaptureWindowOrigin(::Display* dpy, const TCaptureWindow& window, int& x, int& y) {
  if (DisplayLost(dpy)) return false;
  TXErrorTrap trap(dpy);
  ::Window child = 0;
  int rx = 0, ry = 0;
  const Bool same = XTranslateCoordinates(dpy, window.Win, DefaultRootWindow(dpy), 0, 0, &rx, &ry, &child);
  if (!same || trap.Error()) return false;
  x = rx - window.Border;
  y = ry - window.Border;
  return true;
}

bool CaptureWindowSize(::Display* dpy, const TCaptureWindow& window, int& width, int& height) {
  if (DisplayLost(dpy)) return false;
  TXErrorTrap trap(dpy);
  XWindowAttributes attr;
  if (!XGetWindowAttributes(dpy, window.Win, &attr) || trap.Error()) return false;
  width = attr.width + 2 * window.Border;
  height = attr.height + 2 * window.Border;
  return true;
}

bool WatchWindow(::Display* dpy, ::Window window) {
  TXErrorTrap trap(dpy);
  XSelectInput(dpy, window, StructureNotifyMask);
  return trap.Error() == 0;
}

namespace {

// The ICCCM state the window manager keeps on a client (WithdrawnState when it keeps none).
long WmState(::Display* dpy, ::Window window) {
  const Atom wmState = XInternAtom(dpy, "WM_STATE", False);
  TXErrorTrap trap(dpy);
  const TProperty p(dpy, window, wmState, wmState, 1);
  const long state = p.Data && p.Format == 32 && p.Count == 1 ? reinterpret_cast<const long*>(p.Data)[0] : WithdrawnState;
  return trap.Error() ? WithdrawnState : state;
}

}  // namespace

bool WindowClosed(::Display* dpy, ::Window window, TWindowEvents& seen) {
  XEvent event;
  while (XCheckWindowEvent(dpy, window, StructureNotifyMask, &event)) {
    if (event.type == DestroyNotify) return true;
    if (event.type == UnmapNotify) seen.Unmapped = true;
    if (event.type == MapNotify) seen.Unmapped = false;
    if (event.type == ConfigureNotify) seen.Reconfigured = true;
  }
  // A window manager marks an iconified client IconicState; one that withdrew (or an unmanaged
  // window) loses the mark. While the manager has not caught up the client still reads
  // NormalState, and the next frame asks again.
  return seen.Unmapped && WmState(dpy, window) == WithdrawnState;
}

void WatchScreenSize(::Display* dpy, int screen) { XSelectInput(dpy, RootWindow(dpy, screen), StructureNotifyMask); }

bool ScreenResized(::Display* dpy, int screen, int& width, int& height) {
  XEvent event;
  bool resized = false;
  while (XCheckTypedWindowEvent(dpy, RootWindow(dpy, screen), ConfigureNotify, &event)) {
    width = event.xconfigure.width;
    height = event.xconfigure.height;
    resized = true;
  }
  return resized;
}

AVPixelFormat PixelFormatOfImage(const XImage* image, const Visual* visual, int depth) {
  if (!image || !visual) return AV_PIX_FMT_NONE;
  const bool le = image->byte_order == LSBFirst;
  const unsigned long r = visual->red_mask, g = visual->green_mask, b = visual->blue_mask;
  const int cls = visual->c_class;
  switch (image->bits_per_pixel) {
    case 8:
      if (cls == PseudoColor || cls == StaticColor) return AV_PIX_FMT_PAL8;
      if (cls == GrayScale || cls == StaticGray) return AV_PIX_FMT_GRAY8;
      if (r == 0xE0 && g == 0x1C && b == 0x03) return AV_PIX_FMT_RGB8;
      if (r == 0x07 && g == 0x38 && b == 0xC0) return AV_PIX_FMT_BGR8;
      return AV_PIX_FMT_NONE;
    case 16:
      if (r == 0xF800 && g == 0x07E0 && b == 0x001F) return le ? AV_PIX_FMT_RGB565LE : AV_PIX_FMT_RGB565BE;
      if (r == 0x7C00 && g == 0x03E0 && b == 0x001F) return le ? AV_PIX_FMT_RGB555LE : AV_PIX_FMT_RGB555BE;
      if (r == 0x001F && g == 0x07E0 && b == 0xF800) return le ? AV_PIX_FMT_BGR565LE : AV_PIX_FMT_BGR565BE;
      if (r == 0x001F && g == 0x03E0 && b == 0x7C00) return le ? AV_PIX_FMT_BGR555LE : AV_PIX_FMT_BGR555BE;
      return AV_PIX_FMT_NONE;
    case 24:
      if (r == 0xFF0000 && g == 0xFF00 && b == 0xFF) return le ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_RGB24;
      if (r == 0xFF && g == 0xFF00 && b == 0xFF0000) return le ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_BGR24;
      return AV_PIX_FMT_NONE;
    case 32:
      // Only a 32-bit visual carries alpha; at depth 24 the fourth byte is padding.
      if (r == 0xFF0000 && g == 0xFF00 && b == 0xFF) {
        if (le) return depth == 32 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR0;
        return depth == 32 ? AV_PIX_FMT_ARGB : AV_PIX_FMT_0RGB;
      }
      if (r == 0xFF && g == 0xFF00 && b == 0xFF0000) {
        if (le) return depth == 32 ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB0;
        return depth == 32 ? AV_PIX_FMT_ABGR : AV_PIX_FMT_0BGR;
      }
      if (depth == 30 && r == 0x3FF00000 && g == 0xFFC00 && b == 0x3FF && le) return AV_PIX_FMT_X2RGB10LE;
      return AV_PIX_FMT_NONE;
    default:
      return AV_PIX_FMT_NONE;
  }
}

std::shared_ptr<TGrabPool> TGrabPool::Create(::Display* dpy, int screen, int width, int height, bool tryShm,
                                             int& error, std::string& what) {
  std::shared_ptr<TGrabPool> pool(new TGrabPool);  // the constructor is private
  pool->Dpy = dpy;
  pool->Root = RootWindow(dpy, screen);
  pool->Vis = DefaultVisual(dpy, screen);
  pool->Depth = DefaultDepth(dpy, screen);
  pool->Width = width;
  pool->Height = height;
  pool->UseShm = tryShm && XShmQueryExtension(dpy);
  errno = 0;
  std::unique_ptr<TGrabSlot> first = pool->NewSlot();
  if (!first && pool->UseShm) {
    // A remote server or an exhausted segment limit: plain requests still work, one copy slower.
    pool->UseShm = false;
    first = pool->NewSlot();
  }
  if (!first) {
    error = errno ? errno : -1;
    what = "image";
    return nullptr;
  }
  pool->Bytes = first->Image->bytes_per_line * height;
  pool->Slots.push_back(std::move(first));
  return pool;
}

TGrabSlot::~TGrabSlot() {
  if (Shared) {
    if (Data) shmdt(Shm.shmaddr);
  } else {
    std::free(Data);
  }
  if (Image) {
    Image->data = nullptr;  // the memory was ours, not Xlib's
    XDestroyImage(Image);
  }
}

bool TGrabPool::AttachShared(TGrabSlot& slot) {
  slot.Image = XShmCreateImage(Dpy, Vis, Depth, ZPixmap, nullptr, &slot.Shm, Width, Height);
  if (!slot.Image) return false;
  const size_t size = size_t(slot.Image->bytes_per_line) * Height + kPadding;
  slot.Shm.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (slot.Shm.shmid < 0) return false;
  slot.Shm.shmaddr = static_cast<char*>(shmat(slot.Shm.shmid, nullptr, 0));
  if (slot.Shm.shmaddr == reinterpret_cast<char*>(-1)) {
    shmctl(slot.Shm.shmid, IPC_RMID, nullptr);
    return false;
  }
  slot.Shm.readOnly = False;
  slot.Image->data = slot.Shm.shmaddr;
  slot.Data = reinterpret_cast<std::uint8_t*>(slot.Shm.shmaddr);
  TXErrorTrap trap(Dpy);
  const Bool attached = XShmAttach(Dpy, &slot.Shm);
  const int xerr = trap.Error();
  // Marked for removal at once: the segment goes away with its last user, even after a crash.
  shmctl(slot.Shm.shmid, IPC_RMID, nullptr);
  if (!attached || xerr) return false;
  std::memset(slot.Data + size - kPadding, 0, kPadding);
  return true;
}

bool TGrabPool::AllocatePlain(TGrabSlot& slot) {
  slot.Image = XCreateImage(Dpy, Vis, Depth, ZPixmap, 0, nullptr, Width, Height, BitmapPad(Dpy), 0);
  if (!slot.Image) return false;
  const size_t size = size_t(slot.Image->bytes_per_line) * Height + kPadding;
  void* mem = nullptr;
  if (posix_memalign(&mem, 64, size) != 0) return false;
  std::memset(mem, 0, size);
  slot.Data = static_cast<std::uint8_t*>(mem);
  slot.Image->data = static_cast<char*>(mem);
  return true;
}

std::unique_ptr<TGrabSlot> TGrabPool::NewSlot() {
  if (!Dpy) return nullptr;
  auto slot = std::make_unique<TGrabSlot>();
  slot->Pool = this;
  slot->Shared = UseShm;
  slot->Stale.Resize(Height);
  slot->Stale.MarkAll();
  const bool made = UseShm ? AttachShared(*slot) : AllocatePlain(*slot);
  return made ? std::move(slot) : nullptr;
}

TGrabPool::~TGrabPool() = default;

void TGrabPool::Release() {
  std::lock_guard<std::mutex> lock(Lock);
  if (Dpy && UseShm && !DisplayLost(Dpy)) {
    for (const auto& slot : Slots) XShmDetach(Dpy, &slot->Shm);
    XSync(Dpy, False);
  }
  Dpy = nullptr;
}

TGrabSlot* TGrabPool::Acquire() {
  std::lock_guard<std::mutex> lock(Lock);
  for (const auto& slot : Slots)
    if (!slot->InUse) {
      slot->InUse = true;
      return slot.get();
    }
  std::unique_ptr<TGrabSlot> slot = NewSlot();
  if (!slot) return nullptr;
  slot->InUse = true;
  Slots.push_back(std::move(slot));
  return Slots.back().get();
}

void TGrabPool::Unuse(TGrabSlot* slot) {
  std::lock_guard<std::mutex> lock(Lock);
  slot->InUse = false;
}

void TGrabPool::BufferFree(void* opaque, std::uint8_t*) {
  auto* slot = static_cast<TGrabSlot*>(opaque);
  // The pool (and with it this slot) may go with the last reference: let go of it last.
  std::shared_ptr<TGrabPool> pool = std::move(slot->Hold);
  pool->Unuse(slot);
}

AVBufferRef* TGrabPool::Wrap(TGrabSlot* slot) {
  slot->Hold = shared_from_this();
  AVBufferRef* ref = ff::av_buffer_create(slot->Data, size_t(Bytes), BufferFree, slot, 0);
  if (!ref) slot->Hold.reset();
  return ref;
}

void TGrabPool::MarkStale(const TRowSet& rows) {
  std::lock_guard<std::mutex> lock(Lock);
  for (const auto& slot : Slots) slot->Stale.Add(rows);
}

int TGrabPool::Grab(TGrabSlot* slot, int x, int y, const TRootRect& readable) {
  if (DisplayLost(Dpy)) return -1;
  int rc = 0;
  if (x < readable.X || y < readable.Y || x + Width > readable.X + readable.Width ||
      y + Height > readable.Y + readable.Height) {
    rc = GrabClipped(slot, x, y, readable);
  } else if (slot->Stale.Count() * 4 >= Height * 3) {
    rc = GrabRows(slot, x, y, TRowBand{0, Height});
  } else {
    for (const TRowBand& band : slot->Stale.FewRuns())
      if ((rc = GrabRows(slot, x, y, band)) != 0) break;
  }
  if (rc == 0) slot->Stale.Clear();
  return rc;
}

// Whole rows, so the server writes them at the image's own stride: a band of the image is an image
// of the full width starting at the band's first row.
int TGrabPool::GrabRows(TGrabSlot* slot, int x, int y, const TRowBand& rows) {
  TXErrorTrap trap(Dpy);
  XImage* image = slot->Image;
  if (slot->Shared) {
    XImage band = *image;
    band.height = rows.Bottom - rows.Top;
    band.data = image->data + std::ptrdiff_t(rows.Top) * image->bytes_per_line;
    // A round trip: any error has been handled when the call returns.
    if (!XShmGetImage(Dpy, Root, &band, x, y + rows.Top, AllPlanes)) return TrappedError ? TrappedError : -1;
    return TrappedError;
  }
  if (!XGetSubImage(Dpy, Root, x, y + rows.Top, unsigned(Width), unsigned(rows.Bottom - rows.Top), AllPlanes, ZPixmap,
                    image, 0, rows.Top))
    return TrappedError ? TrappedError : -1;
  return TrappedError;
}

// Partly off the screen (a window dragged over the edge, a screen that became smaller) or past a
// window that shrank: the server refuses a request beyond the root, and what lies beside a window
// is not the window's, so read what can be read and leave the rest black.
int TGrabPool::GrabClipped(TGrabSlot* slot, int x, int y, const TRootRect& readable) {
  TXErrorTrap trap(Dpy);
  std::memset(slot->Data, 0, size_t(Bytes));
  const int x0 = std::max(x, readable.X), y0 = std::max(y, readable.Y);
  const int x1 = std::min(x + Width, readable.X + readable.Width);
  const int y1 = std::min(y + Height, readable.Y + readable.Height);
  if (x1 <= x0 || y1 <= y0) return 0;
  if (!XGetSubImage(Dpy, Root, x0, y0, unsigned(x1 - x0), unsigned(y1 - y0), AllPlanes, ZPixmap, slot->Image, x0 - x,
                    y0 - y))
    return TrappedError ? TrappedError : -1;
  return TrappedError;
}

}  // namespace qv
