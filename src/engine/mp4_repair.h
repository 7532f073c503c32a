// Repair of a fragmented MP4 (an empty moov up front, then moof+mdat pairs) cut off by a kill or a
// full disk: every whole top-level box stays, the box cut short at the end goes, and so does a moof
// whose mdat is cut (its sample table would point past the end of the file).
#pragma once

#include "engine/repair_plan.h"

namespace qv {

// Reads only the boxes' headers.
TRepairPlan PlanMp4Repair(const TFileReader& file);

}  // namespace qv
