// Conversion of only the rows of a picture that changed, into the converted picture kept from the
// picture before: a still screen with a line being typed costs a line's conversion, not a frame's.
#pragma once

#include <algorithm>
#include <map>
#include <vector>

#include "media/changed_rows.h"
#include "media/ff_owners.h"

namespace qv {

// Threads: owned by the output stream it converts for, used on the worker thread only.
class TBandConverter {
 public:
  // Converts the rows `bands` of `src` into the same rows of `dst`, which holds the conversion of
  // the picture before and has the same size. Bands are widened to whole chroma rows. False when
  // it cannot (a palette, a size change) or most rows changed: then the whole picture is one call.
  bool Convert(const AVFrame* src, AVFrame* dst, const std::vector<TRowBand>& bands, int flags);

 private:
  static void ConvertRowPairBands(const AVFrame* src, AVFrame* dst, const std::vector<TRowBand>& bands);
  std::vector<TRowBand> WholeChromaRows(const std::vector<TRowBand>& bands, int height) const;
  int RowAlign() const { return 1 << std::max(SrcChromaShift, DstChromaShift); }  // whole chroma rows
  int MarginRows() const;  // how far the vertical filters reach, in whole chroma rows
  bool NewLayout(const AVFrame* src, const AVFrame* dst, int flags);
  SwsContext* ScalerFor(int rows);
  bool ConvertBand(const AVFrame* src, AVFrame* dst, const TRowBand& band);

  // Contexts by band height, for the layout below; a new layout starts over.
  std::map<int, TScalerPtr> Scalers;
  TFramePtr Scratch;  // a band with the rows around it, converted
  int Width = 0, SrcFormat = -1, DstFormat = -1, Flags = 0;
  int SrcChromaShift = 0, DstChromaShift = 0;
};

// The whole of `src` into `dst`: libyuv's row pairs when they apply, else `whole`, a scaler context
// made for these sizes and formats with `flags`.
void ConvertWholePicture(SwsContext* whole, const AVFrame* src, AVFrame* dst, int flags);

}  // namespace qv
