#include "app/recording_options.h"

#include <charconv>
#include <cstdio>

#include "app/unit_general.h"

namespace qv {

namespace {

constexpr int kDefaultVideoBitrateKbps = 360;
constexpr int kDefaultAudioBitrateKbps = 80;
constexpr int kDefaultSampleRate = 44100;

const char* ShowFrame(bool blink) { return blink ? "1" : "0"; }

}  // namespace

TCaptureMode CaptureModeOf(const std::string& regionToCapture) {
  if (regionToCapture == "Window") return TCaptureMode::Window;
  if (regionToCapture == "FullScreen") return TCaptureMode::FullScreen;
  return TCaptureMode::Region;
}

std::string WindowDeviceOptions(std::uint64_t window, bool blink) {
  return "hwnd=" + std::to_string(window) + ";framerate=25/1;showframe=" + ShowFrame(blink) + ";cursor=1";
}

std::string AreaDeviceOptions(const std::string& offset, const std::string& size, bool blink) {
  return "offset=" + offset + ";framesize=" + size + ";framerate=25/1;showframe=" + ShowFrame(blink) + ";cursor=1";
}

std::string AudioDeviceOptions(std::intptr_t pausePointer) {
  return "r=44100;c=2;f=16;pause_pointer=" + std::to_string(static_cast<long long>(pausePointer));
}

std::string DateTimeFileName(const std::tm& local) {
  char name[64];
  std::snprintf(name, sizeof(name), "%04d-%02d-%02d,%02d_%02d_%02d.avi", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return name;
}

std::string AutoOutputFileName(const std::string& folder, const std::tm& local) {
  // An empty folder would make a name relative to wherever the program was started; it stays "/"
  // joined, so the failure (if any) names a place the user can see.
  return JoinPath(folder.empty() ? std::string("/") : folder, DateTimeFileName(local));
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

std::string FrameSizeOption(const TOutputChoice& choice) {
  if (choice.SameArea) {
    std::string size = choice.SelectedSize;
    if (std::size_t comma = size.find(','); comma != std::string::npos) size[comma] = 'x';
    return size;
  }
  return choice.FrameWidth + "x" + choice.FrameHeight;
}

TOutputOptions RecorderOutputOptions(const TOutputChoice& choice) {
  TOutputOptions options;
  options.Reset();
  options.VideoCodec = "msmpeg4v2";
  options.AudioCodec = "adpcm_ms";
  options.VideoBitrate = NumberBeforeUnit(choice.VideoBitrate, 5, kDefaultVideoBitrateKbps) * 1000;
  options.AudioBitrate = NumberBeforeUnit(choice.AudioBitrate, 5, kDefaultAudioBitrateKbps) * 1000;
  options.AudioSampleRate = NumberBeforeUnit(choice.AudioSampleRate, 3, kDefaultSampleRate);
  options.FrameSize = FrameSizeOption(choice);
  return options;
}

}  // namespace qv
