// Pictures and the sound's outline of a recording, for the trim window: the picture at any
// instant (scaled, as 32-bit RGB rows) and the loudest sample of each slice of the sound.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct SwsContext;

namespace qv {

struct TRgbPicture {
  int Width = 0, Height = 0;
  std::vector<std::uint32_t> Pixels;  // 0xAARRGGBB, row after row
};

class TPictureReader {
 public:
  TPictureReader();
  ~TPictureReader();
  TPictureReader(const TPictureReader&) = delete;
  TPictureReader& operator=(const TPictureReader&) = delete;

  // False with Error() when the file has no picture it can decode.
  bool Open(const std::string& fileName);
  const std::string& Error() const { return FError; }

  // The picture shown at `us` (from the file's start), `width` pixels wide (0: as recorded).
  bool PictureAt(std::int64_t us, int width, TRgbPicture& picture);

  // The loudest sample (0..1) in each of `slices` equal slices of the whole sound; empty without one.
  std::vector<float> SoundOutline(int slices);

 private:
  struct TState;
  std::unique_ptr<TState> S;
  std::string FileName, FError;
};

}  // namespace qv
