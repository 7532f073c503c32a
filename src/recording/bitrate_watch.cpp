#include "recording/bitrate_watch.h"

namespace qv {

namespace {

// The file's header and the first key frame make the first moments look dearer than the rest.
constexpr std::int64_t kSettleUs = 3'000'000;
// Long enough that one key frame (one every 10 s) does not tip a stretch over on its own.
constexpr std::int64_t kStretchUs = 10'000'000;

}  // namespace

std::string TBitrateWatch::Judge(std::int64_t recordedUs, std::int64_t fileBytes) {
  if (Target <= 0 || Told || recordedUs < kSettleUs) return {};
  if (StretchFromUs < 0 || recordedUs < StretchFromUs) {
    StretchFromUs = recordedUs;
    StretchFromBytes = fileBytes;
    return {};
  }
  const std::int64_t spanUs = recordedUs - StretchFromUs;
  if (spanUs < kStretchUs) return {};
  const std::int64_t video = (fileBytes - StretchFromBytes) * 8 * 1'000'000 / spanUs - Sound;
  StretchFromUs = recordedUs;
  StretchFromBytes = fileBytes;
  if (video * 5 <= std::int64_t(Target) * 6) return {};
  Told = true;
  return "The video needs about " + BitRateText(video) + ", more than the chosen " + BitRateText(Target) +
         "; the file will be larger than planned.";
}

std::string BitRateText(std::int64_t bitsPerSecond) {
  if (bitsPerSecond < 999'500) return std::to_string((bitsPerSecond + 500) / 1000) + " kbit/s";
  const std::int64_t tenths = (bitsPerSecond + 50'000) / 100'000;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " Mbit/s";
}

}  // namespace qv
