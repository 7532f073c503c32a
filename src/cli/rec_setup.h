// What quorvane-rec hands to the encoder: the capture devices' option strings and the output
// options, built the way the tray program's recording controller builds them.
#pragma once

#include <cstdint>
#include <string>

#include "cli/rec_args.h"
#include "encoder/encoder_records.h"

namespace qv {

// The screen as the device will see it, and the chosen window's outer size.
struct TScreenFacts {
  int Width = 0, Height = 0;
  std::uint32_t Window = 0;  // the window to record (resolved from --window or --title)
  int WindowWidth = 0, WindowHeight = 0;
};

struct TRecPlan {
  std::string ScreenOptions;  // "offset=...;framesize=...;framerate=25/1;showframe=%d;cursor=1" or "hwnd=..."
  std::string AudioOptions;   // empty without sound
  int AreaWidth = 0, AreaHeight = 0;
  std::string FrameSize;      // "WxH" of the output
  std::string Description;    // "the whole screen (1920x1080)" and the like, for the start line
  std::string Note;           // a remark worth printing (a region cut at the screen's edge)
};

// Asks the X server (DISPLAY) for the screen size and, for a window recording, resolves the window.
// "" or an error text.
std::string ReadScreenFacts(const TRecCommand& cmd, TScreenFacts& facts);

// Turns the command and the screen into device strings and sizes. `pauseFlag` is the number the
// pause flag was registered under (the "pause_pointer" value). "" or an error text.
std::string PlanRecording(const TRecCommand& cmd, const TScreenFacts& facts, std::intptr_t pauseFlag,
                          TRecPlan& plan);

// The output options: AVI, msmpeg4v2 + adpcm_ms at the command's bit rates, sample rate and size.
TOutputOptions RecOutputOptions(const TRecCommand& cmd, const TRecPlan& plan);

}  // namespace qv
