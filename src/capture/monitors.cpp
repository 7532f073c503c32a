#include "capture/monitors.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <charconv>

namespace qv {

namespace {

// The part of the monitor on the desktop; false when none is.
bool CutToDesktop(TMonitor& m, int width, int height) {
  const int left = std::max(m.X, 0), top = std::max(m.Y, 0);
  const int right = std::min(m.X + m.Width, width), bottom = std::min(m.Y + m.Height, height);
  if (right <= left || bottom <= top) return false;
  m.X = left;
  m.Y = top;
  m.Width = right - left;
  m.Height = bottom - top;
  return true;
}

void AddMonitor(TDesktop& desktop, TMonitor m) {
  if (CutToDesktop(m, desktop.Width, desktop.Height)) desktop.Monitors.push_back(std::move(m));
}

void ReadRandrMonitors(::Display* dpy, ::Window root, TDesktop& desktop) {
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(dpy, &event, &error) || !XRRQueryVersion(dpy, &major, &minor)) return;
  if (major < 1 || (major == 1 && minor < 5)) return;
  int count = 0;
  XRRMonitorInfo* monitors = XRRGetMonitors(dpy, root, True, &count);
  if (!monitors) return;
  for (int i = 0; i < count; ++i) {
    const XRRMonitorInfo& info = monitors[i];
    char* name = info.name ? XGetAtomName(dpy, info.name) : nullptr;
    AddMonitor(desktop, {name ? name : "monitor-" + std::to_string(i), info.x, info.y, info.width, info.height,
                         info.primary != 0});
    if (name) XFree(name);
  }
  XRRFreeMonitors(monitors);
}

void ReadXineramaHeads(::Display* dpy, TDesktop& desktop) {
  int event = 0, error = 0;
  if (!XineramaQueryExtension(dpy, &event, &error) || !XineramaIsActive(dpy)) return;
  int count = 0;
  XineramaScreenInfo* heads = XineramaQueryScreens(dpy, &count);
  if (!heads) return;
  for (int i = 0; i < count; ++i)
    AddMonitor(desktop, {"head-" + std::to_string(i), heads[i].x_org, heads[i].y_org, heads[i].width,
                         heads[i].height, i == 0});
  XFree(heads);
}

const TMonitor* MonitorAt(const TDesktop& desktop, int x, int y) {
  for (const TMonitor& m : desktop.Monitors)
    if (x >= m.X && x < m.X + m.Width && y >= m.Y && y < m.Y + m.Height) return &m;
  return nullptr;
}

const TMonitor* MonitorNamed(const TDesktop& desktop, const std::string& choice) {
  for (const TMonitor& m : desktop.Monitors)
    if (m.Name == choice) return &m;
  std::size_t index = 0;
  const char* end = choice.data() + choice.size();
  const auto [at, error] = std::from_chars(choice.data(), end, index);
  if (choice.empty() || error != std::errc() || at != end || index >= desktop.Monitors.size()) return nullptr;
  return &desktop.Monitors[index];
}

std::string MonitorList(const TDesktop& desktop) {
  std::string list;
  for (std::size_t i = 0; i < desktop.Monitors.size(); ++i)
    list += (i ? "; " : "") + std::to_string(i) + ": " + DescribeMonitor(desktop.Monitors[i]);
  return list;
}

}  // namespace

const TMonitor* PrimaryMonitor(const TDesktop& desktop) {
  for (const TMonitor& m : desktop.Monitors)
    if (m.Primary) return &m;
  return desktop.Monitors.empty() ? nullptr : &desktop.Monitors.front();
}

TDesktop ReadDesktop(::Display* dpy) {
  TDesktop desktop;
  const int screen = DefaultScreen(dpy);
  const ::Window root = RootWindow(dpy, screen);
  desktop.Width = DisplayWidth(dpy, screen);
  desktop.Height = DisplayHeight(dpy, screen);
  ReadRandrMonitors(dpy, root, desktop);
  if (desktop.Monitors.empty()) ReadXineramaHeads(dpy, desktop);
  if (desktop.Monitors.empty()) desktop.Monitors.push_back({"screen", 0, 0, desktop.Width, desktop.Height, true});
  ::Window rootReturn = 0, child = 0;
  int winX = 0, winY = 0;
  unsigned int mask = 0;
  desktop.PointerKnown = XQueryPointer(dpy, root, &rootReturn, &child, &desktop.PointerX, &desktop.PointerY, &winX,
                                       &winY, &mask) != False;
  return desktop;
}

std::string ChooseScreen(const TDesktop& desktop, const std::string& choice, TMonitor& area) {
  if (choice == kScreenAll) {
    area = {kScreenAll, 0, 0, desktop.Width, desktop.Height, false};
    return "";
  }
  if (choice == kScreenPointer && desktop.Monitors.empty()) {
    area = {"screen", 0, 0, desktop.Width, desktop.Height, true};
    return "";
  }
  const TMonitor* found = nullptr;
  if (choice == kScreenPointer) {
    if (desktop.PointerKnown) found = MonitorAt(desktop, desktop.PointerX, desktop.PointerY);
    if (!found) found = PrimaryMonitor(desktop);
  } else {
    found = MonitorNamed(desktop, choice);
  }
  if (!found) return "no monitor \"" + choice + "\" on this desktop (" + MonitorList(desktop) + ")";
  area = *found;
  return "";
}

std::string DescribeMonitor(const TMonitor& m) {
  return m.Name + " " + std::to_string(m.Width) + "x" + std::to_string(m.Height) + " at " + std::to_string(m.X) +
         "," + std::to_string(m.Y) + (m.Primary ? " (primary)" : "");
}

}  // namespace qv
