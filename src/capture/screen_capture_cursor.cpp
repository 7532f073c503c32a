#include "capture/screen_capture_cursor.h"

#include <algorithm>

namespace qv {

namespace {

struct TRgb {
  int R, G, B;
};

int Expand(int v, int bits) { return bits >= 8 ? v >> (bits - 8) : (v * 255 + ((1 << bits) - 1) / 2) / ((1 << bits) - 1); }
int Shrink(int v, int bits) { return (v * ((1 << bits) - 1) + 127) / 255; }

std::uint32_t Read16(const std::uint8_t* p, bool le) { return le ? p[0] | (p[1] << 8) : (p[0] << 8) | p[1]; }
void Write16(std::uint8_t* p, std::uint32_t v, bool le) {
  p[le ? 0 : 1] = std::uint8_t(v);
  p[le ? 1 : 0] = std::uint8_t(v >> 8);
}

// A 16-bit layout: shifts and widths of red, green, blue.
struct TPacked16 {
  int RShift, RBits, GShift, GBits, BShift, BBits;
  bool Le;
};

bool Packed16Of(AVPixelFormat f, TPacked16& p) {
  switch (f) {
    case AV_PIX_FMT_RGB565LE: p = {11, 5, 5, 6, 0, 5, true}; return true;
    case AV_PIX_FMT_RGB565BE: p = {11, 5, 5, 6, 0, 5, false}; return true;
    case AV_PIX_FMT_RGB555LE: p = {10, 5, 5, 5, 0, 5, true}; return true;
    case AV_PIX_FMT_RGB555BE: p = {10, 5, 5, 5, 0, 5, false}; return true;
    case AV_PIX_FMT_BGR565LE: p = {0, 5, 5, 6, 11, 5, true}; return true;
    case AV_PIX_FMT_BGR565BE: p = {0, 5, 5, 6, 11, 5, false}; return true;
    case AV_PIX_FMT_BGR555LE: p = {0, 5, 5, 5, 10, 5, true}; return true;
    case AV_PIX_FMT_BGR555BE: p = {0, 5, 5, 5, 10, 5, false}; return true;
    default: return false;
  }
}

// Byte positions of red, green, blue for byte-addressed formats, and the pixel size.
bool BytesOf(AVPixelFormat f, int& r, int& g, int& b, int& size) {
  switch (f) {
    case AV_PIX_FMT_BGR0: case AV_PIX_FMT_BGRA: r = 2; g = 1; b = 0; size = 4; return true;
    case AV_PIX_FMT_RGB0: case AV_PIX_FMT_RGBA: r = 0; g = 1; b = 2; size = 4; return true;
    case AV_PIX_FMT_0RGB: case AV_PIX_FMT_ARGB: r = 1; g = 2; b = 3; size = 4; return true;
    case AV_PIX_FMT_0BGR: case AV_PIX_FMT_ABGR: r = 3; g = 2; b = 1; size = 4; return true;
    case AV_PIX_FMT_BGR24: r = 2; g = 1; b = 0; size = 3; return true;
    case AV_PIX_FMT_RGB24: r = 0; g = 1; b = 2; size = 3; return true;
    default: return false;
  }
}

int PixelSize(AVPixelFormat f) {
  int r, g, b, size;
  TPacked16 p;
  if (BytesOf(f, r, g, b, size)) return size;
  if (Packed16Of(f, p)) return 2;
  if (f == AV_PIX_FMT_X2RGB10LE) return 4;
  if (f == AV_PIX_FMT_RGB8 || f == AV_PIX_FMT_BGR8 || f == AV_PIX_FMT_GRAY8 || f == AV_PIX_FMT_PAL8) return 1;
  return 0;
}

TRgb Get(const TCursorTarget& t, const std::uint8_t* p) {
  int r, g, b, size;
  TPacked16 q;
  if (BytesOf(t.Format, r, g, b, size)) return {p[r], p[g], p[b]};
  if (Packed16Of(t.Format, q)) {
    const std::uint32_t v = Read16(p, q.Le);
    return {Expand(int(v >> q.RShift) & ((1 << q.RBits) - 1), q.RBits),
            Expand(int(v >> q.GShift) & ((1 << q.GBits) - 1), q.GBits),
            Expand(int(v >> q.BShift) & ((1 << q.BBits) - 1), q.BBits)};
  }
  switch (t.Format) {
    case AV_PIX_FMT_X2RGB10LE: {
      const std::uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
      return {int(v >> 22) & 0xFF, int(v >> 12) & 0xFF, int(v >> 2) & 0xFF};
    }
    case AV_PIX_FMT_RGB8: return {Expand(p[0] >> 5, 3), Expand((p[0] >> 2) & 7, 3), Expand(p[0] & 3, 2)};
    case AV_PIX_FMT_BGR8: return {Expand(p[0] & 7, 3), Expand((p[0] >> 3) & 7, 3), Expand(p[0] >> 6, 2)};
    case AV_PIX_FMT_GRAY8: return {p[0], p[0], p[0]};
    case AV_PIX_FMT_PAL8: {
      const std::uint32_t c = t.Palette ? t.Palette[p[0]] : 0;
      return {int(c >> 16) & 0xFF, int(c >> 8) & 0xFF, int(c) & 0xFF};
    }
    default: return {0, 0, 0};
  }
}

void Put(const TCursorTarget& t, std::uint8_t* p, TRgb c) {
  int r, g, b, size;
  TPacked16 q;
  if (BytesOf(t.Format, r, g, b, size)) {
    p[r] = std::uint8_t(c.R);
    p[g] = std::uint8_t(c.G);
    p[b] = std::uint8_t(c.B);
    return;
  }
  if (Packed16Of(t.Format, q)) {
    Write16(p,
            (std::uint32_t(Shrink(c.R, q.RBits)) << q.RShift) | (std::uint32_t(Shrink(c.G, q.GBits)) << q.GShift) |
                (std::uint32_t(Shrink(c.B, q.BBits)) << q.BShift),
            q.Le);
    return;
  }
  switch (t.Format) {
    case AV_PIX_FMT_X2RGB10LE: {
      const std::uint32_t v = (std::uint32_t(c.R * 1023 / 255) << 20) | (std::uint32_t(c.G * 1023 / 255) << 10) |
                              std::uint32_t(c.B * 1023 / 255);
      p[0] = std::uint8_t(v);
      p[1] = std::uint8_t(v >> 8);
      p[2] = std::uint8_t(v >> 16);
      p[3] = std::uint8_t(v >> 24);
      return;
    }
    case AV_PIX_FMT_RGB8: p[0] = std::uint8_t((Shrink(c.R, 3) << 5) | (Shrink(c.G, 3) << 2) | Shrink(c.B, 2)); return;
    case AV_PIX_FMT_BGR8: p[0] = std::uint8_t((Shrink(c.B, 2) << 6) | (Shrink(c.G, 3) << 3) | Shrink(c.R, 3)); return;
    case AV_PIX_FMT_GRAY8: p[0] = std::uint8_t((c.R * 77 + c.G * 150 + c.B * 29) >> 8); return;
    case AV_PIX_FMT_PAL8: {
      if (!t.Palette) return;
      // The nearest colour the palette has; the pointer covers a few hundred pixels at most.
      int best = 0, bestDist = 1 << 30;
      for (int i = 0; i < 256; ++i) {
        const std::uint32_t e = t.Palette[i];
        const int dr = int(e >> 16 & 0xFF) - c.R, dg = int(e >> 8 & 0xFF) - c.G, db = int(e & 0xFF) - c.B;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDist) bestDist = d, best = i;
      }
      p[0] = std::uint8_t(best);
      return;
    }
    default: return;
  }
}

}  // namespace

