// Finds the window under the pointer, and the window at a given point, on a thread and an X
// connection of its own: the lookup makes many round trips (and a remote or busy server may be slow
// to answer them), so the interface never waits for it. Kept free of Qt.
//
// Threads: the owner's thread constructs, calls Pick and destroys (which stops and joins the
// probe's thread). The probe's thread makes every X call on its own connection and runs the
// callback. `PickPoint`, `HavePick` and `Stopping` are shared, behind `Lock`.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "selection/x11_windows.h"

namespace qv {

class TWindowProbe {
 public:
  struct TFound {
    x11::XWindowId Window = 0;  // 0 when the window went away before its rectangle was read
    x11::TScreenRect Rect;
    bool Picked = false;  // the answer to Pick, not a change under the pointer
  };
  using TCallback = std::function<void(const TFound&)>;

  // Starts following the pointer: `onFound` runs on the probe's thread whenever the window under
  // the pointer, or its rectangle, changes, and once for each Pick.
  explicit TWindowProbe(TCallback onFound);
  ~TWindowProbe();
  TWindowProbe(const TWindowProbe&) = delete;
  TWindowProbe& operator=(const TWindowProbe&) = delete;

  // False when no connection to the display could be opened; the callback then never runs.
  bool Connected() const { return Dpy != nullptr; }
  // Stops following the pointer and reports the window at (x, y), desktop pixels.
  void Pick(int x, int y);

 private:
  void Run();
  TFound Lookup(int x, int y) const;

  static constexpr int kPollMs = 30;

  TCallback OnFound;
  _XDisplay* Dpy = nullptr;
  std::mutex Lock;
  std::condition_variable Wake;
  bool Stopping = false;
  bool HavePick = false;
  int PickX = 0, PickY = 0;
  std::thread Thread;
};

}  // namespace qv
