#include "cli/rec_setup.h"

#include <cstdio>
#include <cstdlib>

#include "capture/screen_capture_x11.h"
#include "capture/sound_sources.h"
#include "recording/bitrate_watch.h"

namespace qv {

namespace {

std::string Format(const char* pattern, auto... values) {
  char buf[512];
  std::snprintf(buf, sizeof(buf), pattern, values...);
  return buf;
}

std::string NoDisplayError() {
  const char* name = std::getenv("DISPLAY");
  return Format("cannot open the display \"%s\" (is an X server running and DISPLAY set?)", name ? name : "");
}

void AddNote(TRecSetup& setup, const std::string& note) {
  setup.Note += (setup.Note.empty() ? "" : "; ") + note;
}

// The output's extension has the last word on the format; the notes say what was set aside.
std::string SettleFormat(const TRecCommand& cmd, TRecSetup& setup) {
  TRecordingRequest& request = setup.Request;
  request.FileName = cmd.Output;
  request.Format = cmd.Format;
  if (std::string error = MatchFormatToFileName(request.FileName, request.Format); !error.empty()) return error;
  if (cmd.FormatGiven && request.Format != cmd.Format)
    AddNote(setup, "the file name's extension chooses " + FormatName(request.Format) + " over --format " +
                       FormatName(cmd.Format));
  return "";
}

// "desktop" is "Desktop", any other source a "Microphone" (numbered from the second on), whose
// silence is watched: a sink's monitor may stand for either, so its name decides nothing.
std::vector<TWaveMixInputOptions> MixOf(const TRecCommand& cmd) {
  if (cmd.AudioSources.size() < 2 && cmd.Volumes.empty()) return {};
  std::vector<TWaveMixInputOptions> mix;
  int desktops = 0, microphones = 0;
  for (const std::string& name : cmd.AudioSources) {
    TWaveMixInputOptions input;
    input.Source = name;
    const bool desktop = name == kDesktopSoundSource;
    const int n = desktop ? ++desktops : ++microphones;
    input.Label = std::string(desktop ? "Desktop" : "Microphone") + (n > 1 ? " " + std::to_string(n) : "");
    input.WatchSilence = !desktop;
    for (const auto& [source, percent] : cmd.Volumes)
      if (source == name) input.Volume = percent;
    mix.push_back(input);
  }
  return mix;
}

void NoteUnusedRates(const TRecCommand& cmd, TRecSetup& setup) {
  const TOutputFormat format = setup.Request.Format;
  if (cmd.AudioKbps > 0 && cmd.Audio)
    AddNote(setup, Format("--ab is not used: %s at %d Hz takes ", FactsOf(format).SoundTitle,
                          SoundSampleRate(format, cmd.SampleRate)) +
                       BitRateText(SoundBitsPerSecond(format, cmd.SampleRate)));
  if (cmd.VideoKbpsGiven && UsesH264(format)) AddNote(setup, "--vb is not used: H.264 takes a quality (--quality)");
  if (cmd.QualityGiven && !UsesH264(format)) AddNote(setup, "--quality is not used: the AVI takes a bit rate (--vb)");
}

std::string CopyEncoding(const TRecCommand& cmd, TRecSetup& setup) {
  TRecordingRequest& request = setup.Request;
  request.Audio = cmd.Audio;
  request.AudioSource = cmd.AudioSource;
  request.SoundMix = MixOf(cmd);
  request.Blink = cmd.Blink;
  request.EveryFrame = cmd.EveryFrame;
  request.ShowClicks = cmd.ShowClicks;
  request.ShowKeys = cmd.ShowKeys;
  request.Spotlight = cmd.Spotlight;
  request.FrameRate = cmd.FrameRate;
  request.OutWidth = cmd.OutWidth;
  request.OutHeight = cmd.OutHeight;
  request.KeepProportions = cmd.KeepProportions;
  request.VideoKbps = cmd.VideoKbps;
  request.Quality = cmd.Quality;
  request.SampleRate = cmd.SampleRate;
  request.DurationUs = cmd.DurationUs;
  if (std::string error = SettleFormat(cmd, setup); !error.empty()) return error;
  NoteUnusedRates(cmd, setup);
  return "";
}

// The portal's stream has the screen's size, unknown until it runs: the whole screen leaves the
// size to the stream, and a region is cut at the screen's far edges by the device.
std::string SetUpPortalArea(const TRecCommand& cmd, TRecSetup& setup) {
  TRecordingArea& area = setup.Request.Area;
  const std::string source = cmd.Node ? "PipeWire node " + std::to_string(cmd.Node) : "screen portal";
  if (cmd.Area == TRecArea::Window) {
    area = {TAreaKind::Window, 0, 0, 0, 0, 0};
    setup.Description = "the window picked in the desktop's dialog (" + source + ")";
  } else if (cmd.Area == TRecArea::Region) {
    area = {TAreaKind::Region, cmd.RegionX, cmd.RegionY, cmd.RegionWidth, cmd.RegionHeight, 0};
    setup.Description = Format("the region %dx%d at %d,%d (%s)", cmd.RegionWidth, cmd.RegionHeight, cmd.RegionX,
                               cmd.RegionY, source.c_str());
  } else {
    area = {TAreaKind::FullScreen, 0, 0, 0, 0, 0};
    setup.Description = "the whole screen (" + source + ")";
  }
  // Clicks are read from the X server, which a Wayland desktop does not let other programs watch.
  if (cmd.ShowClicks) AddNote(setup, "--show-clicks is not used: clicks can be shown on an X11 desktop only");
  if (cmd.Spotlight) AddNote(setup, "--spotlight is not used: the pointer can be followed on an X11 desktop only");
  if (cmd.ShowKeys)
    AddNote(setup, "--show-keys is not used: a Wayland desktop lets no program read the keys pressed in others");
  return CopyEncoding(cmd, setup);
}

}  // namespace

std::string ReadScreenFacts(const TRecCommand& cmd, TScreenFacts& facts) {
  facts = TScreenFacts();
  facts.Backend = cmd.BackendGiven ? cmd.Backend : SessionCaptureBackend();
  const bool picked = cmd.Area == TRecArea::Window && cmd.WindowId == 0;
  if (facts.Backend == TCaptureBackend::PipeWire)
    return (cmd.Area == TRecArea::Window && !picked) || cmd.Area == TRecArea::Title
               ? "on Wayland a window is picked in the desktop's dialog: give --window pick"
               : "";
  if (picked) return "--window pick is for a Wayland desktop; on X11 give the window's id (xdotool selectwindow)";
  ::Display* dpy = OpenCaptureDisplay();
  if (!dpy) return NoDisplayError();
  facts.Desktop = ReadDesktop(dpy);

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
    // The window's own area, where it is on the screen; a frame named (xwininfo -frame) stands
    // for the client inside it.
    if (ResolveCaptureWindow(dpy, window, true, area) != 0 || area.Width < 1 || area.Height < 1) {
      error = Format("no window 0x%lx on this display", (unsigned long)window);
    } else {
      facts.Window = std::uint32_t(area.Win);
      facts.WindowWidth = area.Width;
      facts.WindowHeight = area.Height;
    }
  }
  CloseCaptureDisplay(dpy);
  return error;
}

