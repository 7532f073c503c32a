// Repair of a Matroska file cut off by a kill or a full disk: its segment's size unknown or too
// large, no length in its header, perhaps its last cluster cut short. Every whole cluster stays; the
// cut one is closed at its last whole block (its size rewritten, its CRC, which no longer fits,
// turned into padding) or goes when it holds none; the segment gets the size it has and the header
// the length up to the last block kept, in the space the muxer kept for it. One without an index
// gets Cues and a SeekHead to find them (mkv_cues.h), when the disk has room for them.
#pragma once

#include "engine/repair_plan.h"

namespace qv {

// Reads only the elements' headers, the header's fields, the blocks of the last cluster kept and
// the first blocks of each cluster.
TRepairPlan PlanMkvRepair(const TFileReader& file);

}  // namespace qv
