#include "app/system_facts.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSystemTrayIcon>
#include <dlfcn.h>
#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "media/ff_api.h"
#include "recording/recording_request.h"

// Last: Xlib's macros must not meet the Qt headers.
#include <X11/Xlib.h>

namespace qv {

namespace {

std::string OsRelease() {
  std::ifstream in("/etc/os-release");
  std::string line;
  const std::string key = "PRETTY_NAME=";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')) value = value.substr(1, value.size() - 2);
    return value;
  }
  return "unknown distribution";
}

std::string System() {
  utsname name{};
  if (uname(&name) != 0) return "system: " + OsRelease();
  return std::string("system: ") + name.sysname + " " + name.release + " " + name.machine + ", " + OsRelease();
}

// A library's version as it reports itself, and the file it was loaded from: the LibAV folder's
// copy and the system's can differ from the headers the program was built with.
template <class F>
std::string Library(const char* name, F* version) {
  if (!version) return std::string(name) + " not loaded";
  const unsigned v = version();
  char text[64];
  std::snprintf(text, sizeof text, "%s %u.%u.%u", name, AV_VERSION_MAJOR(v), AV_VERSION_MINOR(v), AV_VERSION_MICRO(v));
  Dl_info where{};
  if (dladdr(reinterpret_cast<void*>(version), &where) && where.dli_fname)
    return std::string(text) + " (" + where.dli_fname + ")";
  return text;
}

std::vector<std::string> MediaLibraries() {
  std::vector<std::string> lines;
  lines.push_back(std::string("FFmpeg: ") + (ff::av_version_info ? ff::av_version_info() : "not loaded"));
  for (const std::string& line :
       {Library("libavutil", ff::avutil_version), Library("libavcodec", ff::avcodec_version),
        Library("libavformat", ff::avformat_version), Library("libavfilter", ff::avfilter_version),
        Library("libswscale", ff::swscale_version), Library("libswresample", ff::swresample_version)})
    lines.push_back("  " + line);
  return lines;
}

std::string XServer() {
  auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* display = x11 ? x11->display() : nullptr;
  if (!display) {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return wayland && *wayland ? std::string("X server: none; Wayland session \"") + wayland + "\""
                               : std::string("X server: unknown");
  }
  const int screen = DefaultScreen(display);
  return std::string("X server: ") + XServerVendor(display) + ", release " + std::to_string(XVendorRelease(display)) +
         ", display " + DisplayString(display) + ", screen " + std::to_string(DisplayWidth(display, screen)) + "x" +
         std::to_string(DisplayHeight(display, screen)) + " at depth " + std::to_string(DefaultDepth(display, screen));
}

// The monitors as the toolkit finds them through RandR, in device pixels.
std::vector<std::string> Monitors() {
  std::vector<std::string> lines;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect at = screen->geometry();
    const qreal scale = screen->devicePixelRatio();
    char text[160];
    std::snprintf(text, sizeof text, "monitor %s: %dx%d at %d,%d, scale %.2f%s", screen->name().toUtf8().constData(),
                  int(at.width() * scale), int(at.height() * scale), int(at.x() * scale), int(at.y() * scale), scale,
                  screen == QGuiApplication::primaryScreen() ? " (primary)" : "");
    lines.push_back(text);
  }
  if (lines.empty()) lines.push_back("monitors: none found");
  return lines;
}

std::string SoundInput(const TRecordingRequest& request) {
  if (!request.Audio) return "sound input: none (\"Record Audio\" is off)";
  if (request.SoundMix.size() > 1) {
    std::string text = "sound input: mixed";
    for (const auto& input : request.SoundMix)
      text += " " + input.Label + " \"" + input.Source + "\" at " + std::to_string(input.Volume) + "%" +
              (input.Muted ? " (muted)" : "");
    return text;
  }
  if (!request.AudioSource.empty()) return "sound input: the sound source \"" + request.AudioSource + "\"";
  if (request.AudioInput < 0) return "sound input: ALSA's default capture device";
  return "sound input: ALSA capture device #" + std::to_string(request.AudioInput);
}

}  // namespace

std::vector<std::string> SystemFacts(const TRecordingRequest& request) {
  std::vector<std::string> lines = {std::string("Quorvane ") + QV_VERSION, System(),
                                    std::string("Qt: ") + qVersion()};
  for (const std::string& line : MediaLibraries()) lines.push_back(line);
  lines.push_back(XServer());
  for (const std::string& line : Monitors()) lines.push_back(line);
  lines.push_back(std::string("tray host: ") +
                  (QSystemTrayIcon::isSystemTrayAvailable() ? "present" : "none (the control window is shown)"));
  lines.push_back(SoundInput(request));
  return lines;
}

}  // namespace qv
