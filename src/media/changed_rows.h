// The rows of a screen picture that differ from the picture before it, carried on the picture's
// packet from the screen device to the engine, which then converts only those rows. A packet without
// them is a picture to be taken whole.
#pragma once

#include <vector>

extern "C" {
#include <libavcodec/packet.h>
}

namespace qv {

// Rows [Top, Bottom) of the picture.
struct TRowBand {
  int Top = 0;
  int Bottom = 0;
  bool operator==(const TRowBand&) const = default;
};

// Adds the bands to the packet (as its strings metadata, key "changed_rows"); false when out of
// memory, which leaves the packet a whole picture.
bool PutChangedRows(AVPacket* pkt, const std::vector<TRowBand>& bands);
// The bands the packet carries (none at all: nothing changed); false when the packet says nothing
// about its rows or what it says does not read.
bool GetChangedRows(const AVPacket* pkt, std::vector<TRowBand>& bands);

}  // namespace qv
