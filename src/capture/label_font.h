// Text for the labels drawn into recorded frames, rendered in the program's own memory: the capture
// thread has no toolkit, and the server's fonts would cost a round trip per label. Fontconfig picks
// the face (the desktop's UI font family when the front end names it, else its "sans-serif"),
// FreeType draws the glyphs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qv {

// Coverage of a rendered text, one byte a pixel (0 clear, 255 covered).
struct TTextMask {
  int Width = 0, Height = 0;
  std::vector<std::uint8_t> Alpha;
};

// Threads: owned and used by the thread that reads the screen device.
class TLabelFont {
 public:
  // nullptr when no face could be found or opened; `error` then says why.
  static std::unique_ptr<TLabelFont> Open(const std::string& family, int pixelSize, std::string& error);
  ~TLabelFont();
  TLabelFont(const TLabelFont&) = delete;
  TLabelFont& operator=(const TLabelFont&) = delete;

  // One line of UTF-8 text, as high as LineHeight(); characters the face lacks are left out.
  TTextMask Render(const std::string& text) const;
  int LineHeight() const { return Ascent + Descent; }
  int PixelSize() const { return Size; }
  const std::string& FamilyName() const { return Family; }

 private:
  TLabelFont() = default;
  void* Library = nullptr;  // FT_Library
  void* Face = nullptr;     // FT_Face
  int Size = 0, Ascent = 0, Descent = 0;
  std::string Family;       // what fontconfig chose
};

}  // namespace qv
