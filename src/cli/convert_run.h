// quorvane-convert's conversion: one TFFEncoder task from the parsed command line, run in a worker
// thread while this (the main) thread prints progress and watches for Ctrl-C.
#pragma once

#include "cli/convert_args.h"

namespace qv {

// Exit status: 0 completed, 1 failed, 130 stopped by a signal.
int RunConvert(const TConvertCommand& cmd);

// Blocks SIGINT and SIGTERM in the calling thread (and every thread started after it) and starts the
// thread that waits for them; StopSignalled() then tells whether one arrived.
void InstallStopSignals();
bool StopSignalled();
void RemoveStopSignals();

}  // namespace qv
