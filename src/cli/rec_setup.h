// What quorvane-rec asks of the recording layer: the command line and the screen it is run on
// turned into a recording request.
#pragma once

#include <cstdint>
#include <string>

#include "capture/monitors.h"
#include "cli/rec_args.h"
#include "recording/recording_request.h"

namespace qv {

// The desktop as the device will see it, and the chosen window's outer size.
struct TScreenFacts {
  TDesktop Desktop;           // empty with PipeWire: the portal's stream decides
  std::uint32_t Window = 0;  // the window to record (resolved from --window or --title)
  int WindowWidth = 0, WindowHeight = 0;
  TCaptureBackend Backend = TCaptureBackend::X11;
};

struct TRecSetup {
  TRecordingRequest Request;
  std::string Description;  // "the whole screen (1920x1080)" and the like, for the start line
  std::string Note;         // remarks worth printing (a region cut at the desktop's edge, an unused --ab)
};

// Settles the backend; with X11 asks the X server (DISPLAY) for the desktop and its monitors and,
// for a window recording, resolves the window.
// "" or an error text.
std::string ReadScreenFacts(const TRecCommand& cmd, TScreenFacts& facts);

// Prints the monitors --monitor takes: "pointer", "all", then each by number and name. Exit status
// 0, or 1 when the display cannot be opened.
int PrintMonitors();

// The command and the screen as a request. "" or an error text.
std::string SetUpRecording(const TRecCommand& cmd, const TScreenFacts& facts, TRecSetup& setup);

}  // namespace qv
