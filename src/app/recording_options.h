// What a recording is made of, worked out from the settings alone: the capture devices' option
// strings, the output file name and the encoder's output options. No window or encoder is touched
// here, so every rule can be checked on its own.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "encoder/encoder_records.h"

namespace qv {

enum class TCaptureMode { Region, Window, FullScreen };

// "Recorder"/"RegionToCapture": "Window", "FullScreen", anything else is a region.
TCaptureMode CaptureModeOf(const std::string& regionToCapture);

// The "screencapture" string: the window by its id, or the area "x,y" of size "width,height".
std::string WindowDeviceOptions(std::uint64_t window, bool blink);
std::string AreaDeviceOptions(const std::string& offset, const std::string& size, bool blink);
// The "wavecapture" string: always 44100 Hz stereo 16-bit; the output's rate is the encoder's job.
std::string AudioDeviceOptions(std::intptr_t pausePointer);

// "2011-01-27,22_02_11.avi" for that local moment.
std::string DateTimeFileName(const std::tm& local);
// The folder (with or without its trailing "/") joined with the date-time name.
std::string AutoOutputFileName(const std::string& folder, const std::tm& local);

// The number in a combo box's text once its unit (" Kbps", " Hz") is cut off, or `fallback` when
// what is left is not a whole number (a box without a valid selection has no text at all).
int NumberBeforeUnit(const std::string& text, std::size_t unitLength, int fallback);

// What the options window says about the output.
struct TOutputChoice {
  std::string VideoBitrate = "360 Kbps";
  std::string AudioBitrate = "80 Kbps";
  std::string AudioSampleRate = "44100 Hz";
  bool SameArea = true;
  std::string SelectedSize;  // "width,height" of the captured area
  std::string FrameWidth, FrameHeight;
};

// "640,480" -> "640x480" with the area's size, else width + "x" + height.
std::string FrameSizeOption(const TOutputChoice& choice);
TOutputOptions RecorderOutputOptions(const TOutputChoice& choice);

}  // namespace qv
