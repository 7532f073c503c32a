// quorvane-rec's recording: the command line's request run by the recording layer while this (the
// main) thread prints progress and takes pause, resume and stop from signals and the keyboard.
#pragma once

#include <string>

#include "cli/rec_args.h"
#include "recording/recording.h"

namespace qv {

// Exit status: 0 the file was finished, 1 failure (a recording that stopped by itself included).
int RunRecording(const TRecCommand& cmd);

// Prints the sound sources --audio-source takes, with what each is. Exit status 0.
int PrintAudioSources();

// Removes the screen permission kept for this desktop (--forget-screen-permission alone). Exit
// status 0, or 1 when it cannot be removed.
int ForgetScreenPermission();

// "time=00:00:10.00 slots=250 coded=12 size=812kB dup=0 drop=0" plus " [paused]": the recorded
// time, the video's frame slots, the pictures coded (a slot in which nothing changed repeats the one
// before), the file's size, the slots repeated or dropped for being late.
std::string RecProgressLine(const TRecordingProgress& progress);

}  // namespace qv
