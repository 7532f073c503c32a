#include "recording/capture_backend.h"

#include <cstdlib>

#include "capture/screencast_portal.h"

namespace qv {

TCaptureBackend SessionCaptureBackend() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (wayland && *wayland && ScreenCastPortalPresent()) return TCaptureBackend::PipeWire;
  return TCaptureBackend::X11;
}

bool ParseCaptureBackend(const std::string& text, TCaptureBackend& backend) {
  if (text == "x11") backend = TCaptureBackend::X11;
  else if (text == "pipewire") backend = TCaptureBackend::PipeWire;
  else return false;
  return true;
}

}  // namespace qv
