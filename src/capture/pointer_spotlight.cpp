#include "capture/pointer_spotlight.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

constexpr unsigned kCentreAlpha = 110;  // the picture under it stays readable

}  // namespace

// A disc whose edge softens over its outer half; its size follows the area's, as the pointer's does
// not.
TPointerSpotlight::TPointerSpotlight(int areaHeight) : Side(2 * std::clamp(areaHeight / 24, 20, 90) + 1) {
  const double radius = Side / 2.0;
  Disc.assign(std::size_t(Side) * std::size_t(Side), 0);
  for (int y = 0; y < Side; ++y) {
    for (int x = 0; x < Side; ++x) {
      const double d = std::hypot(x + 0.5 - radius, y + 0.5 - radius) / radius;
      const double cover = std::clamp(2.0 - 2.0 * d, 0.0, 1.0);
      const unsigned a = unsigned(std::lround(cover * cover * kCentreAlpha));
      const auto channel = [&](int shift) { return ((kColour >> shift & 0xFF) * a + 127) / 255 << shift; };
      Disc[std::size_t(y) * std::size_t(Side) + std::size_t(x)] =
          (static_cast<unsigned long>(a) << 24) | channel(16) | channel(8) | channel(0);
    }
  }
}

int TPointerSpotlight::StrengthAt(std::int64_t nowUs) const {
  const std::int64_t age = nowUs - MovedUs;
  if (!EverMoved || age >= kHoldUs + kFadeUs) return 0;
  if (age <= kHoldUs) return 255;
  return static_cast<int>(255 - (age - kHoldUs) * 255 / kFadeUs);
}

bool TPointerSpotlight::Advance(std::int64_t nowUs, int x, int y, const TRootRect& area) {
  const bool moved = Known && (x != X || y != Y);
  if (moved) {
    MovedUs = nowUs;
    EverMoved = true;
  }
  Known = true;
  X = x;
  Y = y;
  const TRootRect bounds{x - Side / 2, y - Side / 2, Side, Side};
  const int strength = RectsMeet(bounds, area) ? StrengthAt(nowUs) : 0;
  const bool due = strength != Shown || (moved && strength > 0);
  Shown = strength;
  return due;
}

TRowBand TPointerSpotlight::Draw(const TCursorTarget& target, int frameX, int frameY) {
  if (Shown == 0) return {};
  const unsigned long* pixels = Disc.data();
  if (Shown < 255) {
    FadePixels(Disc, Shown, Faded);
    pixels = Faded.data();
  }
  TCursorImage disc;
  disc.X = X;
  disc.Y = Y;
  disc.HotX = disc.HotY = Side / 2;
  disc.Width = disc.Height = Side;
  disc.Pixels = pixels;
  BlendCursor(disc, target, frameX, frameY);
  const int top = Y - Side / 2 - frameY;
  return TRowBand{std::clamp(top, 0, target.Height), std::clamp(top + Side, 0, target.Height)};
}

}  // namespace qv
