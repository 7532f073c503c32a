// A device-independent bitmap as the hooks and the previewer see a video frame: rows padded to 32
// bits and stored bottom-up (scan line 0, the top row, is the last row in memory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv {

enum TPixelFormat { pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

// Bits per pixel of each format (15-bit pixels occupy 16 bits).
constexpr int BitsOf(TPixelFormat f) {
  return f == pf8bit ? 8 : f == pf15bit || f == pf16bit ? 16 : f == pf24bit ? 24 : 32;
}

class TBitmap {
 public:
  TPixelFormat PixelFormat() const { return Format; }
  void SetPixelFormat(TPixelFormat f) {
    if (f == Format) return;
    Format = f;
    Allocate();
  }
  int Width() const { return W; }
  int Height() const { return H; }
  void SetSize(int width, int height) {
    if (width == W && height == H) return;
    W = width < 0 ? 0 : width;
    H = height < 0 ? 0 : height;
    Allocate();
  }
  int BitsPixel() const { return BitsOf(Format); }
  // Bytes per scan line: the row padded to a multiple of 4 bytes.
  int Stride() const { return ((W * BitsPixel() + 31) / 32) * 4; }
  std::uint8_t* ScanLine(int y) { return Data.data() + std::size_t(H - 1 - y) * std::size_t(Stride()); }
  const std::uint8_t* ScanLine(int y) const {
    return Data.data() + std::size_t(H - 1 - y) * std::size_t(Stride());
  }
  // The bitmap's memory, starting with its bottom row.
  std::uint8_t* Bits() { return Data.data(); }
  const std::uint8_t* Bits() const { return Data.data(); }

 private:
  void Allocate() { Data.assign(std::size_t(Stride()) * std::size_t(H), 0); }
  TPixelFormat Format = pf24bit;
  int W = 0;
  int H = 0;
  std::vector<std::uint8_t> Data;
};

}  // namespace qv
