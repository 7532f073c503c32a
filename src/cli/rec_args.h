// The command line of quorvane-rec:
//   quorvane-rec [--fullscreen | --region X,Y,W,H | --window XID | --title TEXT]
//                [--monitor pointer|all|NAME|N] [--no-audio | --audio-source NAME...] [--volume NAME=PCT...]
//                [--countdown S]
//                [--format avi|mkv|mp4] [--quality high|medium|low] [--fps N] [--size WxH]
//                [--keep-proportions] [--vb KBPS] [--ar 22050|44100] [--blink]
//                [--every-frame] [--show-clicks] [--show-keys[=all]] [--keys-corner CORNER]
//                [--spotlight] [--duration SECONDS] [--backend x11|pipewire] [--node ID]
//                [--restore-token TOKEN] [--forget-screen-permission] [-y | -n] OUTPUT
//   quorvane-rec --list-audio-sources
//   quorvane-rec --forget-screen-permission
// Defaults follow the tray program's settings defaults: full screen (the monitor holding the
// pointer), output as large as the area, 360 kbit/s video, sound on at 44100 Hz, unchanged frames
// held rather than coded, an existing OUTPUT refused. "--ab KBPS" is still taken from older
// scripts and noted as having no effect.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/key_overlay.h"
#include "cli/output_claim.h"
#include "recording/capture_backend.h"
#include "recording/output_format.h"

namespace qv {

enum class TRecArea { FullScreen, Region, Window, Title };

struct TRecCommand {
  TRecArea Area = TRecArea::FullScreen;
  int RegionX = 0, RegionY = 0, RegionWidth = 0, RegionHeight = 0;
  std::uint32_t WindowId = 0;
  std::string Title;
  std::string Monitor = "pointer";  // which screen a full-screen recording covers (capture/monitors.h)
  bool Audio = true;
  std::string AudioSource;  // --audio-source: a sound source by name; "" is ALSA's default input
  // Every --audio-source in order (the first is AudioSource); two or more are mixed into one sound.
  std::vector<std::string> AudioSources;
  // --volume NAME=PERCENT (0..200) for a source given with --audio-source.
  std::vector<std::pair<std::string, int>> Volumes;
  int CountdownSeconds = 0;  // --countdown: seconds counted down on the terminal before the start
  bool FormatGiven = false;  // without --format the output's extension decides (AVI without one)
  TOutputFormat Format = TOutputFormat::Avi;
  bool QualityGiven = false;
  TVideoQuality Quality = TVideoQuality::Medium;
  int FrameRate = kDefaultFrameRate;
  int OutWidth = 0, OutHeight = 0;  // 0: the size of the area
  bool KeepProportions = false;     // pad rather than stretch to OutWidth x OutHeight
  bool VideoKbpsGiven = false;
  int VideoKbps = 360;
  int AudioKbps = 0;  // given for old scripts only: the sound's rate follows from SampleRate
  int SampleRate = 44100;
  bool Blink = false;
  bool EveryFrame = false;  // code unchanged frames too
  bool ShowClicks = false;  // a ring at each mouse button press
  bool Spotlight = false;   // a highlight around the moving pointer, stronger rings
  std::optional<TKeysChoice> ShowKeys;  // --show-keys[=all], --keys-corner: labels of the keys pressed
  std::int64_t DurationUs = 0;  // 0: until stopped
  bool BackendGiven = false;    // without --backend the session decides (SessionCaptureBackend)
  TCaptureBackend Backend = TCaptureBackend::X11;
  std::uint32_t Node = 0;  // --node: a PipeWire node recorded without the portal (implies pipewire)
  // The portal's permission: --restore-token hands one in (else the kept one is used);
  // --forget-screen-permission drops the kept one (alone, without OUTPUT: that only).
  std::string RestoreToken;
  bool ForgetScreenPermission = false;
  std::string Output;
  TOverwrite Overwrite = TOverwrite::Ask;  // -y, -n; without either an existing OUTPUT is refused
  bool Help = false;
  bool ListAudioSources = false;  // --list-audio-sources: print them and record nothing
  bool ListMonitors = false;      // --list-monitors: the names --monitor takes; record nothing
};

// Fills `cmd` from the arguments (without the program name). Returns "" or the error text.
std::string ParseRecArgs(const std::vector<std::string>& args, TRecCommand& cmd);

std::string RecUsage();

}  // namespace qv