int PrintMonitors() {
  ::Display* dpy = OpenCaptureDisplay();
  if (!dpy) {
    std::fprintf(stderr, "quorvane-rec: %s\n", NoDisplayError().c_str());
    return 1;
  }
  const TDesktop desktop = ReadDesktop(dpy);
  CloseCaptureDisplay(dpy);
  std::printf("Monitors (give the name or the number to --monitor):\n");
  std::printf("  %-7s  the monitor holding the pointer (the default)\n", kScreenPointer);
  std::printf("  %-7s  the whole desktop, %dx%d\n", kScreenAll, desktop.Width, desktop.Height);
  for (std::size_t i = 0; i < desktop.Monitors.size(); ++i)
    std::printf("  %-7zu  %s\n", i, DescribeMonitor(desktop.Monitors[i]).c_str());
  return 0;
}

std::string SetUpRecording(const TRecCommand& cmd, const TScreenFacts& facts, TRecSetup& setup) {
  setup = TRecSetup();
  TRecordingArea& area = setup.Request.Area;
  setup.Request.Backend = facts.Backend;
  setup.Request.PipeWireNode = cmd.Node;
  if (facts.Backend == TCaptureBackend::PipeWire) return SetUpPortalArea(cmd, setup);
  switch (cmd.Area) {
    case TRecArea::FullScreen: {
      TMonitor screen;
      if (std::string error = ChooseScreen(facts.Desktop, cmd.Monitor, screen); !error.empty()) return error;
      area = {TAreaKind::FullScreen, screen.X, screen.Y, screen.Width, screen.Height, 0};
      setup.Description = cmd.Monitor == kScreenAll
                              ? Format("the whole desktop (%dx%d)", screen.Width, screen.Height)
                              : "the monitor " + DescribeMonitor(screen);
      break;
    }
    case TRecArea::Region: {
      const int desktopWidth = facts.Desktop.Width, desktopHeight = facts.Desktop.Height;
      if (cmd.RegionX >= desktopWidth || cmd.RegionY >= desktopHeight)
        return Format("the region starts at %d,%d, outside the %dx%d desktop", cmd.RegionX, cmd.RegionY,
                      desktopWidth, desktopHeight);
      // The device cuts the far edges at the desktop's; the output takes the size it really records.
      int w = cmd.RegionWidth, h = cmd.RegionHeight;
      if (cmd.RegionX + w > desktopWidth) w = desktopWidth - cmd.RegionX;
      if (cmd.RegionY + h > desktopHeight) h = desktopHeight - cmd.RegionY;
      if (w != cmd.RegionWidth || h != cmd.RegionHeight)
        setup.Note = Format("the region %dx%d at %d,%d is cut to %dx%d at the desktop's edge", cmd.RegionWidth,
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
  return CopyEncoding(cmd, setup);
}

}  // namespace qv
