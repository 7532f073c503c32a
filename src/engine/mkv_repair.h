// Repair of a Matroska file cut off by a kill or a full disk: its segment's size unknown or too
// large, no length in its header, perhaps its last cluster cut short. Every whole cluster stays; the
// cut one is closed at its last whole block (its size rewritten, its CRC, which no longer fits,
// turned into padding) or goes when it holds none; the segment gets the size it has and the header
// the length up to the last block kept, in the space the muxer kept for it.
#pragma once

#include "engine/repair_plan.h"

namespace qv {

// Reads only the elements' headers, the header's fields and the blocks of the last cluster kept.
TRepairPlan PlanMkvRepair(const TFileReader& file);

}  // namespace qv
