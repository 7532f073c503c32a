// The mouse pointer drawn into captured frames: the pointer's ARGB image from XFixes, blended over the
// frame's pixels in whatever packed format the screen uses.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace qv {

struct TCursorTarget {
  std::uint8_t* Data = nullptr;
  int Stride = 0;
  int Width = 0;
  int Height = 0;
  AVPixelFormat Format = AV_PIX_FMT_NONE;
  const std::uint32_t* Palette = nullptr;  // 256 entries 0xAARRGGBB for PAL8
};

// A pointer image: premultiplied ARGB pixels, the hot spot, and the pointer's position on the root.
struct TCursorImage {
  int X = 0, Y = 0;
  int HotX = 0, HotY = 0;
  int Width = 0, Height = 0;
  const unsigned long* Pixels = nullptr;  // XFixes hands out one pixel per unsigned long
};

// Blends `cursor` into `target` with the frame's top-left corner at (`frameX`, `frameY`) on the root.
// Pixels outside the frame are skipped; formats it cannot write are left untouched (false).
bool BlendCursor(const TCursorImage& cursor, const TCursorTarget& target, int frameX, int frameY);

// Premultiplied pixels at `strength` (255: as they are, 0: gone) into `to`, whose room is reused:
// what fades out frame by frame allocates once.
void FadePixels(const std::vector<unsigned long>& from, int strength, std::vector<unsigned long>& to);

}  // namespace qv
