#include "capture/key_overlay.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

constexpr std::uint32_t kLabelColour = 0x202020;  // the label's ground; the text is white
constexpr unsigned kLabelAlpha = 224;             // a little of the picture shows through

// Coverage of a rounded rectangle `w` x `h` with corner radius `r` at pixel (x, y), smoothed over a pixel.
double RoundedCover(int x, int y, int w, int h, int r) {
  const double cx = std::clamp(x + 0.5, double(r), double(w - r));
  const double cy = std::clamp(y + 0.5, double(r), double(h - r));
  const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
  return std::clamp(r + 0.5 - d, 0.0, 1.0);
}

unsigned long Premultiplied(unsigned a, std::uint32_t rgb) {
  const auto channel = [&](int shift) { return ((rgb >> shift & 0xFF) * a + 127) / 255 << shift; };
  return (static_cast<unsigned long>(a) << 24) | channel(16) | channel(8) | channel(0);
}

constexpr const char* kCornerNames[] = {"bottom-left", "bottom-right", "top-left", "top-right"};

}  // namespace

bool ParseKeysCorner(const std::string& text, TKeysCorner& corner) {
  for (int i = 0; i < 4; ++i)
    if (text == kCornerNames[i]) {
      corner = static_cast<TKeysCorner>(i);
      return true;
    }
  return false;
}

const char* KeysCornerName(TKeysCorner corner) { return kCornerNames[static_cast<int>(corner) & 3]; }

bool ParseKeysMode(const std::string& text, TKeysMode& mode) {
  if (text != "combinations" && text != "all") return false;
  mode = text == "all" ? TKeysMode::Everything : TKeysMode::Combinations;
  return true;
}

const char* KeysModeName(TKeysMode mode) { return mode == TKeysMode::Everything ? "all" : "combinations"; }

int TKeyOverlay::TextSize(int areaHeight) { return std::clamp(areaHeight / 36, 12, 72); }

std::unique_ptr<TKeyOverlay> TKeyOverlay::Create(TKeysMode mode, TKeysCorner corner, const std::string& family,
                                                 int areaHeight, std::string& error) {
  std::unique_ptr<TLabelFont> font = TLabelFont::Open(family, TextSize(areaHeight), error);
  if (!font) return nullptr;
  return std::unique_ptr<TKeyOverlay>(new TKeyOverlay(mode, corner, std::move(font)));
}

TKeyOverlay::TImage TKeyOverlay::LabelImage(const std::string& text) const {
  const TTextMask mask = FontFace->Render(text);
  const int size = FontFace->PixelSize();
  const int padX = size / 2, padY = std::max(2, size / 4);
  TImage image;
  image.Width = mask.Width + 2 * padX;
  image.Height = mask.Height + 2 * padY;
  const int radius = std::max(3, image.Height / 4);
  image.Pixels.assign(std::size_t(image.Width) * std::size_t(image.Height), 0);
  for (int y = 0; y < image.Height; ++y) {
    for (int x = 0; x < image.Width; ++x) {
      const unsigned ground = unsigned(std::lround(RoundedCover(x, y, image.Width, image.Height, radius) * kLabelAlpha));
      const int mx = x - padX, my = y - padY;
      const bool inText = mx >= 0 && mx < mask.Width && my >= 0 && my < mask.Height;
      const unsigned ink = inText ? mask.Alpha[std::size_t(my) * std::size_t(mask.Width) + std::size_t(mx)] : 0;
      // White text over the ground, both premultiplied.
      const unsigned alpha = ink + ground * (255 - ink) / 255;
      const unsigned long under = Premultiplied(ground, kLabelColour) & 0xFFFFFF;
      const auto channel = [&](int shift) {
        return (ink + ((under >> shift & 0xFF) * (255 - ink) + 127) / 255) << shift;
      };
      image.Pixels[std::size_t(y) * std::size_t(image.Width) + std::size_t(x)] =
          (static_cast<unsigned long>(alpha) << 24) | channel(16) | channel(8) | channel(0);
    }
  }
  return image;
}

void TKeyOverlay::Rebuild() {
  if (ImagesVersion == Keys.Version()) return;
  Images.clear();
  for (const std::string& text : Keys.Texts()) Images.push_back(LabelImage(text));
  ImagesVersion = Keys.Version();
}

TRowBand TKeyOverlay::Draw(const TCursorTarget& target) {
  const int strength = Keys.Strength();
  if (strength == 0) return {};
  Rebuild();
  const int margin = FontFace->PixelSize();
  const int gap = std::max(4, margin / 2);
  if (Images.empty()) return {};
  // The newest labels that fit the area's width, oldest left.
  std::size_t first = Images.size() - 1;
  int width = Images.back().Width;
  while (first > 0 && width + gap + Images[first - 1].Width <= target.Width - 2 * margin) {
    width += gap + Images[first - 1].Width;
    --first;
  }
  const bool right = Corner == TKeysCorner::BottomRight || Corner == TKeysCorner::TopRight;
  const bool bottom = Corner == TKeysCorner::BottomLeft || Corner == TKeysCorner::BottomRight;
  int x = right ? target.Width - margin - width : margin;
  int top = target.Height, end = 0;
  for (std::size_t i = first; i < Images.size(); ++i) {
    const TImage& image = Images[i];
    const unsigned long* pixels = image.Pixels.data();
    if (strength < 255) {
      FadePixels(image.Pixels, strength, Faded);
      pixels = Faded.data();
    }
    TCursorImage label;
    label.X = x;
    label.Y = bottom ? target.Height - margin - image.Height : margin;
    label.Width = image.Width;
    label.Height = image.Height;
    label.Pixels = pixels;
    BlendCursor(label, target, 0, 0);
    top = std::min(top, std::max(label.Y, 0));
    end = std::max(end, std::min(label.Y + image.Height, target.Height));
    x += image.Width + gap;
  }
  return top < end ? TRowBand{top, end} : TRowBand{};
}

}  // namespace qv
