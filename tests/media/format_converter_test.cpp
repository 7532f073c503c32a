#include "media/format_converter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "media/ff_api.h"
#include "media/ff_utils.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

// One frame of the library's test pattern, rendered by the ffmpeg command line in the given format.
class Frames {
 public:
  Frames() {
    Dir = std::filesystem::temp_directory_path() / ("qv_converter_" + std::to_string(::getpid()));
    std::filesystem::create_directories(Dir);
  }
  ~Frames() { std::filesystem::remove_all(Dir); }
  std::vector<std::uint8_t> Get(const char* pixfmt, int w, int h) {
    const std::string out = (Dir / (std::string(pixfmt) + std::to_string(w) + ".raw")).string();
    const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=" + std::to_string(w) + "x" +
                            std::to_string(h) + ":rate=1 -frames:v 1 -pix_fmt " + pixfmt + " -f rawvideo " + out;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    TAvMemPtr<std::uint8_t> buf;
    int size = 0;
    EXPECT_EQ(ReadFile(out, buf, size), 0);
    std::vector<std::uint8_t> bytes(buf.get(), buf.get() + (size > 0 ? size - 1 : 0));
    return bytes;
  }
  // The same raw YUV frame converted by the command line, the independent judge of our bitmap.
  std::vector<std::uint8_t> FromYuv(const char* pixfmt, int w, int h) {
    const std::string in = (Dir / ("yuv420p" + std::to_string(w) + ".raw")).string();
    const std::string out = (Dir / (std::string("cli_") + pixfmt + ".raw")).string();
    const std::string cmd = "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt yuv420p -s " + std::to_string(w) + "x" +
                            std::to_string(h) + " -i " + in + " -sws_flags bicubic -pix_fmt " + pixfmt +
                            " -f rawvideo " + out;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    TAvMemPtr<std::uint8_t> buf;
    int size = 0;
    EXPECT_EQ(ReadFile(out, buf, size), 0);
    std::vector<std::uint8_t> bytes(buf.get(), buf.get() + (size > 0 ? size - 1 : 0));
    return bytes;
  }
  std::filesystem::path Dir;
};

TPicture Packed(std::vector<std::uint8_t>& bytes, int linesize) {
  TPicture p;
  p.data[0] = bytes.data();
  p.linesize[0] = linesize;
  return p;
}

TPicture Yuv420(std::vector<std::uint8_t>& bytes, int w, int h) {
  TPicture p;
  p.data[0] = bytes.data();
  p.data[1] = p.data[0] + w * h;
  p.data[2] = p.data[1] + (w / 2) * (h / 2);
  p.linesize[0] = w;
  p.linesize[1] = p.linesize[2] = w / 2;
  return p;
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += double(a[i] - b[i]) * double(a[i] - b[i]);
  const double mse = sum / double(a.size());
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

struct Depth {
  int bits;
  const char* ffname;
  AVPixelFormat fmt;
  int bytes;
  double minPsnr;  // of a YUV 4:2:0 frame sent through the bitmap and back
};
const Depth kDepths[] = {
    {8, "bgr8", AV_PIX_FMT_BGR8, 1, 32.0},  // measured 37.7 .. 45.5 dB on the test pattern
    {15, "bgr555le", AV_PIX_FMT_BGR555LE, 2, 33.0},
    {16, "bgr565le", AV_PIX_FMT_BGR565LE, 2, 35.0},
    {24, "bgr24", AV_PIX_FMT_BGR24, 3, 40.0},
    {32, "bgra", AV_PIX_FMT_BGRA, 4, 40.0},
};

TEST(FormatConverter, BitsPixelTable) {
  TFormatConverter c;
  EXPECT_EQ(c.BitsPixel(), 24);
  EXPECT_EQ(c.TargetFormat(), AV_PIX_FMT_BGR24);
  for (const Depth& d : kDepths) {
    c.SetBitsPixel(d.bits);
    EXPECT_EQ(c.TargetFormat(), d.fmt) << d.bits;
    EXPECT_EQ(c.BitsPixel(), d.bits == 15 ? 16 : d.bits);
    EXPECT_EQ(c.Bitmap().BitsPixel(), c.BitsPixel());
  }
  c.SetBitsPixel(15);
  c.SetBitsPixel(16);  // both take 16 bits, but the layout must follow the request
  EXPECT_EQ(c.TargetFormat(), AV_PIX_FMT_BGR565LE);
  for (int bad : {12, 0, -24, 64}) {
    try {
      c.SetBitsPixel(bad);
      ADD_FAILURE() << bad << " accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid BitsPixel " + std::to_string(bad));
    }
  }
  EXPECT_EQ(c.TargetFormat(), AV_PIX_FMT_BGR565LE);  // a rejected depth changes nothing
}

