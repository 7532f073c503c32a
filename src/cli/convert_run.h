// quorvane-convert's conversion: one TFFEncoder task from the parsed command line, run in a worker
// thread while this (the main) thread prints progress and watches for Ctrl-C.
#pragma once

#include <string>

#include "cli/convert_args.h"

namespace qv {

// Exit status: 0 completed, 1 failed, 2 an option the transcoder refuses, 130 stopped by a signal (INT, TERM or HUP; the file is
// finished first).
int RunConvert(const TConvertCommand& cmd);

// -repair FILE: 0 when FILE is complete afterwards (repaired, or complete already), 1 otherwise.
int RunRepair(const std::string& fileName);

}  // namespace qv
