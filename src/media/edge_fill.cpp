#include "media/edge_fill.h"

#include <algorithm>
#include <cstring>

namespace qv {

namespace {

// A plane's rows and columns for the picture's `size` (chroma planes are subsampled).
int PlaneSize(int size, int plane, int shift) { return plane == 1 || plane == 2 ? AV_CEIL_RSHIFT(size, shift) : size; }

// Bytes of one pixel in plane `plane` (the widest component there: a packed pixel's whole step).
int PixelBytes(const AVPixFmtDescriptor* d, int plane) {
  int bytes = 0;
  for (int c = 0; c < d->nb_components; ++c)
    if (d->comp[c].plane == plane) bytes = std::max(bytes, d->comp[c].step);
  return bytes;
}

}  // namespace

bool CanRepeatEdges(AVPixelFormat format) {
  const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(format);
  if (!d || (d->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL))) return false;
  // A packed subsampled layout (YUYV) shares one pixel's bytes between two columns.
  return d->log2_chroma_w == 0 || (d->flags & AV_PIX_FMT_FLAG_PLANAR);
}

TTopLeftPart::TTopLeftPart(AVFrame* frame, int width, int height)
    : Frame(frame), Width(frame->width), Height(frame->height) {
  frame->width = width;
  frame->height = height;
}

TTopLeftPart::~TTopLeftPart() {
  Frame->width = Width;
  Frame->height = Height;
}

void RepeatEdges(AVFrame* frame, int width, int height) {
  if (width <= 0 || height <= 0 || (width >= frame->width && height >= frame->height)) return;
  const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(AVPixelFormat(frame->format));
  if (!d || !CanRepeatEdges(AVPixelFormat(frame->format))) return;
  for (int p = 0; p < 4 && frame->data[p]; ++p) {
    const int bytes = PixelBytes(d, p);
    const int partW = PlaneSize(width, p, d->log2_chroma_w), partH = PlaneSize(height, p, d->log2_chroma_h);
    const int fullW = PlaneSize(frame->width, p, d->log2_chroma_w), fullH = PlaneSize(frame->height, p, d->log2_chroma_h);
    const auto row = [&](int y) { return frame->data[p] + std::ptrdiff_t(y) * frame->linesize[p]; };
    for (int y = 0; y < partH && partW < fullW; ++y) {
      std::uint8_t* line = row(y);
      for (int x = partW; x < fullW; ++x) std::memcpy(line + x * bytes, line + (partW - 1) * bytes, size_t(bytes));
    }
    for (int y = partH; y < fullH; ++y) std::memcpy(row(y), row(partH - 1), size_t(fullW) * size_t(bytes));
  }
}

}  // namespace qv