TEST(FormatConverter, PictureInTheBitmapFormatIsCopiedBottomUpAndBackExactly) {
  Frames frames;
  const int w = 320, h = 240;
  for (const Depth& d : kDepths) {
    SCOPED_TRACE(d.ffname);
    std::vector<std::uint8_t> src = frames.Get(d.ffname, w, h);
    ASSERT_EQ(int(src.size()), w * h * d.bytes);
    TFormatConverter c;
    c.SetBitsPixel(d.bits);
    ASSERT_TRUE(c.ToRGB(Packed(src, w * d.bytes), d.fmt, true, h, w));
    EXPECT_FALSE(c.CurrentIsOwnPicture());  // rows already match: no scaling
    EXPECT_EQ(c.BitmapInfo().Bits, src.data());
    EXPECT_EQ(c.BitmapInfo().WidthBytes, w * d.bytes);
    EXPECT_EQ(c.BitmapInfo().BitsPixel, c.BitsPixel());
    const TBitmap& bmp = c.Bitmap();
    ASSERT_EQ(bmp.Stride(), w * d.bytes);
    for (int y = 0; y < h; ++y)
      ASSERT_EQ(std::memcmp(bmp.ScanLine(y), src.data() + y * w * d.bytes, w * d.bytes), 0) << y;
    // Bottom-up: the memory starts with the picture's last row.
    EXPECT_EQ(std::memcmp(bmp.Bits(), src.data() + (h - 1) * w * d.bytes, w * d.bytes), 0);

    std::vector<std::uint8_t> back(src.size(), 0);
    ASSERT_TRUE(c.FromRGB(Packed(back, w * d.bytes), d.fmt, h, w));
    EXPECT_EQ(back, src);

    // A hook's change to the bitmap reaches the caller's own picture.
    std::memset(c.Bitmap().ScanLine(0), 0x5A, w * d.bytes);
    c.CopyFromBitmap();
    EXPECT_EQ(src[0], 0x5A);
    EXPECT_EQ(src[w * d.bytes - 1], 0x5A);
    EXPECT_NE(src[w * d.bytes], 0x5A);
  }
}

TEST(FormatConverter, OddSizesAndPaddedRowsGoThroughTheOwnPicture) {
  Frames frames;
  struct Case {
    int w, h, linesize;
  };
  for (const Case& k : {Case{321, 240, 321 * 3}, Case{320, 241, 320 * 3}, Case{320, 240, 1000}}) {
    SCOPED_TRACE(std::to_string(k.w) + "x" + std::to_string(k.h) + "/" + std::to_string(k.linesize));
    std::vector<std::uint8_t> tight = frames.Get("bgr24", k.w, k.h);
    std::vector<std::uint8_t> src(size_t(k.linesize) * k.h, 0);
    for (int y = 0; y < k.h; ++y) std::memcpy(&src[size_t(y) * k.linesize], &tight[size_t(y) * k.w * 3], k.w * 3);
    TFormatConverter c;
    ASSERT_TRUE(c.ToRGB(Packed(src, k.linesize), AV_PIX_FMT_BGR24, true, k.h, k.w));
    EXPECT_TRUE(c.CurrentIsOwnPicture());
    for (int y = 0; y < k.h; ++y)
      ASSERT_EQ(std::memcmp(c.Bitmap().ScanLine(y), &tight[size_t(y) * k.w * 3], k.w * 3), 0) << y;
  }
}

TEST(FormatConverter, YuvFramesRoundTripCloselyAtEveryDepth) {
  Frames frames;
  const int w = 320, h = 240;
  std::vector<std::uint8_t> src = frames.Get("yuv420p", w, h);
  ASSERT_EQ(int(src.size()), w * h * 3 / 2);
  TFormatConverter c;
  for (const Depth& d : kDepths) {  // one converter across depths: cached contexts must follow
    SCOPED_TRACE(d.ffname);
    c.SetBitsPixel(d.bits);
    ASSERT_TRUE(c.ToRGB(Yuv420(src, w, h), AV_PIX_FMT_YUV420P, true, h, w)) << c.ErrorText();
    EXPECT_TRUE(c.CurrentIsOwnPicture());
    // The bitmap equals what the command line makes of the same frame in that format.
    std::vector<std::uint8_t> ref = frames.FromYuv(d.ffname, w, h);
    std::vector<std::uint8_t> got(ref.size());
    for (int y = 0; y < h; ++y) std::memcpy(&got[size_t(y) * w * d.bytes], c.Bitmap().ScanLine(y), w * d.bytes);
    EXPECT_TRUE(got == ref) << "bitmap differs from the command line's conversion, PSNR " << Psnr(got, ref);

    std::vector<std::uint8_t> back(src.size(), 0);
    ASSERT_TRUE(c.FromRGB(Yuv420(back, w, h), AV_PIX_FMT_YUV420P, h, w));
    const double psnr = Psnr(back, src);
    EXPECT_GT(psnr, d.minPsnr);
    EXPECT_LT(psnr, 99.0);  // a real conversion happened
  }
}

TEST(FormatConverter, NothingToConvertBackBeforeAFrame) {
  TFormatConverter c;
  std::vector<std::uint8_t> out(64 * 64 * 3);
  EXPECT_FALSE(c.FromRGB(Packed(out, 64 * 3), AV_PIX_FMT_BGR24, 64, 64));
}

}  // namespace
}  // namespace qv
