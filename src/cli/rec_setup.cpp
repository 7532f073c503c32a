#include "cli/rec_setup.h"

#include <cstdio>
#include <cstdlib>

#include "capture/screen_capture_x11.h"

namespace qv {

namespace {

std::string Format(const char* pattern, auto... values) {
  char buf[512];
  std::snprintf(buf, sizeof(buf), pattern, values...);
  return buf;
}

void CopyEncoding(const TRecCommand& cmd, TRecordingRequest& request) {
  request.Audio = cmd.Audio;
  request.Blink = cmd.Blink;
  request.OutWidth = cmd.OutWidth;
  request.OutHeight = cmd.OutHeight;
  request.VideoKbps = cmd.VideoKbps;
  request.AudioKbps = cmd.AudioKbps;
  request.SampleRate = cmd.SampleRate;
  request.DurationUs = cmd.DurationUs;
  request.FileName = cmd.Output;
}

// The portal's stream has the screen's size, unknown until it runs: the whole screen leaves the
// size to the stream, and a region is cut at the screen's far edges by the device.
std::string SetUpPortalArea(const TRecCommand& cmd, TRecSetup& setup) {
  TRecordingArea& area = setup.Request.Area;
  const std::string source = cmd.Node ? "PipeWire node " + std::to_string(cmd.Node) : "screen portal";
  if (cmd.Area == TRecArea::Region) {
    area = {TAreaKind::Region, cmd.RegionX, cmd.RegionY, cmd.RegionWidth, cmd.RegionHeight, 0};
    setup.Description = Format("the region %dx%d at %d,%d (%s)", cmd.RegionWidth, cmd.RegionHeight, cmd.RegionX,
                               cmd.RegionY, source.c_str());
  } else {
    area = {TAreaKind::FullScreen, 0, 0, 0, 0, 0};
    setup.Description = "the whole screen (" + source + ")";
  }
  CopyEncoding(cmd, setup.Request);
  return "";
}

}  // namespace

std::string ReadScreenFacts(const TRecCommand& cmd, TScreenFacts& facts) {
  facts = TScreenFacts();
  facts.Backend = cmd.BackendGiven ? cmd.Backend : SessionCaptureBackend();
  if (facts.Backend == TCaptureBackend::PipeWire)
    return cmd.Area == TRecArea::Window || cmd.Area == TRecArea::Title
               ? "a single window can be recorded only with the x11 backend"
               : "";
  const char* name = std::getenv("DISPLAY");
  ::Display* dpy = OpenCaptureDisplay();
  if (!dpy)
    return Format("cannot open the display \"%s\" (is an X server running and DISPLAY set?)", name ? name : "");
  const int screen = DefaultScreen(dpy);
  facts.Width = DisplayWidth(dpy, screen);
  facts.Height = DisplayHeight(dpy, screen);

  std::string error;
  ::Window window = 0;
  if (cmd.Area == TRecArea::Window) {
    window = cmd.WindowId;
  } else if (cmd.Area == TRecArea::Title) {
    // The device would quietly fall back to the whole screen; on a command line a typo deserves
    // an error instead.
    window = FindWindowByTitle(dpy, cmd.Title);
    if (!window) error = "no top-level window is titled \"" + cmd.Title + "\"";
  }
  if (window && error.empty()) {
    TCaptureWindow area;
    if (ResolveCaptureWindow(dpy, window, false, area) != 0 || area.Width < 1 || area.Height < 1) {
      error = Format("no window 0x%lx on this display", (unsigned long)window);
    } else {
      facts.Window = std::uint32_t(window);
      facts.WindowWidth = area.Width;
      facts.WindowHeight = area.Height;
    }
  }
  CloseCaptureDisplay(dpy);
  return error;
}

std::string SetUpRecording(const TRecCommand& cmd, const TScreenFacts& facts, TRecSetup& setup) {
  setup = TRecSetup();
  TRecordingArea& area = setup.Request.Area;
  setup.Request.Backend = facts.Backend;
  setup.Request.PipeWireNode = cmd.Node;
  if (facts.Backend == TCaptureBackend::PipeWire) return SetUpPortalArea(cmd, setup);
  switch (cmd.Area) {
    case TRecArea::FullScreen:
      area = {TAreaKind::FullScreen, 0, 0, facts.Width, facts.Height, 0};
      setup.Description = Format("the whole screen (%dx%d)", facts.Width, facts.Height);
      break;
    case TRecArea::Region: {
      if (cmd.RegionX >= facts.Width || cmd.RegionY >= facts.Height)
        return Format("the region starts at %d,%d, outside the %dx%d screen", cmd.RegionX, cmd.RegionY, facts.Width,
                      facts.Height);
      // The device cuts the far edges at the screen; the output takes the size it really records.
      int w = cmd.RegionWidth, h = cmd.RegionHeight;
      if (cmd.RegionX + w > facts.Width) w = facts.Width - cmd.RegionX;
      if (cmd.RegionY + h > facts.Height) h = facts.Height - cmd.RegionY;
      if (w != cmd.RegionWidth || h != cmd.RegionHeight)
        setup.Note = Format("the region %dx%d at %d,%d is cut to %dx%d at the screen's edge", cmd.RegionWidth,
                            cmd.RegionHeight, cmd.RegionX, cmd.RegionY, w, h);
      area = {TAreaKind::Region, cmd.RegionX, cmd.RegionY, w, h, 0};
      setup.Description = Format("the region %dx%d at %d,%d", w, h, cmd.RegionX, cmd.RegionY);
      break;
    }
    case TRecArea::Window:
    case TRecArea::Title:
      if (!facts.Window) return "no window to record";
      area = {TAreaKind::Window, 0, 0, facts.WindowWidth, facts.WindowHeight, facts.Window};
      setup.Description = Format("the window 0x%lx (%dx%d)", (unsigned long)facts.Window, facts.WindowWidth,
                                 facts.WindowHeight);
      break;
  }
  if (area.Width < 1 || area.Height < 1) return "the area to record is empty";
  CopyEncoding(cmd, setup.Request);
  return "";
}

}  // namespace qv
