#include "capture/click_rings.h"

#include <algorithm>
#include <cmath>

namespace qv {

bool ClickButtonOf(int xButton, TClickButton& button) {
  switch (xButton) {
    case 1: button = TClickButton::Left; return true;
    case 2: button = TClickButton::Middle; return true;
    case 3: button = TClickButton::Right; return true;
    default: return false;
  }
}

std::uint32_t ClickRingColour(TClickButton button) {
  switch (button) {
    case TClickButton::Left: return 0xFFC000;
    case TClickButton::Right: return 0xFF2020;
    case TClickButton::Middle: break;
  }
  return 0x20D040;
}

void TClickRings::Press(TClickButton button, int x, int y, std::int64_t nowUs) {
  if (Rings.size() >= kMaxRings) Rings.erase(Rings.begin());
  Rings.push_back(TRing{button, x, y, nowUs});
}

TRootRect TClickRings::Bounds(const TRing& ring) const {
  const int half = RingSide() / 2;
  return TRootRect{ring.X - half, ring.Y - half, RingSide(), RingSide()};
}

bool TClickRings::Advance(std::int64_t nowUs, const TRootRect& area) {
  NowUs = nowUs;
  std::erase_if(Rings, [nowUs](const TRing& r) { return Strength(nowUs - r.PressedUs) == 0; });
  const bool shows =
      std::any_of(Rings.begin(), Rings.end(), [&](const TRing& r) { return RectsMeet(Bounds(r), area); });
  const bool due = shows || ShownLast;
  ShownLast = shows;
  return due;
}

int TClickRings::Strength(std::int64_t ageUs) {
  if (ageUs < 0) return 255;  // pressed within the slot being made
  if (ageUs >= kLifeUs) return 0;
  return static_cast<int>(255 - ageUs * 255 / kLifeUs);
}

std::vector<unsigned long> TClickRings::Image(std::uint32_t colour, int strength) const {
  const int side = RingSide();
  const int centre = side / 2;
  std::vector<unsigned long> pixels(std::size_t(side) * side, 0);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const double off = std::abs(std::hypot(x - centre, y - centre) - Radius);
      const double cover = std::clamp(Thickness / 2.0 + 0.5 - off, 0.0, 1.0);
      const unsigned a = static_cast<unsigned>(std::lround(cover * strength));
      if (a == 0) continue;
      const auto channel = [&](int shift) { return ((colour >> shift & 0xFF) * a + 127) / 255 << shift; };
      pixels[std::size_t(y) * side + x] = (a << 24) | channel(16) | channel(8) | channel(0);
    }
  }
  return pixels;
}

TRowBand TClickRings::Draw(const TCursorTarget& target, int frameX, int frameY) const {
  int top = target.Height, bottom = 0;
  for (const TRing& ring : Rings) {
    const std::vector<unsigned long> image = Image(ClickRingColour(ring.Button), Strength(NowUs - ring.PressedUs));
    TCursorImage cursor;
    cursor.X = ring.X;
    cursor.Y = ring.Y;
    cursor.HotX = cursor.HotY = RingSide() / 2;
    cursor.Width = cursor.Height = RingSide();
    cursor.Pixels = image.data();
    BlendCursor(cursor, target, frameX, frameY);
    const int ringTop = ring.Y - cursor.HotY - frameY;
    top = std::min(top, std::max(ringTop, 0));
    bottom = std::max(bottom, std::min(ringTop + RingSide(), target.Height));
  }
  return top < bottom ? TRowBand{top, bottom} : TRowBand{};
}

}  // namespace qv
