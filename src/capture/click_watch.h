// Mouse button presses for click highlighting, read as XInput 2 raw events on the root: they arrive
// whichever window has the pointer, without a grab, so the desktop goes on working as usual.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <memory>

#include "capture/click_rings.h"

namespace qv {

// Threads: owned and used by the thread that reads the screen device, on the device's connection.
class TClickWatch {
 public:
  // nullptr when the server offers no XInput 2 raw events; the device then records without rings
  // and says so under `logContext`.
  static std::unique_ptr<TClickWatch> Watch(::Display* dpy, void* logContext);
  ~TClickWatch();  // stops the events unless the connection is lost
  TClickWatch(const TClickWatch&) = delete;
  TClickWatch& operator=(const TClickWatch&) = delete;

  // Turns the presses queued since the last slot into rings at the pointer, or drops them when
  // `afterPause` (they were made while nothing was recorded). True when the slot at `nowUs` needs
  // a picture for the rings (TClickRings::Advance).
  bool Update(std::int64_t nowUs, const TRootRect& area, bool afterPause);
  TRowBand Draw(const TCursorTarget& target, int frameX, int frameY) const {
    return Rings.Draw(target, frameX, frameY);
  }

 private:
  explicit TClickWatch(::Display* dpy) : Dpy(dpy) {}
  bool Select(bool on);
  void TakePresses(std::int64_t nowUs, bool keep);
  bool PointerNow(int& x, int& y);

  ::Display* Dpy;
  int Opcode = 0;  // XInput's major opcode: its events come as generic events carrying it
  TClickRings Rings;
};

}  // namespace qv
