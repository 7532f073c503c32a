// A soft highlight around the pointer while it moves, drawn into recorded frames so the pointer is
// found at a glance in a large recording; it fades out soon after the pointer stops.
#pragma once

#include <cstdint>
#include <vector>

#include "capture/screen_capture_cursor.h"
#include "capture/screen_capture_rows.h"

namespace qv {

// Threads: owned by the thread that reads the screen device.
class TPointerSpotlight {
 public:
  static constexpr std::int64_t kHoldUs = 300000;  // at full strength after the last move
  static constexpr std::int64_t kFadeUs = 400000;  // then fading out over this
  static constexpr std::uint32_t kColour = 0xFFE040;

  explicit TPointerSpotlight(int areaHeight);
  // The pointer is at (`x`, `y`) on the root in the slot at `nowUs`. True when the slot's picture
  // must be grabbed for the spotlight: it moved with it, faded a step, or went.
  bool Advance(std::int64_t nowUs, int x, int y, const TRootRect& area);
  void Clear() { Shown = 0; }
  // Blends the spotlight as of the last Advance into a frame whose top-left corner is at (`frameX`,
  // `frameY`) on the root; the frame's rows it was drawn into.
  TRowBand Draw(const TCursorTarget& target, int frameX, int frameY);
  int Radius() const { return Side / 2; }

 private:
  int StrengthAt(std::int64_t nowUs) const;

  int Side;
  std::vector<unsigned long> Disc;    // premultiplied ARGB at full strength, Side x Side
  std::vector<unsigned long> Faded;   // the disc while it fades, reused
  bool Known = false;      // a place was read
  bool EverMoved = false;  // the pointer moved since the recording began: a still one is not lit
  int X = 0, Y = 0;
  std::int64_t MovedUs = 0;
  int Shown = 0;  // the strength in the last picture
};

}  // namespace qv
