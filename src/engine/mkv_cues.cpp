#include "engine/mkv_cues.h"

namespace qv {

namespace {

constexpr std::uint32_t kVoid = 0xEC, kCues = 0x1C53BB6B, kCuePoint = 0xBB, kCueTime = 0xB3,
                        kCueTrackPositions = 0xB7, kCueTrack = 0xF7, kCueClusterPosition = 0xF1,
                        kSeekHead = 0x114D9B74, kSeek = 0x4DBB, kSeekId = 0x53AB, kSeekPosition = 0x53AC;

std::string IdBytes(std::uint32_t id) {
  const int count = id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1;
  return BigEndianBytes(id, count);
}

std::string Element(std::uint32_t id, const std::string& body) {
  std::string size;
  for (int width = 1; width <= 8 && !EbmlSizeBytes(body.size(), width, size); ++width) {
  }
  return IdBytes(id) + size + body;
}

std::string Unsigned(std::uint32_t id, std::uint64_t value) {
  int count = 1;
  while (count < 8 && value >> 8 * count) ++count;
  return Element(id, BigEndianBytes(value, count));
}

}  // namespace

bool EbmlSizeBytes(std::uint64_t value, int width, std::string& out) {
  if (value >= (std::uint64_t(1) << 7 * width) - 1) return false;
  out = BigEndianBytes(value, width);
  out[0] = char(std::uint8_t(out[0]) | (0x80 >> (width - 1)));
  return true;
}

std::string BigEndianBytes(std::uint64_t value, int count) {
  std::string out(size_t(count), '\0');
  for (int i = count - 1; i >= 0; --i, value >>= 8) out[size_t(i)] = char(value & 0xFF);
  return out;
}

bool EbmlVoid(std::int64_t bytes, std::string& out) {
  out.clear();
  if (bytes == 0) return true;
  // The ID's byte, a size field of one byte or of eight, then the padding.
  std::string size;
  if (!(bytes >= 2 && EbmlSizeBytes(std::uint64_t(bytes - 2), 1, size)) &&
      !(bytes >= 9 && EbmlSizeBytes(std::uint64_t(bytes - 9), 8, size)))
    return false;
  out = char(kVoid) + size;
  out.resize(size_t(bytes), '\0');
  return true;
}

std::string EbmlCues(std::uint64_t track, const std::vector<TMkvCue>& cues) {
  std::string points;
  for (const TMkvCue& cue : cues)
    points += Element(kCuePoint, Unsigned(kCueTime, cue.Tick) +
                                     Element(kCueTrackPositions, Unsigned(kCueTrack, track) +
                                                                     Unsigned(kCueClusterPosition, cue.ClusterPosition)));
  return Element(kCues, points);
}

bool EbmlSeekHead(const std::vector<std::pair<std::uint32_t, std::uint64_t>>& entries, std::int64_t room,
                  std::string& out) {
  std::string seeks;
  for (const auto& [id, position] : entries)
    seeks += Element(kSeek, Element(kSeekId, IdBytes(id)) + Element(kSeekPosition, BigEndianBytes(position, 8)));
  out = Element(kSeekHead, seeks);
  std::string padding;
  if (std::int64_t(out.size()) > room || !EbmlVoid(room - std::int64_t(out.size()), padding)) return false;
  out += padding;
  return true;
}

}  // namespace qv
