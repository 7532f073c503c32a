// Turns a decoded picture into a bitmap of a chosen colour depth and back, through libswscale.
// Used by the engine's video hooks and preview.
#pragma once

#include <cstdint>
#include <string>

#include "media/bitmap.h"
#include "media/ff_owners.h"

namespace qv {

// Plane pointers and line sizes of a picture (the first four planes of an AVFrame).
struct TPicture {
  std::uint8_t* data[4] = {};
  int linesize[4] = {};
};

TPicture PictureOf(const AVFrame* frame);

// The platform bitmap description handed along with the bitmap.
struct TBitmapInfo {
  std::int32_t Type = 0;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t WidthBytes = 0;
  std::uint16_t Planes = 0;
  std::uint16_t BitsPixel = 0;
  void* Bits = nullptr;
};

class TFormatConverter {
 public:
  TFormatConverter();
  ~TFormatConverter();
  TFormatConverter(const TFormatConverter&) = delete;
  TFormatConverter& operator=(const TFormatConverter&) = delete;

  void Reset();
  int BitsPixel() const { return FBitsPixel; }
  // 8, 15, 16, 24 or 32; anything else throws std::runtime_error "Invalid BitsPixel %d".
  void SetBitsPixel(int bits);
  AVPixelFormat TargetFormat() const { return FTargetFormat; }
  TPixelFormat PixelFormat() const { return FPixelFormat; }

  TBitmap& Bitmap() { return FBitmap; }
  const TBitmapInfo& BitmapInfo() const { return FBitmapInfo; }
  // The picture whose rows fill the bitmap: the caller's own when it needed no conversion, else the
  // converter's; nullptr after a failure.
  const TPicture* Current() const { return FCurrent; }
  bool CurrentIsOwnPicture() const { return FCurrent == &OwnPicture; }
  const std::string& ErrorText() const { return FErrorText; }

  bool ToRGB(const TPicture& picture, AVPixelFormat pixfmt, bool copyToBitmap, int height, int width);
  void CopyToBitmap();
  void CopyFromBitmap();
  // Scales the current picture into `picture` (of pixfmt).
  bool FromRGB(const TPicture& picture, AVPixelFormat pixfmt, int height, int width);

 private:
  int FBitsPixel = 24;
  AVPixelFormat FTargetFormat = AV_PIX_FMT_BGR24;
  TPixelFormat FPixelFormat = pf24bit;
  TBitmap FBitmap;
  TBitmapInfo FBitmapInfo;
  TAvMemPtr<std::uint8_t> Buffer;
  int BufferSize = 0;
  TPicture OwnPicture;
  TPicture CallerPicture;
  TPicture* FCurrent = nullptr;
  TScalerPtr ToContext;
  TScalerPtr FromContext;
  std::string FErrorText;
};

}  // namespace qv
