// Mouse button and key presses for the overlays drawn into recorded frames (click rings, key
// labels), read as XInput 2 raw events on the root: they arrive whichever window has the focus or
// the pointer, without a grab, so the desktop goes on working as usual. One reader for both, since
// they come mixed in the same queue of the device's connection.
#pragma once

#include <X11/Xlib.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "capture/click_rings.h"
#include "capture/key_overlay.h"
#include "capture/pointer_spotlight.h"

namespace qv {

// Threads: owned and used by the thread that reads the screen device, on the device's connection.
class TInputWatch {
 public:
  // nullptr when no overlay can be had (the server offers no XInput 2 raw events, or no font is
  // found for the labels); the device then records without them and says so under `logContext`.
  // The spotlight (with stronger rings) needs neither.
  static std::unique_ptr<TInputWatch> Watch(::Display* dpy, void* logContext, bool clicks, bool spotlight,
                                            const std::optional<TKeysChoice>& keys, int areaHeight);
  ~TInputWatch();  // stops the events unless the connection is lost
  TInputWatch(const TInputWatch&) = delete;
  TInputWatch& operator=(const TInputWatch&) = delete;

  // Turns the presses queued since the last slot into rings and labels, or drops them when
  // `afterPause` (they were made while nothing was recorded). True when the slot at `nowUs` needs
  // a picture for the overlays' sake. `pointer`: where the pointer is, when the caller knows
  // already; else the spotlight asks.
  bool Update(std::int64_t nowUs, const TRootRect& area, bool afterPause, const int* pointer = nullptr);
  TRowBand DrawSpotlight(const TCursorTarget& target, int frameX, int frameY) {
    return Spotlight ? Spotlight->Draw(target, frameX, frameY) : TRowBand{};
  }
  TRowBand DrawRings(const TCursorTarget& target, int frameX, int frameY) const {
    return Rings ? Rings->Draw(target, frameX, frameY) : TRowBand{};
  }
  TRowBand DrawKeys(const TCursorTarget& target) { return Keys ? Keys->Draw(target) : TRowBand{}; }

 private:
  explicit TInputWatch(::Display* dpy) : Dpy(dpy) {}
  bool Select(bool on);
  void TakeEvents(std::int64_t nowUs, bool keep);
  void TakeKey(int keycode, bool pressed, std::int64_t nowUs, bool keep);
  unsigned HeldModifiers() const;
  bool PointerNow(int& x, int& y);

  ::Display* Dpy;
  int Opcode = 0;  // XInput's major opcode: its events come as generic events carrying it
  std::optional<TClickRings> Rings;
  std::unique_ptr<TKeyOverlay> Keys;
  std::optional<TPointerSpotlight> Spotlight;
  std::array<std::uint8_t, 256> Held{};  // keycodes of modifier keys held down
};

}  // namespace qv
