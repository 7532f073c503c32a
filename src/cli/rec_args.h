// The command line of quorvane-rec:
//   quorvane-rec [--fullscreen | --region X,Y,W,H | --window XID | --title TEXT] [--no-audio]
//                [--size WxH] [--vb KBPS] [--ab KBPS] [--ar 22050|44100] [--blink]
//                [--duration SECONDS] [--backend x11|pipewire] [--node ID] OUTPUT.avi
// Defaults follow the tray program's settings defaults: the whole screen, output as large as the
// area, 360 kbit/s video, 80 kbit/s audio at 44100 Hz, sound on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recording/capture_backend.h"

namespace qv {

enum class TRecArea { FullScreen, Region, Window, Title };

struct TRecCommand {
  TRecArea Area = TRecArea::FullScreen;
  int RegionX = 0, RegionY = 0, RegionWidth = 0, RegionHeight = 0;
  std::uint32_t WindowId = 0;
  std::string Title;
  bool Audio = true;
  int OutWidth = 0, OutHeight = 0;  // 0: the size of the area
  int VideoKbps = 360;
  int AudioKbps = 80;
  int SampleRate = 44100;
  bool Blink = false;
  std::int64_t DurationUs = 0;  // 0: until stopped
  bool BackendGiven = false;    // without --backend the session decides (SessionCaptureBackend)
  TCaptureBackend Backend = TCaptureBackend::X11;
  std::uint32_t Node = 0;  // --node: a PipeWire node recorded without the portal (implies pipewire)
  std::string Output;
  bool Help = false;
};

// Fills `cmd` from the arguments (without the program name). Returns "" or the error text.
std::string ParseRecArgs(const std::vector<std::string>& args, TRecCommand& cmd);

std::string RecUsage();

}  // namespace qv
