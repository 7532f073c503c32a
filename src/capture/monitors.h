// The monitors that make up the desktop, and which part of the desktop a full-screen recording
// covers. Everything is in desktop pixels: the root window's, the ones the screen device grabs.
#pragma once

#include <string>
#include <vector>

struct _XDisplay;

namespace qv {

struct TMonitor {
  std::string Name;
  int X = 0, Y = 0, Width = 0, Height = 0;
  bool Primary = false;
};

struct TDesktop {
  int Width = 0, Height = 0;  // the root window, which every monitor shows part of
  // As the server lists them; never empty once read (the whole desktop stands in for none).
  std::vector<TMonitor> Monitors;
  bool PointerKnown = false;
  int PointerX = 0, PointerY = 0;
};

// The full-screen choices besides a monitor's name or number.
inline constexpr char kScreenPointer[] = "pointer";  // the monitor holding the pointer (the default)
inline constexpr char kScreenAll[] = "all";          // the whole desktop

// RandR 1.5 monitors; without them Xinerama's heads ("head-0", ...); without those the whole screen
// as one monitor ("screen"). Monitors are cut to the desktop; the pointer is where it is now.
TDesktop ReadDesktop(_XDisplay* dpy);

// The primary monitor (the first when none is marked); nullptr when none is known.
const TMonitor* PrimaryMonitor(const TDesktop& desktop);

// The rectangle a full-screen recording covers for `choice`: kScreenPointer (the monitor holding the
// pointer, the primary one when it is on none), kScreenAll, a monitor's name or its place in the list
// counted from 0 (as `xrandr --listmonitors` numbers them). "" or an error that lists the monitors.
std::string ChooseScreen(const TDesktop& desktop, const std::string& choice, TMonitor& area);

// "LEFT 1920x1080 at 0,0" and the like.
std::string DescribeMonitor(const TMonitor& monitor);

}  // namespace qv
