// What a recording is: the area, the sound, the output. Each front end fills a request from its own
// settings (the tray program from its options window and pickers, quorvane-rec from its command
// line); only this layer turns a request into device option strings and encoder settings, so both
// programs record alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/device_options.h"

#include <optional>

#include "capture/key_overlay.h"
#include "encoder/encoder_records.h"
#include "recording/capture_backend.h"
#include "recording/output_format.h"

namespace qv {

enum class TAreaKind { FullScreen, Region, Window };

struct TRecordingArea {
  TAreaKind Kind = TAreaKind::FullScreen;
  // In screen pixels: the whole screen or the region; for a window only the size counts (its own
  // area's when it was picked, without the window manager's frame), since the device follows the
  // window where it goes.
  int X = 0, Y = 0, Width = 0, Height = 0;
  std::uint32_t Window = 0;  // the X window of a window recording
};

struct TRecordingRequest {
  TRecordingArea Area;  // with PipeWire a full screen may leave the size 0: the stream's size
  TCaptureBackend Backend = TCaptureBackend::X11;
  std::uint32_t PipeWireNode = 0;  // PipeWire: a node to record as it is, without the portal; 0: ask it
  std::string PortalRestoreToken;  // PipeWire: the portal's permission from last time; "": it asks
  bool Audio = true;
  int AudioInput = -1;  // a capture PCM as the sound device numbers them; -1 is ALSA's default
  std::string AudioSource;  // a sound source by name (capture/sound_sources.h), in place of AudioInput
  // Sources mixed into the one sound stream, each at its volume, in place of the two above. One
  // source at 100% and not muted records as AudioSource would.
  std::vector<TWaveMixInputOptions> SoundMix;
  bool Blink = false;   // the blinking frame around the area
  // Every slot coded, also those in which nothing changed; by default such a slot repeats the
  // picture before it (an empty AVI chunk), which costs next to nothing.
  bool EveryFrame = false;
  // A fading ring around the pointer at each mouse button press, in the recorded frames only.
  bool ShowClicks = false;
  // A soft highlight around the pointer while it moves, and stronger click rings.
  bool Spotlight = false;
  // Labels of the keys pressed, drawn into the recorded frames; none without a choice.
  std::optional<TKeysChoice> ShowKeys;
  // The file's kind: its codecs follow from it. The sound's bit rate is the format's own (MS
  // ADPCM's follows from the sample rate, AdpcmBitsPerSecond), so there is none to ask for.
  TOutputFormat Format = TOutputFormat::Avi;
  int FrameRate = kDefaultFrameRate;
  int OutWidth = 0, OutHeight = 0;  // 0: the area's size
  // The area keeps its proportions inside OutWidth x OutHeight, with black bars on two sides;
  // otherwise it is stretched to that size.
  bool KeepProportions = false;
  int VideoKbps = 360;                              // AVI only
  TVideoQuality Quality = TVideoQuality::Medium;   // H.264 only
  int SampleRate = 44100;                           // AVI and MP4; Opus always takes 48000 Hz
  std::int64_t DurationUs = 0;  // recorded time (pauses left out) after which it ends; 0: until stopped
  std::string FileName;         // UTF-8
  // Where the recording marks itself as under way until its file is finished (recording_mark.h);
  // empty: no mark.
  std::string MarkFolder;
  // Where the recording is written out when its file was removed mid-recording and its own folder
  // cannot be made again (the tray program's documents folder); empty: the home folder.
  std::string SpareFolder;
};

// What the encoder is handed for a request.
struct TRecordingPlan {
  std::string ScreenDevice;  // "screencapture" or "pipewirecapture"
  std::string ScreenOptions;
  std::string SoundDevice = "wavecapture";  // "wavemix" for sources mixed
  std::string AudioOptions;  // empty without sound
  TOutputOptions Output;
};

// The sound device always captures stereo, and the file keeps it.
constexpr int kRecordedChannels = 2;

// MS ADPCM's bit rate in the file: 4 bits a sample plus each block's header, so it follows from
// the sample rate and the channels alone.
int AdpcmBitsPerSecond(int sampleRate, int channels);

// The sound in a file of `format` when `sampleRate` was asked for: its sample rate and bit rate.
int SoundSampleRate(TOutputFormat format, int sampleRate);
int SoundBitsPerSecond(TOutputFormat format, int sampleRate);

// `session` is the number of the recording's capture session, by which its devices find it.
TRecordingPlan PlanRecording(const TRecordingRequest& request, std::intptr_t session);

}  // namespace qv
