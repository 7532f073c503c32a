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

}  // namespace

std::string ReadScreenFacts(const TRecCommand& cmd, TScreenFacts& facts) {
  facts = TScreenFacts();
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

std::string PlanRecording(const TRecCommand& cmd, const TScreenFacts& facts, std::intptr_t pauseFlag,
                          TRecPlan& plan) {
  plan = TRecPlan();
  const int showFrame = cmd.Blink ? 1 : 0;
  switch (cmd.Area) {
    case TRecArea::FullScreen:
      plan.AreaWidth = facts.Width;
      plan.AreaHeight = facts.Height;
      plan.ScreenOptions = Format("offset=0,0;framesize=%d,%d;framerate=25/1;showframe=%d;cursor=1", facts.Width,
                                  facts.Height, showFrame);
      plan.Description = Format("the whole screen (%dx%d)", facts.Width, facts.Height);
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
        plan.Note = Format("the region %dx%d at %d,%d is cut to %dx%d at the screen's edge", cmd.RegionWidth,
                           cmd.RegionHeight, cmd.RegionX, cmd.RegionY, w, h);
      plan.AreaWidth = w;
      plan.AreaHeight = h;
      plan.ScreenOptions = Format("offset=%d,%d;framesize=%d,%d;framerate=25/1;showframe=%d;cursor=1", cmd.RegionX,
                                  cmd.RegionY, w, h, showFrame);
      plan.Description = Format("the region %dx%d at %d,%d", w, h, cmd.RegionX, cmd.RegionY);
      break;
    }
    case TRecArea::Window:
    case TRecArea::Title:
      if (!facts.Window) return "no window to record";
      plan.AreaWidth = facts.WindowWidth;
      plan.AreaHeight = facts.WindowHeight;
      plan.ScreenOptions =
          Format("hwnd=%lu;framerate=25/1;showframe=%d;cursor=1", (unsigned long)facts.Window, showFrame);
      plan.Description = Format("the window 0x%lx (%dx%d)", (unsigned long)facts.Window, facts.WindowWidth,
                                facts.WindowHeight);
      break;
  }
  if (plan.AreaWidth < 1 || plan.AreaHeight < 1) return "the area to record is empty";
  const int outW = cmd.OutWidth > 0 ? cmd.OutWidth : plan.AreaWidth;
  const int outH = cmd.OutHeight > 0 ? cmd.OutHeight : plan.AreaHeight;
  plan.FrameSize = Format("%dx%d", outW, outH);
  if (cmd.Audio)
    plan.AudioOptions = Format("r=%s;c=%d;f=16;pause_pointer=%lld", "44100", 2, (long long)pauseFlag);
  return "";
}

TOutputOptions RecOutputOptions(const TRecCommand& cmd, const TRecPlan& plan) {
  TOutputOptions out;
  out.Reset();
  // Whatever the file is called, it is an AVI: the codecs are the AVI ones.
  out.FileFormat = "avi";
  out.VideoCodec = "msmpeg4v2";
  out.VideoBitrate = cmd.VideoKbps * 1000;
  out.FrameSize = plan.FrameSize;
  if (cmd.Audio) {
    out.AudioCodec = "adpcm_ms";
    out.AudioBitrate = cmd.AudioKbps * 1000;
    out.AudioSampleRate = cmd.SampleRate;
  } else {
    out.DisableAudio = true;
  }
  if (cmd.DurationUs > 0) out.RecordingTime = cmd.DurationUs;
  // The screen's BGRA becomes YUV 4:2:0 in the scaler, most often at the same size. Left to itself
  // the scaler halves the chroma horizontally on input through a slow generic path; taking full
  // chroma in and filtering it like the rest is both sharper and about twice as fast here, which is a
  // third of the recorder's processor time at 1080p.
  out.ExtOptions = "sws_flags=bicubic+full_chroma_inp";
  return out;
}

}  // namespace qv
