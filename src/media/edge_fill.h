// Pictures coded in a frame larger than themselves. 4:2:0 codes colour for 2x2 blocks and x264 takes
// only whole blocks, so a picture of an odd size goes into a frame one column or row larger; filling
// that column or row with the picture's own edge pixels keeps every pixel of the picture and adds
// nothing a player could show as a line of another colour, where scaling would soften the picture.
#pragma once

#include "media/ff_api.h"

namespace qv {

// True when RepeatEdges can fill frames of `format`: whole bytes per pixel in every plane, no
// palette, in memory. Its colour blocks are 1 << log2_chroma_w by 1 << log2_chroma_h pixels.
bool CanRepeatEdges(AVPixelFormat format);

// Threads: the caller's frame, the caller's thread.
// While it lives, `frame` reads as its top-left `width` x `height` part (the same planes), for the
// converters, which fill a whole frame of their source's size.
class TTopLeftPart {
 public:
  TTopLeftPart(AVFrame* frame, int width, int height);
  ~TTopLeftPart();
  TTopLeftPart(const TTopLeftPart&) = delete;
  TTopLeftPart& operator=(const TTopLeftPart&) = delete;

 private:
  AVFrame* Frame;
  int Width, Height;  // the whole frame's, given back at the end
};

// Fills `frame` beyond its top-left `width` x `height` part: each row's last pixel of the part is
// repeated to the right, then the part's last row (so widened) down to the bottom. Each plane is
// done at its own resolution, so a chroma plane that already covers the frame is left alone. The
// whole edge is written each time: a few hundred bytes, and right whichever rows were converted.
void RepeatEdges(AVFrame* frame, int width, int height);

}  // namespace qv
