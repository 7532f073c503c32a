// quorvane-convert's conversion: one TFFEncoder task from the parsed command line, run in a worker
// thread while this (the main) thread prints progress and watches for Ctrl-C.
#pragma once

#include "cli/convert_args.h"

namespace qv {

// Exit status: 0 completed, 1 failed, 130 stopped by a signal (INT, TERM or HUP; the file is
// finished first).
int RunConvert(const TConvertCommand& cmd);

}  // namespace qv
