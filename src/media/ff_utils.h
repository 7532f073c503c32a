// Small helpers around the media libraries: error and time texts, media-type names, whole-file
// reading and the per-stream time-stamp correction.
#pragma once

#include <climits>
#include <cstdint>
#include <string>

#include "media/ff_owners.h"

namespace qv {

// prefix + ": " + the text of a negative library error code.
std::string ErrorCodeText(const std::string& prefix, int code);

// Microseconds as "hh:mm:ss.mmm" (hours are not wrapped); "N/A" for the no-time-stamp value.
std::string TimeToText(std::int64_t t);

// A length for people, to the nearest second: "0:07", "12:30", "1:02:03".
std::string LengthText(std::int64_t us);

// 0 "Video", 1 "Audio", 2 "Data", 3 "Subtitle", 4 "Attachment", else "Unknown".
std::string MediaTypeName(int type);

// Reads a whole file into a buffer from the library allocator with a zero byte appended; size counts
// that zero byte. 0 on success, -1 when the file cannot be opened or read, -12 when memory runs out,
// -27 when it holds more than maxBytes.
int ReadFile(const std::string& fileName, TAvMemPtr<std::uint8_t>& buffer, int& size, long maxBytes = INT_MAX - 1);

// Per-stream state for choosing between a decoder's reordered pts and the packet dts.
struct TPtsCorrection {
  std::int64_t FaultyPts = 0;
  std::int64_t FaultyDts = 0;
  std::int64_t LastPts = INT64_MIN;
  std::int64_t LastDts = INT64_MIN;
};

void NewPtsCorrection(TPtsCorrection& state);
std::int64_t GuessCorrectPts(TPtsCorrection& state, std::int64_t reorderedPts, std::int64_t dts);

}  // namespace qv
