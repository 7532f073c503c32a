#include "media/changed_rows.h"

#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

#include "media/ff_api.h"

namespace qv {

namespace {

// Strings metadata is "key\0value\0" pairs; ours is one pair, the value "top-bottom,top-bottom".
constexpr std::string_view kKey{"changed_rows\0", 13};

bool ReadInt(std::string_view& text, int& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc()) return false;
  text.remove_prefix(size_t(end - text.data()));
  return true;
}

bool ReadBand(std::string_view& text, TRowBand& band) {
  if (!ReadInt(text, band.Top) || text.empty() || text.front() != '-') return false;
  text.remove_prefix(1);
  return ReadInt(text, band.Bottom) && band.Top >= 0 && band.Bottom > band.Top;
}

}  // namespace

bool PutChangedRows(AVPacket* pkt, const std::vector<TRowBand>& bands) {
  std::string value;
  for (const TRowBand& b : bands) {
    if (!value.empty()) value += ',';
    value += std::to_string(b.Top) + '-' + std::to_string(b.Bottom);
  }
  const std::string packed = std::string(kKey) + value + '\0';
  std::uint8_t* side = ff::av_packet_new_side_data(pkt, AV_PKT_DATA_STRINGS_METADATA, packed.size());
  if (!side) return false;
  std::memcpy(side, packed.data(), packed.size());
  return true;
}

bool GetChangedRows(const AVPacket* pkt, std::vector<TRowBand>& bands) {
  bands.clear();
  size_t size = 0;
  const std::uint8_t* side = ff::av_packet_get_side_data(pkt, AV_PKT_DATA_STRINGS_METADATA, &size);
  const std::string_view data(reinterpret_cast<const char*>(side), side ? size : 0);
  if (data.size() <= kKey.size() || data.substr(0, kKey.size()) != kKey || data.back() != '\0') return false;
  std::string_view text = data.substr(kKey.size(), data.size() - kKey.size() - 1);
  while (!text.empty()) {
    TRowBand band;
    if (!ReadBand(text, band)) return false;
    bands.push_back(band);
    if (!text.empty() && text.front() == ',') text.remove_prefix(1);
  }
  return true;
}

}  // namespace qv
