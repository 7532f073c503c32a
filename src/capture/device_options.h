// Option strings of the program's own capture devices: ";"-separated key=value segments handed to a
// device as its input "file name". Keys are case-insensitive; unknown keys and empty segments are
// ignored. Both parsers are pure text functions so they can be tested (and fuzzed) without a device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/text_utils.h"  // StrictInt, IntOrDefault: the parsers' integer rules

namespace qv {

struct TScreenCaptureOptions {
  // "title": the rest of the string after "title=", ";" and "=" included; parsing ends there.
  bool HasTitle = false;
  std::string Title;
  // "hwnd": an X window id (decimal; 0x-prefixed hex is accepted too, as xwininfo prints ids).
  std::uint32_t Window = 0;
  // "offset" X,Y and "framesize" W,H: strict pairs; a bad number fails the whole parse, and so does
  // an offset outside -kMaxCaptureSide..kMaxCaptureSide or a size outside 0..kMaxCaptureSide (0:
  // the whole width or height).
  bool HasOffset = false;
  int OffsetX = 0;
  int OffsetY = 0;
  bool HasFrameSize = false;
  int Width = 0;
  int Height = 0;
  // "framerate" N/D in frames per second; strict like the pairs.
  bool HasFrameRate = false;
  int RateNum = 0;
  int RateDen = 0;
  // "showframe", "client", "cursor", "skipunchanged", "showclicks": a value that is not a number counts as 1.
  int ShowFrame = 0;
  int ClientOnly = 0;
  int DrawCursor = 0;
  // A slot in which neither the area nor the pointer drawn into it changed comes out as an empty
  // packet (the picture holds) instead of a grabbed picture.
  int SkipUnchanged = 0;
  // "showclicks": each mouse button press leaves a fading ring around the pointer in the frames.
  int ShowClicks = 0;
  // "spotlight": a soft highlight around the pointer while it moves (and stronger click rings).
  int Spotlight = 0;
  // "showkeys": key presses drawn as labels, 1 combinations and special keys only, 2 every key (any
  // other value counts as 1; 0 shows none); "keyscorner": 0
  // bottom-left, 1 bottom-right, 2 top-left, 3 top-right; "keysfont": the labels' font family.
  int ShowKeys = 0;
  int KeysCorner = 0;
  std::string KeysFont;
  std::intptr_t Session = 0;  // "session": a registered capture session's number; 0 is none
  // "node" (PipeWire device only): read this node of the session's PipeWire directly, without
  // asking the desktop's portal; 0 asks the portal.
  std::uint32_t Node = 0;
  // "portalwindow" (PipeWire device only): a window the user picks in the desktop's dialog rather
  // than a monitor.
  int PortalWindow = 0;
};

struct TWaveCaptureOptions {
  int DeviceId = -1;          // "i": -1 is the default capture device
  int SampleRate = 44100;     // "r"
  int Channels = 2;           // "c"
  int BitsPerSample = 16;     // "f"
  int BufferSize = 4096;      // "bufsize"
  // "source": a sound source by name (sound_sources.h), in place of "i". A name may hold ";" and
  // "=": it takes everything after the first "=", so it is always last.
  std::string Source;
  // "session", or its older name "pause_pointer": a registered capture session's number, decimal at
  // pointer width; 0 is none.
  std::intptr_t Session = 0;
};

// One source of the "wavemix" device: "in=VOLUME,MUTED,WATCH,LABEL,SOURCE", label and source with
// "%", ";" and "," written as "%XX" (MixInputOption makes the segment). Volume 0..200 percent.
struct TWaveMixInputOptions {
  int Volume = 100;
  bool Muted = false;
  bool WatchSilence = false;  // a microphone: told when it records nothing for a while
  std::string Label;
  std::string Source;  // a sound source by name; "" is ALSA's default
};

// "wavemix": the wave device's keys (r, c, f, bufsize, session) for every source alike, and one
// "in" segment per source.
struct TWaveMixOptions {
  TWaveCaptureOptions Common;
  std::vector<TWaveMixInputOptions> Inputs;
};

std::string MixInputOption(const TWaveMixInputOptions& input);

// The largest capture area side: far beyond any screen, small enough that no size or offset
// arithmetic on it can overflow.
constexpr int kMaxCaptureSide = 16384;

// Both return false only for a strict conversion that failed; `error` then names the bad text.
bool ParseScreenCaptureOptions(const std::string& text, TScreenCaptureOptions& options, std::string& error);
bool ParseWaveCaptureOptions(const std::string& text, TWaveCaptureOptions& options, std::string& error);
// False for an "in" segment that is not five fields with a volume of 0..200.
bool ParseWaveMixOptions(const std::string& text, TWaveMixOptions& options, std::string& error);

}  // namespace qv
