#include "selection/window_probe.h"

#include <chrono>

#include "capture/screen_capture_x11.h"

namespace qv {

TWindowProbe::TWindowProbe(TCallback onFound) : OnFound(std::move(onFound)) {
  // The capture devices' connections: thread-safe, and a window that vanishes between two queries
  // is an ordinary event while the user moves over a changing desktop, never fatal.
  Dpy = OpenCaptureDisplay();
  if (Dpy) Thread = std::thread([this] { Run(); });
}

TWindowProbe::~TWindowProbe() {
  {
    std::lock_guard<std::mutex> lock(Lock);
    Stopping = true;
  }
  Wake.notify_all();
  if (Thread.joinable()) Thread.join();
  CloseCaptureDisplay(Dpy);
}

void TWindowProbe::Pick(int x, int y) {
  {
    std::lock_guard<std::mutex> lock(Lock);
    HavePick = true;
    PickX = x;
    PickY = y;
  }
  Wake.notify_all();
}

TWindowProbe::TFound TWindowProbe::Lookup(int x, int y) const {
  TFound found;
  const x11::XWindowId window = x11::WindowAtPoint(Dpy, x, y);
  if (window && x11::GetWindowRect(Dpy, window, found.Rect)) found.Window = window;
  return found;
}

void TWindowProbe::Run() {
  TFound last;
  bool following = true;
  for (;;) {
    int pickX = 0, pickY = 0;
    bool pick = false;
    {
      std::unique_lock<std::mutex> lock(Lock);
      Wake.wait_for(lock, std::chrono::milliseconds(kPollMs), [this] { return Stopping || HavePick; });
      if (Stopping) return;
      pick = HavePick;
      HavePick = false;
      pickX = PickX;
      pickY = PickY;
    }
    if (pick) {
      following = false;
      TFound found = Lookup(pickX, pickY);
      found.Picked = true;
      OnFound(found);
      continue;
    }
    int x = 0, y = 0;
    if (!following || !x11::PointerPosition(Dpy, x, y)) continue;
    const TFound found = Lookup(x, y);
    if (found.Window == last.Window && found.Rect == last.Rect) continue;
    last = found;
    OnFound(found);
  }
}

}  // namespace qv
