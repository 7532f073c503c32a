// quorvane-rec's recording: one TFFEncoder task from the screen device (and the wave device) into
// an AVI file, run in the encoder's worker thread while this (the main) thread prints progress and
// takes pause, resume and stop from signals and the keyboard.
#pragma once

#include <cstdint>
#include <string>

#include "cli/rec_args.h"
#include "encoder/encoder_records.h"

namespace qv {

// Exit status: 0 the file was finished, 1 failure.
int RunRecording(const TRecCommand& cmd);

// Blocks SIGINT, SIGTERM, SIGUSR1 and SIGUSR2 in the calling thread, and so in every thread started
// after it; RunRecording reads them from a signal descriptor. Call first thing in main().
void BlockRecordingSignals();

// "time=00:00:10.04 frames=  251 size=    812kB fps= 25 dup=0 drop=0" plus " [paused]".
std::string RecProgressLine(const TProgressInfo& info, int dup, int drop, bool paused);

}  // namespace qv
