// Which screen device a recording uses: the X server's, or the desktop's ScreenCast portal and
// PipeWire on a Wayland session (where the X device would see only XWayland windows).
#pragma once

#include <string>

namespace qv {

enum class TCaptureBackend { X11, PipeWire };

// PipeWire on a Wayland session (WAYLAND_DISPLAY set) whose session bus has the ScreenCast portal;
// X11 otherwise. Asks the bus, so it takes a round trip.
TCaptureBackend SessionCaptureBackend();

// "x11" / "pipewire", as the command line spells them; false for any other text.
bool ParseCaptureBackend(const std::string& text, TCaptureBackend& backend);

}  // namespace qv
