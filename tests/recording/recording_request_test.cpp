// The tray program and quorvane-rec ask the recording layer for the same recording alike: the tray's
// settings and pickers and quorvane-rec's command line turn into the same device strings and
// encoder settings.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/recording_options.h"
#include "cli/rec_setup.h"
#include "recording/recording_request.h"

namespace qv {
namespace {

constexpr std::intptr_t kSession = 7;

// Every output setting a recording makes, as one text, so that a difference shows by name.
std::string OutputText(const TOutputOptions& o) {
  std::ostringstream text;
  text << "format=" << o.FileFormat << " video=" << o.VideoCodec << "@" << o.VideoBitrate << " size=" << o.FrameSize
       << " audio=" << o.AudioCodec << "@" << o.AudioBitrate << "/" << o.AudioSampleRate
       << " noaudio=" << o.DisableAudio << " time=" << o.RecordingTime << " ext=" << o.ExtOptions
       << " hooks=" << o.AudioHook << o.VideoInputHook << o.VideoOutputHook;
  return text.str();
}

TRecordingPlan RecPlan(const std::vector<std::string>& args, const TScreenFacts& facts) {
  TRecCommand cmd;
  EXPECT_EQ(ParseRecArgs(args, cmd), "");
  TRecSetup setup;
  EXPECT_EQ(SetUpRecording(cmd, facts, setup), "");
  return PlanRecording(setup.Request, kSession);
}

TEST(RecordingRequest, TrayAndCommandLineRecordAlike) {
  const TOutputChoice defaults;
  const TOutputChoice small{"48 Kbps", "22050 Hz", false, "160", "120"};
  const TDesktop twoMonitors{3840, 1080, {{"LEFT", 0, 0, 1920, 1080, true}, {"RIGHT", 1920, 0, 1920, 1080, false}}};
  struct {
    const char* Name;
    TTrayChoice Tray;
    std::vector<std::string> Rec;
    TScreenFacts Facts;
    const char *Screen, *Audio, *Output;
  } cases[] = {
      {"the whole screen with sound and the frame",
       {TCaptureMode::FullScreen, "0,0", "1920,1080", 0, true, true, defaults, "/v/a.avi"},
       {"--fullscreen", "--blink", "/v/a.avi"},
       {{1920, 1080}},
       "offset=0,0;framesize=1920,1080;framerate=25/1;showframe=1;cursor=1;skipunchanged=1;session=7",
       "r=44100;c=2;f=16;pause_pointer=7",
       "format=avi video=msmpeg4v2@360000 size=1920x1080 audio=adpcm_ms@356983/44100 noaudio=0"},
      {"the monitor on the right, by name",
       {TCaptureMode::FullScreen, "1920,0", "1920,1080", 0, false, false, defaults, "/v/e.avi"},
       {"--monitor", "RIGHT", "--no-audio", "/v/e.avi"},
       {twoMonitors},
       "offset=1920,0;framesize=1920,1080;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7",
       "",
       "format=avi video=msmpeg4v2@360000 size=1920x1080 audio=adpcm_ms@356983/44100 noaudio=1"},
      {"a region without sound at a size and rates of its own",
       {TCaptureMode::Region, "200,150", "320,240", 0, false, false, small, "/v/b.avi"},
       {"--region", "200,150,320,240", "--no-audio", "--size", "160x120", "--vb", "48", "--ab", "16", "--ar", "22050",
        "/v/b.avi"},
       {{1920, 1080}},
       "offset=200,150;framesize=320,240;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7",
       "",
       "format=avi video=msmpeg4v2@48000 size=160x120 audio=adpcm_ms@178491/22050 noaudio=1"},
      {"a window at its own size",
       {TCaptureMode::Window, "10,20", "400,300", 0x3a00007, true, false, defaults, "/v/c.avi"},
       {"--window", "0x3a00007", "/v/c.avi"},
       {{1920, 1080}, 0x3a00007, 400, 300},
       "hwnd=60817415;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7",
       "r=44100;c=2;f=16;pause_pointer=7",
       "format=avi video=msmpeg4v2@360000 size=400x300 audio=adpcm_ms@356983/44100 noaudio=0"},
      // X window ids are unsigned 32-bit; the top one must not come out negative.
      {"the highest window id",
       {TCaptureMode::Window, "0,0", "64,48", 0xFFFFFFFFu, false, true, defaults, "/v/d.avi"},
       {"--window", "4294967295", "--no-audio", "--blink", "/v/d.avi"},
       {{1920, 1080}, 0xFFFFFFFFu, 64, 48},
       "hwnd=4294967295;framerate=25/1;showframe=1;cursor=1;skipunchanged=1;session=7",
       "",
       "format=avi video=msmpeg4v2@360000 size=64x48 audio=adpcm_ms@356983/44100 noaudio=1"},
      {"every frame coded",
       {TCaptureMode::FullScreen, "0,0", "640,480", 0, false, false, defaults, "/v/e.avi", true},
       {"--every-frame", "--no-audio", "/v/e.avi"},
       {{640, 480}},
       "offset=0,0;framesize=640,480;framerate=25/1;showframe=0;cursor=1;skipunchanged=0;session=7",
       "",
       "format=avi video=msmpeg4v2@360000 size=640x480 audio=adpcm_ms@356983/44100 noaudio=1"},
      {"what the desktop plays",
       {TCaptureMode::FullScreen, "0,0", "640,480", 0, true, false, defaults, "/v/f.avi", false, false, "desktop"},
       {"--audio-source", "desktop", "/v/f.avi"},
       {{640, 480}},
       "offset=0,0;framesize=640,480;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7",
       "r=44100;c=2;f=16;pause_pointer=7;source=desktop",
       "format=avi video=msmpeg4v2@360000 size=640x480 audio=adpcm_ms@356983/44100 noaudio=0"},
      {"ALSA's default input chosen by name",
       {TCaptureMode::FullScreen, "0,0", "640,480", 0, true, false, defaults, "/v/g.avi", false, false, "default"},
       {"/v/g.avi"},
       {{640, 480}},
       "offset=0,0;framesize=640,480;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7",
       "r=44100;c=2;f=16;pause_pointer=7",
       "format=avi video=msmpeg4v2@360000 size=640x480 audio=adpcm_ms@356983/44100 noaudio=0"},
      {"clicks shown",
       {TCaptureMode::Region, "0,0", "640,480", 0, false, false, defaults, "/v/f.avi", false, true},
       {"--region", "0,0,640,480", "--show-clicks", "--no-audio", "/v/f.avi"},
       {{1920, 1080}},
       "offset=0,0;framesize=640,480;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7;showclicks=1",
       "",
       "format=avi video=msmpeg4v2@360000 size=640x480 audio=adpcm_ms@356983/44100 noaudio=1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRecordingRequest trayRequest = TrayRecordingRequest(c.Tray);
    const TRecordingPlan tray = PlanRecording(trayRequest, kSession);
    const TRecordingPlan rec = RecPlan(c.Rec, c.Facts);
    EXPECT_EQ(tray.ScreenOptions, c.Screen);
    EXPECT_EQ(rec.ScreenOptions, c.Screen);
    EXPECT_EQ(tray.AudioOptions, c.Audio);
    EXPECT_EQ(rec.AudioOptions, c.Audio);
    EXPECT_EQ(OutputText(tray.Output), OutputText(rec.Output));
    // The scaler flags that halve the conversion's cost, for both.
    EXPECT_EQ(OutputText(tray.Output).rfind(std::string(c.Output) + " time=", 0), 0u) << OutputText(tray.Output);
    EXPECT_NE(OutputText(tray.Output).find(" ext=sws_flags=bicubic+full_chroma_inp\ncrash_safe=1\n"), std::string::npos);
    EXPECT_EQ(trayRequest.FileName, c.Rec.back());
  }
}

// On a Wayland session the screen comes through the PipeWire device: the whole screen at the
// stream's own size, or a region cut out of a node given on the command line.
TEST(RecordingRequest, PipeWireBackend) {
  TScreenFacts wayland;
  wayland.Backend = TCaptureBackend::PipeWire;
  const TRecordingPlan whole = RecPlan({"--fullscreen", "/v/w.avi"}, wayland);
  EXPECT_EQ(whole.ScreenDevice, "pipewirecapture");
  EXPECT_EQ(whole.ScreenOptions, "offset=0,0;framesize=0,0;framerate=25/1;showframe=0;cursor=1;session=7");
  EXPECT_EQ(whole.Output.FrameSize, "");
  const TRecordingPlan node = RecPlan({"--node", "42", "--region", "10,20,300,200", "/v/n.avi"}, wayland);
  EXPECT_EQ(node.ScreenOptions, "offset=10,20;framesize=300,200;node=42;framerate=25/1;showframe=0;cursor=1;session=7");
  EXPECT_EQ(node.Output.FrameSize, "300x200");
  EXPECT_EQ(RecPlan({"/v/x.avi"}, TScreenFacts{1920, 1080}).ScreenDevice, "screencapture");
}

// A chosen sound input reaches the device; the default one leaves the string as above.
TEST(RecordingRequest, ChosenSoundInput) {
  TRecordingRequest request;
  request.AudioInput = 2;
  EXPECT_EQ(PlanRecording(request, 12).AudioOptions, "r=44100;c=2;f=16;pause_pointer=12;i=2");
}

}  // namespace
}  // namespace qv
