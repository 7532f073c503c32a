// Click highlighting in recorded frames: each mouse button press leaves a ring around the pointer
// that fades out over half a second, amber for the left button, red for the right, green for the
// middle. Only the geometry and the fading live here, so they can be checked without a display;
// TClickWatch (click_watch.h) feeds the presses from the X server.
#pragma once

#include <cstdint>
#include <vector>

#include "capture/screen_capture_changes.h"
#include "capture/screen_capture_cursor.h"
#include "media/changed_rows.h"

namespace qv {

enum class TClickButton { Left, Middle, Right };

// The ring an X button number stands for; false for the wheel and the side buttons (4 and up),
// whose clicks would bury a scrolled page under rings.
bool ClickButtonOf(int xButton, TClickButton& button);

// 0xRRGGBB of a button's ring at full strength.
std::uint32_t ClickRingColour(TClickButton button);

// Threads: owned by the thread that reads the screen device; nothing here is shared.
class TClickRings {
 public:
  static constexpr std::int64_t kLifeUs = 500000;  // from the press until the ring is gone
  static constexpr std::size_t kMaxRings = 16;     // an auto-clicker keeps only the newest

  // Radius 20 (of the ring's middle line, in pixels), 5 pixels wide; with the pointer spotlighted a
  // stronger ring, 30 and 8, that still stands out beside the spotlight.
  explicit TClickRings(bool strong = false) : Radius(strong ? 30 : 20), Thickness(strong ? 8 : 5) {}

  // A press at (`x`, `y`) on the root at recorded time `nowUs`.
  void Press(TClickButton button, int x, int y, std::int64_t nowUs);
  // Moves on to the slot at `nowUs` and lets go of the rings that have faded. True when the slot's
  // picture must be grabbed for the rings' sake: one shows in `area`, or the last picture had one
  // that must now leave it. Each call assumes the picture is grabbed whenever it returned true.
  bool Advance(std::int64_t nowUs, const TRootRect& area);
  void Clear() { Rings.clear(); }
  // Blends the rings alive at the last Advance into a frame whose top-left corner is at
  // (`frameX`, `frameY`) on the root. Returns the frame's rows they were drawn into (one band
  // covering them all; empty when none was).
  TRowBand Draw(const TCursorTarget& target, int frameX, int frameY) const;

  // 255 at the press, falling evenly to 0 at kLifeUs.
  static int Strength(std::int64_t ageUs);
  // The ring as a square pointer-like image (premultiplied ARGB, one pixel per unsigned long, as
  // BlendCursor takes them) of RingSide() pixels a side, centred on the press; its edges are
  // smoothed over one pixel.
  std::vector<unsigned long> Image(std::uint32_t colour, int strength) const;
  int RingSide() const { return 2 * (Radius + Thickness) + 1; }

 private:
  struct TRing {
    TClickButton Button;
    int X, Y;
    std::int64_t PressedUs;
  };
  TRootRect Bounds(const TRing& ring) const;

  int Radius, Thickness;
  std::vector<TRing> Rings;
  std::int64_t NowUs = 0;
  bool ShownLast = false;  // the last grabbed picture carries a ring
};

}  // namespace qv
