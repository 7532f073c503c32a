// What a bug report needs to know of the machine a recording ran on, written at the top of each
// recording's log: the program's version, the system, the toolkit, the media libraries as loaded,
// the X server, its screen and monitors, whether a tray host is there, and the sound input.
#pragma once

#include <string>
#include <vector>

namespace qv {

struct TRecordingRequest;

// One "name: value" line each. Main thread (it asks the toolkit and the X server).
std::vector<std::string> SystemFacts(const TRecordingRequest& request);

}  // namespace qv
