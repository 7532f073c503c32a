#include "app/recording_options.h"

#include <charconv>
#include <cstdio>
#include <filesystem>

#include "app/unit_general.h"
#include "capture/sound_sources.h"

namespace qv {

namespace {

constexpr int kDefaultVideoBitrateKbps = 360;
constexpr int kDefaultSampleRate = 44100;

// "a,b" as two whole numbers; 0,0 for anything else (the device then refuses an empty area).
void NumberPair(const std::string& text, int& a, int& b) {
  const std::size_t comma = text.find(',');
  a = NumberBeforeUnit(comma == std::string::npos ? "" : text.substr(0, comma), 0, 0);
  b = NumberBeforeUnit(comma == std::string::npos ? "" : text.substr(comma + 1), 0, 0);
}

TRecordingArea AreaOf(const TTrayChoice& choice) {
  TRecordingArea area;
  NumberPair(choice.Offset, area.X, area.Y);
  NumberPair(choice.Size, area.Width, area.Height);
  switch (choice.Mode) {
    case TCaptureMode::Window:
      area.Kind = TAreaKind::Window;
      area.Window = static_cast<std::uint32_t>(choice.Window);
      break;
    case TCaptureMode::FullScreen:
      area.Kind = TAreaKind::FullScreen;
      break;
    case TCaptureMode::Region:
      area.Kind = TAreaKind::Region;
      break;
  }
  return area;
}

// The microphone ("none": no microphone) and the desktop sound, each at its volume. A microphone
// alone at full volume is the one source of before: no mix.
std::vector<TWaveMixInputOptions> SoundMixOf(const TTrayChoice& choice) {
  std::vector<TWaveMixInputOptions> mix;
  if (choice.AudioSource != "none")
    mix.push_back({choice.MicrophoneVolume, choice.MicrophoneMuted, true, "Microphone",
                   choice.AudioSource == kDefaultSoundSource ? std::string() : choice.AudioSource});
  if (!choice.DesktopSource.empty())
    mix.push_back({choice.DesktopVolume, choice.DesktopMuted, false, "Desktop", choice.DesktopSource});
  return mix;
}

}  // namespace

TCaptureMode CaptureModeOf(const std::string& regionToCapture) {
  if (regionToCapture == "Window") return TCaptureMode::Window;
  if (regionToCapture == "FullScreen") return TCaptureMode::FullScreen;
  return TCaptureMode::Region;
}

std::string DateTimeFileName(const std::tm& local, TOutputFormat format) {
  char name[64];
  std::snprintf(name, sizeof(name), "%04d-%02d-%02d,%02d_%02d_%02d.%s", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, FormatName(format).c_str());
  return name;
}

std::string AutoOutputFileName(const std::string& folder, const std::tm& local, TOutputFormat format) {
  // An empty folder would make a name relative to wherever the program was started; it stays "/"
  // joined, so the failure (if any) names a place the user can see.
  return FreeFileName(JoinPath(folder.empty() ? std::string("/") : folder, DateTimeFileName(local, format)));
}

std::string FreeFileName(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return path;
  // The extension is the last dot of the name itself, never one in a folder's name.
  const std::size_t slash = path.rfind('/');
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
  for (int number = 2;; ++number) {
    std::string candidate = path.substr(0, dot) + " (" + std::to_string(number) + ")" + path.substr(dot);
    if (!std::filesystem::exists(candidate, ec)) return candidate;
  }
}

int NumberBeforeUnit(const std::string& text, std::size_t unitLength, int fallback) {
  if (text.size() <= unitLength) return fallback;
  const std::string number = text.substr(0, text.size() - unitLength);
  int value = 0;
  const char* end = number.data() + number.size();
  auto [at, error] = std::from_chars(number.data(), end, value);
  if (error != std::errc() || at != end || value <= 0) return fallback;
  return value;
}

TRecordingRequest TrayRecordingRequest(const TTrayChoice& choice) {
  TRecordingRequest request;
  request.Area = AreaOf(choice);
  request.Audio = choice.Audio;
  // ALSA's default input stays the device's default, named or not.
  if (choice.AudioSource != kDefaultSoundSource) request.AudioSource = choice.AudioSource;
  request.SoundMix = SoundMixOf(choice);
  if (choice.AudioSource == "none" && choice.DesktopSource.empty()) request.Audio = false;
  request.Blink = choice.Blink;
  request.EveryFrame = choice.EveryFrame;
  request.ShowClicks = choice.ShowClicks;
  request.ShowKeys = choice.ShowKeys;
  request.Spotlight = choice.Spotlight;
  const TOutputChoice& output = choice.Output;
  if (!output.SameArea) {
    request.OutWidth = NumberBeforeUnit(output.FrameWidth, 0, 0);
    request.OutHeight = NumberBeforeUnit(output.FrameHeight, 0, 0);
    request.KeepProportions = output.KeepProportions;
  }
  request.Format = output.Format;
  request.Quality = output.Quality;
  request.FrameRate = output.FrameRate;
  request.VideoKbps = NumberBeforeUnit(output.VideoBitrate, 5, kDefaultVideoBitrateKbps);
  request.SampleRate = NumberBeforeUnit(output.AudioSampleRate, 3, kDefaultSampleRate);
  request.FileName = choice.FileName;
  request.Backend = choice.Source.Backend;
  request.PipeWireNode = choice.Source.PipeWireNode;
  return request;
}

}  // namespace qv
