// X11 side of the screen device: connections with error trapping, window lookup and geometry, pixel
// formats, and the pool of grab images whose memory becomes the packets.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/screen_capture_changes.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/pixfmt.h>
}

namespace qv {

// Opens a connection of the device's own (thread-safe Xlib, errors trapped instead of ending the
// process). nullptr when no display can be reached.
::Display* OpenCaptureDisplay();
void CloseCaptureDisplay(::Display* dpy);
// True once the server behind one of our connections has gone away; nothing more can be read.
bool DisplayLost(::Display* dpy);

// Trapping of protocol errors on the program's own connections, per thread: construct, make the
// calls, then Error() syncs and returns the first error code (0: none).
class TXErrorTrap {
 public:
  explicit TXErrorTrap(::Display* dpy);
  ~TXErrorTrap();
  TXErrorTrap(const TXErrorTrap&) = delete;
  TXErrorTrap& operator=(const TXErrorTrap&) = delete;
  int Error();

 private:
  ::Display* Dpy;
  int Saved;
};

// The top-level window whose _NET_WM_NAME (or WM_NAME) is exactly `title`; 0 when none is.
::Window FindWindowByTitle(::Display* dpy, const std::string& title);

// The window a window manager manages here: `window` itself when it carries WM_STATE; when it is a
// top-level window without it (a window manager's frame), the client inside; 0 otherwise (an
// unmanaged window, a client's own child window, the root, no window manager).
::Window ManagedClient(::Display* dpy, ::Window window);

// The window a capture reads: for "client" the window itself (the client inside, when a frame is
// named), otherwise the window manager's frame around it (the root's child that holds it), border
// included.
// What the watched window's events said, carried from one look to the next.
struct TWindowEvents {
  bool Unmapped = false;      // its map state: iconified, on another desktop, or on its way out
  bool Reconfigured = false;  // moved or resized since the reader last cleared it
};
struct TCaptureWindow {
  ::Window Win = 0;
  int Border = 0;
  int Width = 0;   // outer size at open, border included: the recording's
  int Height = 0;
  int NowWidth = 0;   // outer size now, read again whenever the picked window is reconfigured
  int NowHeight = 0;
  TWindowEvents Seen;  // the picked window's events
};
// 0 or the X error code (BadWindow when the id names no window).
int ResolveCaptureWindow(::Display* dpy, ::Window window, bool clientOnly, TCaptureWindow& out);
// Outer top-left corner of the window on the root, now. False when the window is gone.
bool CaptureWindowOrigin(::Display* dpy, const TCaptureWindow& window, int& x, int& y);

// Outer size of the window now, border included. False when the window is gone.
bool CaptureWindowSize(::Display* dpy, const TCaptureWindow& window, int& width, int& height);

// Asks for the window's structure events on `dpy`, so WindowClosed can tell when it goes. False
// when there is no such window.
bool WatchWindow(::Display* dpy, ::Window window);
// Reads the watched window's queued events without a round trip: true once it was destroyed, or is
// unmapped without being iconified (its client withdrew it: closed, or hidden for good).
bool WindowClosed(::Display* dpy, ::Window window, TWindowEvents& seen);

// Asks for the root's structure events on `dpy`, so ScreenResized sees a new screen size (RandR
// tells every such client with a ConfigureNotify of the root).
void WatchScreenSize(::Display* dpy, int screen);
// The root's newest size from the queued events, without a round trip; false when none came.
bool ScreenResized(::Display* dpy, int screen, int& width, int& height);

// The packed pixel format of images in the root's visual; AV_PIX_FMT_NONE when there is none.
AVPixelFormat PixelFormatOfImage(const XImage* image, const Visual* visual, int depth);

class TGrabPool;

// One grab image. While a packet refers to it, it is not handed out again, and it holds its pool.
struct TGrabSlot {
  TGrabSlot() = default;
  ~TGrabSlot();  // frees the image and its memory (never the server's side: see TGrabPool::Release)
  TGrabSlot(const TGrabSlot&) = delete;
  TGrabSlot& operator=(const TGrabSlot&) = delete;

  XImage* Image = nullptr;
  XShmSegmentInfo Shm{};
  bool Shared = false;
  std::uint8_t* Data = nullptr;
  TGrabPool* Pool = nullptr;
  bool InUse = false;
  std::shared_ptr<TGrabPool> Hold;  // set while a packet holds the slot
  // Rows that no longer show the screen: changed since the slot was last read, or drawn over (the
  // pointer). All of them in a new slot. The reading thread's alone.
  TRowSet Stale;
};

// Images of one size, each either an MIT-SHM segment the server writes into or plain memory for the
// fallback path. Packets wrap a slot's memory (no copy), and a slot a packet holds keeps the pool
// alive: the device's reference may go first.
//
// Threads: the reading thread grabs; a packet's last reference may let go of its slot on any
// thread. Slots and InUse sit behind Lock.
class TGrabPool : public std::enable_shared_from_this<TGrabPool> {
 public:
  // nullptr on failure with `error` (errno or X error) and `what` describing the failed step.
  static std::shared_ptr<TGrabPool> Create(::Display* dpy, int screen, int width, int height, bool tryShm,
                                           int& error, std::string& what);
  ~TGrabPool();
  TGrabPool(const TGrabPool&) = delete;
  TGrabPool& operator=(const TGrabPool&) = delete;
  // Detaches from the server before the device's connection closes; packets still out keep their
  // memory.
  void Release();

  XImage* Template() const { return Slots.empty() ? nullptr : Slots.front()->Image; }
  bool Shared() const { return UseShm; }
  int FrameBytes() const { return Bytes; }

  // A free slot, or a new one when every slot is held by a packet; nullptr when none can be made.
  TGrabSlot* Acquire();
  // Gives a slot back without a packet (grab failed).
  void Unuse(TGrabSlot* slot);
  // A reference that returns the slot to the pool when the last packet lets go of it.
  AVBufferRef* Wrap(TGrabSlot* slot);

  // Marks `rows` stale in every slot: the screen changed there.
  void MarkStale(const TRowSet& rows);
  // Brings the slot up to the root's rectangle at (x, y): reads its stale rows (all of them when
  // most are), so the rest must still show the screen. The part outside `readable` (the screen,
  // or what of a window shows on it) is black. 0 or an X error code (or -1 when the server
  // returned nothing); the rows stay stale on failure.
  int Grab(TGrabSlot* slot, int x, int y, const TRootRect& readable);

 private:
  int GrabRows(TGrabSlot* slot, int x, int y, const TRowBand& rows);
  int GrabClipped(TGrabSlot* slot, int x, int y, const TRootRect& readable);
  TGrabPool() = default;
  std::unique_ptr<TGrabSlot> NewSlot();
  bool AttachShared(TGrabSlot& slot);
  bool AllocatePlain(TGrabSlot& slot);
  static void BufferFree(void* opaque, std::uint8_t* data);

  ::Display* Dpy = nullptr;
  ::Window Root = 0;
  Visual* Vis = nullptr;
  int Depth = 0;
  int Width = 0;
  int Height = 0;
  int Bytes = 0;
  bool UseShm = false;
  std::mutex Lock;
  std::vector<std::unique_ptr<TGrabSlot>> Slots;
};

}  // namespace qv
