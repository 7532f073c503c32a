// The bytes of the Matroska elements the MKV repair writes: sizes, padding, and the index (Cues)
// with the SeekHead that lets a reader find it. A recording cut off has neither; without them a
// player seeks by reading clusters from the start.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qv {

// `value` in a size field `width` bytes wide; false when it does not fit.
bool EbmlSizeBytes(std::uint64_t value, int width, std::string& out);
std::string BigEndianBytes(std::uint64_t value, int count);
// A Void element `bytes` long; false when none is (a single byte).
bool EbmlVoid(std::int64_t bytes, std::string& out);

struct TMkvCue {
  std::uint64_t Tick = 0;             // the key frame's time
  std::uint64_t ClusterPosition = 0;  // its cluster's, from where the segment's data begins
};
std::string EbmlCues(std::uint64_t track, const std::vector<TMkvCue>& cues);

// A SeekHead naming where each element (ID, position in the segment) is, padded with a Void to fill
// `room` bytes exactly; false when it does not fit.
bool EbmlSeekHead(const std::vector<std::pair<std::uint32_t, std::uint64_t>>& entries, std::int64_t room,
                  std::string& out);

}  // namespace qv
