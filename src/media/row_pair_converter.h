// The screen's BGRA-family pictures to 4:2:0 at their own size through libyuv, bound at run time
// like the media libraries. Its SIMD conversion costs a third of libswscale's on a 1080p picture
// (0.9 against 3.0 ms here), and each 2x2 block's chroma is the average of its four pixels, which
// is what the recording's "area" scaler asks for. Each pair of rows is converted on its own, so a
// band of changed rows starting on an even row comes out as the whole picture's conversion does,
// with no rows around it. Without libyuv.so.0 the caller keeps libswscale.
#pragma once

#include "media/ff_api.h"

namespace qv {

// The one library this binds, by soname.
inline constexpr char kLibYuvFileName[] = "libyuv.so.0";

// Threads: stateless; any thread.
// True when `src` to `dst` is this conversion: bgr0/bgra/rgb0/rgba to yuv420p of the same size,
// with the scaler's 2x2 averaging asked for (`flags` holds SWS_AREA and no exactness flags) and
// libyuv at hand.
bool RowPairConversionApplies(const AVFrame* src, const AVFrame* dst, int flags);

// Converts rows [top, bottom) of `src` into the same rows of `dst`; `top` is even, `bottom` is even
// or the picture's height. Only when RowPairConversionApplies.
void ConvertRowPairs(const AVFrame* src, AVFrame* dst, int top, int bottom);

}  // namespace qv