bool BlendCursor(const TCursorImage& cursor, const TCursorTarget& target, int frameX, int frameY) {
  const int size = PixelSize(target.Format);
  if (size == 0 || !cursor.Pixels) return false;
  const int left = cursor.X - cursor.HotX - frameX;
  const int top = cursor.Y - cursor.HotY - frameY;
  const int x0 = std::max(0, -left), y0 = std::max(0, -top);
  const int x1 = std::min(cursor.Width, target.Width - left), y1 = std::min(cursor.Height, target.Height - top);
  for (int y = y0; y < y1; ++y) {
    std::uint8_t* row = target.Data + std::ptrdiff_t(top + y) * target.Stride;
    const unsigned long* src = cursor.Pixels + std::ptrdiff_t(y) * cursor.Width;
    for (int x = x0; x < x1; ++x) {
      const std::uint32_t argb = std::uint32_t(src[x]);
      const int a = int(argb >> 24);
      if (a == 0) continue;
      std::uint8_t* p = row + std::ptrdiff_t(left + x) * size;
      // Pointer images are premultiplied: out = src + dst * (1 - alpha).
      const TRgb s{int(argb >> 16) & 0xFF, int(argb >> 8) & 0xFF, int(argb) & 0xFF};
      TRgb out = s;
      if (a != 255) {
        const TRgb d = Get(target, p);
        out = {std::min(255, s.R + (d.R * (255 - a) + 127) / 255), std::min(255, s.G + (d.G * (255 - a) + 127) / 255),
               std::min(255, s.B + (d.B * (255 - a) + 127) / 255)};
      }
      Put(target, p, out);
    }
  }
  return true;
}

void FadePixels(const std::vector<unsigned long>& from, int strength, std::vector<unsigned long>& to) {
  to.resize(from.size());
  for (std::size_t i = 0; i < from.size(); ++i) {
    unsigned long out = 0;
    for (int shift = 0; shift < 32; shift += 8) out |= ((from[i] >> shift & 0xFF) * unsigned(strength) / 255) << shift;
    to[i] = out;
  }
}

}  // namespace qv
