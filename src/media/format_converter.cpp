#include "media/format_converter.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "media/ff_api.h"

namespace qv {

namespace {

AVPixelFormat TargetFormatOf(TPixelFormat f) {
  switch (f) {
    case pf8bit:
      return AV_PIX_FMT_BGR8;
    case pf15bit:
      return AV_PIX_FMT_BGR555LE;
    case pf16bit:
      return AV_PIX_FMT_BGR565LE;
    case pf24bit:
      return AV_PIX_FMT_BGR24;
    case pf32bit:
      return AV_PIX_FMT_BGRA;
  }
  return AV_PIX_FMT_BGR24;
}

}  // namespace

TPicture PictureOf(const AVFrame* frame) {
  TPicture p;
  for (int i = 0; i < 4; ++i) {
    p.data[i] = frame->data[i];
    p.linesize[i] = frame->linesize[i];
  }
  return p;
}

TFormatConverter::TFormatConverter() { Reset(); }

TFormatConverter::~TFormatConverter() = default;

void TFormatConverter::Reset() {
  FBitmapInfo = TBitmapInfo();
  OwnPicture = TPicture();
  CallerPicture = TPicture();
  FCurrent = nullptr;
  FBitsPixel = BitsOf(FPixelFormat);
  FTargetFormat = TargetFormatOf(FPixelFormat);
  FBitmap.SetPixelFormat(FPixelFormat);
}

void TFormatConverter::SetBitsPixel(int bits) {
  TPixelFormat f;
  switch (bits) {
    case 8:
      f = pf8bit;
      break;
    case 15:
      f = pf15bit;
      break;
    case 16:
      f = pf16bit;
      break;
    case 24:
      f = pf24bit;
      break;
    case 32:
      f = pf32bit;
      break;
    default:
      throw std::runtime_error("Invalid BitsPixel " + std::to_string(bits));
  }
  // Compared by format, not by bit count: 15-bit and 16-bit pixels both take 16 bits, and asking for
  // one after the other must still switch the layout.
  if (f == FPixelFormat) return;
  FPixelFormat = f;
  Reset();
}

bool TFormatConverter::ToRGB(const TPicture& picture, AVPixelFormat pixfmt, bool copyToBitmap, int height,
                             int width) {
  FBitmap.SetSize(width, height);
  const bool convert = pixfmt != FTargetFormat || (width & 1) || (height & 1) ||
                       FBitmap.Stride() != picture.linesize[0];
  TPicture* current = &CallerPicture;
  if (convert) {
    const int size = ff::av_image_get_buffer_size(FTargetFormat, width, height, 1);
    if (size < 0) {
      FCurrent = nullptr;
      FErrorText = "Cannot initialize the toRGB conversion context";
      return false;
    }
    if (!Buffer || BufferSize < size) {
      Buffer.reset(static_cast<std::uint8_t*>(ff::av_malloc(size_t(size))));
      BufferSize = Buffer ? size : 0;
      if (!Buffer) {
        FCurrent = nullptr;
        FErrorText = "Cannot allocate the picture buffer";
        return false;
      }
    }
    ff::av_image_fill_arrays(OwnPicture.data, OwnPicture.linesize, Buffer.get(), FTargetFormat, width, height, 1);
    ToContext.reset(ff::sws_getCachedContext(ToContext.release(), width, height, pixfmt, width, height,
                                             FTargetFormat, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!ToContext) {
      FCurrent = nullptr;
      FErrorText = "Cannot initialize the toRGB conversion context";
      return false;
    }
    ff::sws_scale(ToContext.get(), picture.data, picture.linesize, 0, height, OwnPicture.data, OwnPicture.linesize);
    current = &OwnPicture;
  } else {
    CallerPicture = picture;
  }
  FCurrent = current;
  FBitmapInfo.Type = 0;
  FBitmapInfo.Width = width;
  FBitmapInfo.Height = height;
  FBitmapInfo.WidthBytes = current->linesize[0];
  FBitmapInfo.Planes = 1;
  FBitmapInfo.BitsPixel = std::uint16_t(FBitsPixel);
  FBitmapInfo.Bits = current->data[0];
  if (copyToBitmap) CopyToBitmap();
  return true;
}

void TFormatConverter::CopyToBitmap() {
  if (!FCurrent || !FCurrent->data[0] || FCurrent->linesize[0] <= 0) return;
  const size_t n = size_t(std::min(FCurrent->linesize[0], FBitmap.Stride()));
  for (int y = 0; y < FBitmap.Height(); ++y)
    std::memcpy(FBitmap.ScanLine(y), FCurrent->data[0] + size_t(y) * size_t(FCurrent->linesize[0]), n);
}

void TFormatConverter::CopyFromBitmap() {
  if (!FCurrent || !FCurrent->data[0] || FCurrent->linesize[0] <= 0) return;
  const size_t n = size_t(std::min(FCurrent->linesize[0], FBitmap.Stride()));
  for (int y = 0; y < FBitmap.Height(); ++y)
    std::memcpy(FCurrent->data[0] + size_t(y) * size_t(FCurrent->linesize[0]), FBitmap.ScanLine(y), n);
}

bool TFormatConverter::FromRGB(const TPicture& picture, AVPixelFormat pixfmt, int height, int width) {
  FromContext.reset(ff::sws_getCachedContext(FromContext.release(), width, height, FTargetFormat, width, height, pixfmt,
                                         SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!FromContext) {
    FErrorText = "Cannot initialize the fromRGB conversion context";
    return false;
  }
  // Nothing converted yet (or the last conversion failed): there are no rows to scale back.
  if (!FCurrent) {
    FErrorText = "No picture to convert back";
    return false;
  }
  ff::sws_scale(FromContext.get(), FCurrent->data, FCurrent->linesize, 0, height, picture.data, picture.linesize);
  return true;
}

}  // namespace qv
