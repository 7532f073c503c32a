// The repair of a recording cut off, whatever its format: the file's first bytes say which repair
// it takes (avi_repair.h, mp4_repair.h, mkv_repair.h).
#pragma once

#include <string>

#include "engine/avi_repair.h"

namespace qv {

// Repairs `fileName` in place; a complete file is left alone (WasComplete). Needs the media
// libraries loaded.
TAviRepair RepairRecordingFile(const std::string& fileName);

}  // namespace qv
