#include "media/row_pair_converter.h"

#include <dlfcn.h>

#include <cstdint>

#include "media/logger.h"

namespace qv {

namespace {

// libyuv's C entry points (its headers declare them extern "C"); "ARGB" is its name for the bytes
// B, G, R, A in memory, "ABGR" for R, G, B, A.
using TToI420 = int (*)(const std::uint8_t* src, int srcStride, std::uint8_t* y, int yStride, std::uint8_t* u,
                        int uStride, std::uint8_t* v, int vStride, int width, int height);

struct TLibYuv {
  TToI420 FromBgra = nullptr;
  TToI420 FromRgba = nullptr;
};

// Bound once per process and never unloaded, like the media libraries.
const TLibYuv& LibYuv() {
  static const TLibYuv bound = [] {
    TLibYuv lib;
    void* handle = ::dlopen(kLibYuvFileName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      GetLogger()->Log(nullptr, llVerbose, "[libyuv] not found: pictures are converted by libswscale");
      return lib;
    }
    lib.FromBgra = reinterpret_cast<TToI420>(::dlsym(handle, "ARGBToI420"));
    lib.FromRgba = reinterpret_cast<TToI420>(::dlsym(handle, "ABGRToI420"));
    return lib;
  }();
  return bound;
}

TToI420 ConversionFrom(int format) {
  switch (format) {
    case AV_PIX_FMT_BGR0:
    case AV_PIX_FMT_BGRA:
      return LibYuv().FromBgra;
    case AV_PIX_FMT_RGB0:
    case AV_PIX_FMT_RGBA:
      return LibYuv().FromRgba;
    default:
      return nullptr;
  }
}

// The scaler's filter choice is the low bits; exactness flags ask for libswscale's own arithmetic.
constexpr int kFilterBits = 0x7FF;
constexpr int kExactnessFlags = SWS_ACCURATE_RND | SWS_BITEXACT;

}  // namespace

bool RowPairConversionApplies(const AVFrame* src, const AVFrame* dst, int flags) {
  return (flags & kFilterBits) == SWS_AREA && !(flags & kExactnessFlags) && dst->format == AV_PIX_FMT_YUV420P &&
         src->width == dst->width && src->height == dst->height && ConversionFrom(src->format);
}

void ConvertRowPairs(const AVFrame* src, AVFrame* dst, int top, int bottom) {
  const auto at = [](const AVFrame* f, int plane, int row) {
    return f->data[plane] + std::ptrdiff_t(row) * f->linesize[plane];
  };
  ConversionFrom(src->format)(at(src, 0, top), src->linesize[0], at(dst, 0, top), dst->linesize[0],
                              at(dst, 1, top / 2), dst->linesize[1], at(dst, 2, top / 2), dst->linesize[2],
                              src->width, bottom - top);
}

}  // namespace qv
