// What a recording is made of, worked out from the settings alone: the output file name and the
// request the recording layer is handed. No window or encoder is touched here, so every rule can be
// checked on its own.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "recording/recording_request.h"

namespace qv {

enum class TCaptureMode { Region, Window, FullScreen };

// "Recorder"/"RegionToCapture": "Window", "FullScreen", anything else is a region.
TCaptureMode CaptureModeOf(const std::string& regionToCapture);

// "2011-01-27,22_02_11.avi" for that local moment, with the format's extension.
std::string DateTimeFileName(const std::tm& local, TOutputFormat format = TOutputFormat::Avi);
// The folder (with or without its trailing "/") joined with the date-time name, made free with
// FreeFileName.
std::string AutoOutputFileName(const std::string& folder, const std::tm& local,
                               TOutputFormat format = TOutputFormat::Avi);
// `path` when nothing is there yet, else the first of "name (2).ext", "name (3).ext", … that is
// free: two recordings started within one second must not share a file.
std::string FreeFileName(const std::string& path);

// The number in a combo box's text once its unit (" Kbps", " Hz") is cut off, or `fallback` when
// what is left is not a whole number (a box without a valid selection has no text at all).
int NumberBeforeUnit(const std::string& text, std::size_t unitLength, int fallback);

// What the options window says about the output.
struct TOutputChoice {
  std::string VideoBitrate = "360 Kbps";
  std::string AudioSampleRate = "44100 Hz";
  bool SameArea = true;
  std::string FrameWidth, FrameHeight;
  TOutputFormat Format = TOutputFormat::Avi;
  TVideoQuality Quality = TVideoQuality::Medium;
  int FrameRate = kDefaultFrameRate;
  bool KeepProportions = false;  // with a size of its own: padded, not stretched
};

// Where the picture comes from: the X server's screen, or (on a Wayland session) the portal's stream,
// or the PipeWire node "Recorder"/"PipeWireNode" names, recorded as it is.
struct TScreenSource {
  TCaptureBackend Backend = TCaptureBackend::X11;
  std::uint32_t PipeWireNode = 0;
};

// What the options window and the pickers say about a recording.
struct TTrayChoice {
  TCaptureMode Mode = TCaptureMode::Region;
  // As the pickers leave them (SelectedOffset, SelectedSize, SelectedWindow): "x,y", "width,height"
  // and the window; the full screen is "0,0" and the screen's size.
  std::string Offset, Size;
  std::uint64_t Window = 0;
  bool Audio = true;
  bool Blink = false;
  TOutputChoice Output;
  std::string FileName;
  bool EveryFrame = false;  // code unchanged frames too
  bool ShowClicks = false;  // a ring at each mouse button press
  std::string AudioSource;  // a sound source's name (capture/sound_sources.h); "" or "default": ALSA's default
  // The microphone's (AudioSource's) volume and mute, and the desktop sound mixed with it ("": none).
  // AudioSource "none" records the desktop sound alone.
  int MicrophoneVolume = 100;
  bool MicrophoneMuted = false;
  std::string DesktopSource;
  int DesktopVolume = 100;
  bool DesktopMuted = false;
  TScreenSource Source;
  std::optional<TKeysChoice> ShowKeys;  // labels of the keys pressed
  bool Spotlight = false;  // a highlight around the moving pointer, stronger rings
};

TRecordingRequest TrayRecordingRequest(const TTrayChoice& choice);

}  // namespace qv
