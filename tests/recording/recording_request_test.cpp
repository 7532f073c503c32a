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
  text << "format=" << o.FileFormat << " video=" << o.VideoCodec << "@" << o.VideoBitrate << " gop=" << o.GopSize
       << " size=" << o.FrameSize << " vf=" << o.VideoFilters << " audio=" << o.AudioCodec << "@" << o.AudioBitrate
       << "/" << o.AudioSampleRate
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
  TOutputChoice mkvHigh30;
  mkvHigh30.Format = TOutputFormat::Mkv;
  mkvHigh30.Quality = TVideoQuality::High;
  mkvHigh30.FrameRate = 30;
  const TOutputChoice mp4Padded{"360 Kbps", "44100 Hz", false, "1280", "720", TOutputFormat::Mp4,
                                TVideoQuality::Medium, 25, true};
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
       "r=44100;c=2;f=16;bufsize=17640;pause_pointer=7",
       "format=avi video=msmpeg4v2@360000 gop=250 size=1920x1080 vf= audio=adpcm_ms@356983/44100 noaudio=0"},
      {"the monitor on the right, by name",
       {TCaptureMode::FullScreen, "1920,0", "1920,1080", 0, false, false, defaults, "/v/e.avi"},
       {"--monitor", "RIGHT", "--no-audio", "/v/e.avi"},
       {twoMonitors},
       "offset=1920,0;framesize=1920,1080;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7",
       "",
       "format=avi video=msmpeg4v2@360000 gop=250 size=1920x1080 vf= audio=adpcm_ms@356983/44100 noaudio=1"},
      {"a region without sound at a size and rates of its own",
       {TCaptureMode::Region, "200,150", "320,240", 0, false, false, small, "/v/b.avi"},
       {"--region", "200,150,320,240", "--no-audio", "--size", "160x120", "--vb", "48", "--ab", "16", "--ar", "22050",
        "/v/b.avi"},
       {{1920, 1080}},
       "offset=200,150;framesize=320,240;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7",
       "",
       "format=avi video=msmpeg4v2@48000 gop=250 size=160x120 vf= audio=adpcm_ms@178491/22050 noaudio=1"},
      {"a window at its own size",
       {TCaptureMode::Window, "10,20", "400,300", 0x3a00007, true, false, defaults, "/v/c.avi"},
       {"--window", "0x3a00007", "/v/c.avi"},
       {{1920, 1080}, 0x3a00007, 400, 300},
       "hwnd=60817415;client=1;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7",
       "r=44100;c=2;f=16;bufsize=17640;pause_pointer=7",
       "format=avi video=msmpeg4v2@360000 gop=250 size=400x300 vf= audio=adpcm_ms@356983/44100 noaudio=0"},
      // X window ids are unsigned 32-bit; the top one must not come out negative.
      {"the highest window id",
       {TCaptureMode::Window, "0,0", "64,48", 0xFFFFFFFFu, false, true, defaults, "/v/d.avi"},
       {"--window", "4294967295", "--no-audio", "--blink", "/v/d.avi"},
       {{1920, 1080}, 0xFFFFFFFFu, 64, 48},
       "hwnd=4294967295;client=1;framerate=25/1;showframe=1;cursor=1;skipunchanged=1;session=7",
       "",
       "format=avi video=msmpeg4v2@360000 gop=250 size=64x48 vf= audio=adpcm_ms@356983/44100 noaudio=1"},
      {"every frame coded",
       {TCaptureMode::FullScreen, "0,0", "640,480", 0, false, false, defaults, "/v/e.avi", true},
       {"--every-frame", "--no-audio", "/v/e.avi"},
       {{640, 480}},
       "offset=0,0;framesize=640,480;framerate=25/1;showframe=0;cursor=1;skipunchanged=0;session=7",
       "",
       "format=avi video=msmpeg4v2@360000 gop=250 size=640x480 vf= audio=adpcm_ms@356983/44100 noaudio=1"},
      {"what the desktop plays",
       {TCaptureMode::FullScreen, "0,0", "640,480", 0, true, false, defaults, "/v/f.avi", false, false, "desktop"},
       {"--audio-source", "desktop", "/v/f.avi"},
       {{640, 480}},
       "offset=0,0;framesize=640,480;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7",
       "r=44100;c=2;f=16;bufsize=17640;pause_pointer=7;source=desktop",
       "format=avi video=msmpeg4v2@360000 gop=250 size=640x480 vf= audio=adpcm_ms@356983/44100 noaudio=0"},
      {"ALSA's default input chosen by name",
       {TCaptureMode::FullScreen, "0,0", "640,480", 0, true, false, defaults, "/v/g.avi", false, false, "default"},
       {"/v/g.avi"},
       {{640, 480}},
       "offset=0,0;framesize=640,480;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7",
       "r=44100;c=2;f=16;bufsize=17640;pause_pointer=7",
       "format=avi video=msmpeg4v2@360000 gop=250 size=640x480 vf= audio=adpcm_ms@356983/44100 noaudio=0"},
      {"clicks shown",
       {TCaptureMode::Region, "0,0", "640,480", 0, false, false, defaults, "/v/f.avi", false, true},
       {"--region", "0,0,640,480", "--show-clicks", "--no-audio", "/v/f.avi"},
       {{1920, 1080}},
       "offset=0,0;framesize=640,480;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7;showclicks=1",
       "",
       "format=avi video=msmpeg4v2@360000 gop=250 size=640x480 vf= audio=adpcm_ms@356983/44100 noaudio=1"},
      {"keys shown, typed text too, at the top right, and the pointer spotlighted",
       {TCaptureMode::Region, "0,0", "640,480", 0, false, false, defaults, "/v/k.avi", false, false, "", 100, false, "", 100, false, {},
        TKeysChoice{TKeysMode::Everything, TKeysCorner::TopRight, ""}, true},
       {"--region", "0,0,640,480", "--show-keys=all", "--keys-corner", "top-right", "--spotlight", "--no-audio",
        "/v/k.avi"},
       {{1920, 1080}},
       "offset=0,0;framesize=640,480;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7;spotlight=1;"
       "showkeys=2;keyscorner=3",
       "",
       "format=avi video=msmpeg4v2@360000 gop=250 size=640x480 vf= audio=adpcm_ms@356983/44100 noaudio=1"},
      {"an MKV at 30 fps and high quality, chosen by the file name",
       {TCaptureMode::FullScreen, "0,0", "1280,1024", 0, true, false, mkvHigh30, "/v/f.mkv"},
       {"--fps", "30", "--quality", "high", "/v/f.mkv"},
       {{1280, 1024}},
       "offset=0,0;framesize=1280,1024;framerate=30/1;showframe=0;cursor=1;skipunchanged=1;session=7",
       "r=44100;c=2;f=16;bufsize=17640;pause_pointer=7",
       "format=matroska video=libx264@-1 gop=300 size=1280x1024 vf= audio=libopus@96000/48000 noaudio=0"},
      {"an MP4 padded to 16:9",
       {TCaptureMode::FullScreen, "0,0", "1280,1024", 0, true, false, mp4Padded, "/v/g.mp4"},
       {"--format", "mp4", "--size", "1280x720", "--keep-proportions", "/v/g.mp4"},
       {{1280, 1024}},
       "offset=0,0;framesize=1280,1024;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7",
       "r=44100;c=2;f=16;bufsize=17640;pause_pointer=7",
       "format=mp4 video=libx264@-1 gop=250 size= vf=scale=w=1280:h=720:force_original_aspect_ratio=decrease:"
       "force_divisible_by=2,pad=1280:720:(ow-iw)/2:(oh-ih)/2 audio=aac@128000/44100 noaudio=0"},
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
    EXPECT_NE(OutputText(tray.Output).find(" ext=sws_flags=area+full_chroma_inp\n"), std::string::npos);
    EXPECT_EQ(trayRequest.FileName, c.Rec.back());
  }
}

// Each format's own way of surviving a kill, H.264's quality as its constant rate factor, and the
// scaler's filter for a picture made larger.
TEST(RecordingRequest, EachFormatWritesItsOwnWay) {
  struct {
    TOutputFormat Format;
    TVideoQuality Quality;
    const char *Has, *HasNot;
    bool EveryFrame = false;
  } cases[] = {
      {TOutputFormat::Avi, TVideoQuality::High, "crash_safe=1\nqmin=1\n", "crf="},
      {TOutputFormat::Mkv, TVideoQuality::High, "cluster_time_limit=1000\nflush_packets=1\n", "crash_safe"},
      {TOutputFormat::Mkv, TVideoQuality::Low, "tune=zerolatency\ncrf=28\npix_fmt=yuv420p", "crash_safe"},
      {TOutputFormat::Mp4, TVideoQuality::Medium, "movflags=frag_keyframe+empty_moov+default_base_moof", "crash_safe"},
      {TOutputFormat::Mp4, TVideoQuality::Medium, "crf=23", "qmin"},
      {TOutputFormat::Mkv, TVideoQuality::Medium, "\nvsync=1\n", "crash_safe", true},
      {TOutputFormat::Mkv, TVideoQuality::Medium, "crf=23", "vsync", false},
      // 4:2:0 H.264 keeps an odd area whole in an even frame; the AVI's codec takes odd sizes.
      {TOutputFormat::Mp4, TVideoQuality::Medium, "\nedge_pad=1\n", "crash_safe"},
      {TOutputFormat::Avi, TVideoQuality::Medium, "qmin=1", "edge_pad"},
      // H.264's preset follows the load; the AVI's encoder has no presets and keeps its speed.
      {TOutputFormat::Mkv, TVideoQuality::Medium, "\nfollow_load=1\n", "crash_safe"},
      {TOutputFormat::Avi, TVideoQuality::Medium, "qmin=1", "follow_load"},
  };
  for (const auto& c : cases) {
    TRecordingRequest request;
    request.Format = c.Format;
    request.Quality = c.Quality;
    request.EveryFrame = c.EveryFrame;
    const std::string ext = PlanRecording(request, kSession).Output.ExtOptions;
    EXPECT_NE(ext.find(c.Has), std::string::npos) << ext;
    EXPECT_EQ(ext.find(c.HasNot), std::string::npos) << ext;
  }
  // A picture made larger is filtered rather than averaged.
  TRecordingRequest enlarged;
  enlarged.Area = {TAreaKind::Region, 0, 0, 320, 240, 0};
  enlarged.OutWidth = 640;
  enlarged.OutHeight = 480;
  const std::string ext = PlanRecording(enlarged, kSession).Output.ExtOptions;
  EXPECT_EQ(ext.rfind("sws_flags=bicubic+full_chroma_inp\n", 0), 0u) << ext;
  // Bars around an odd chosen size in H.264 are widened to an even frame.
  enlarged.Format = TOutputFormat::Mkv;
  enlarged.OutWidth = 641;
  enlarged.OutHeight = 361;
  enlarged.KeepProportions = true;
  const std::string filters = PlanRecording(enlarged, kSession).Output.VideoFilters;
  EXPECT_NE(filters.find(",pad=642:362:"), std::string::npos) << filters;
}

// A name without an extension gets the format's; a known extension chooses the format; any other
// is refused, by either front end.
TEST(RecordingRequest, TheFileNameAndTheFormatAgree) {
  struct {
    const char* Typed;
    TOutputFormat Chosen;
    const char* Name;
    TOutputFormat Format;
  } cases[] = {
      {"/v/a", TOutputFormat::Mkv, "/v/a.mkv", TOutputFormat::Mkv},
      {"/v.d/a.", TOutputFormat::Avi, "/v.d/a.avi", TOutputFormat::Avi},
      {"/v/a.MP4", TOutputFormat::Avi, "/v/a.MP4", TOutputFormat::Mp4},
      {"/v/.hidden", TOutputFormat::Mp4, "/v/.hidden.mp4", TOutputFormat::Mp4},
  };
  for (const auto& c : cases) {
    std::string name = c.Typed;
    TOutputFormat format = c.Chosen;
    EXPECT_EQ(MatchFormatToFileName(name, format), "");
    EXPECT_EQ(name, c.Name);
    EXPECT_EQ(format, c.Format) << c.Typed;
  }
  std::string name = "/v/a.mov";
  TOutputFormat format = TOutputFormat::Avi;
  EXPECT_EQ(MatchFormatToFileName(name, format),
            "the file name's extension \".mov\" names no format this program writes (.avi, .mkv, .mp4)");
  TRecCommand cmd;
  ASSERT_EQ(ParseRecArgs({"--format", "mkv", "/v/a.mov"}, cmd), "");
  TRecSetup setup;
  EXPECT_NE(SetUpRecording(cmd, TScreenFacts{{640, 480}}, setup).find("names no format"), std::string::npos);
}

// On a Wayland session the screen comes through the PipeWire device: the whole screen at the
// stream's own size, a region cut out of a node given on the command line, or a window the desktop's
// dialog picks.
TEST(RecordingRequest, PipeWireBackend) {
  TScreenFacts wayland;
  wayland.Backend = TCaptureBackend::PipeWire;
  const TRecordingPlan whole = RecPlan({"--fullscreen", "/v/w.avi"}, wayland);
  EXPECT_EQ(whole.ScreenDevice, "pipewirecapture");
  EXPECT_EQ(whole.ScreenOptions,
            "offset=0,0;framesize=0,0;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7");
  EXPECT_EQ(whole.Output.FrameSize, "");
  const TRecordingPlan node = RecPlan({"--node", "42", "--region", "10,20,300,200", "/v/n.avi"}, wayland);
  EXPECT_EQ(node.ScreenOptions,
            "offset=10,20;framesize=300,200;node=42;framerate=25/1;showframe=0;cursor=1;skipunchanged=1;session=7");
  EXPECT_EQ(node.Output.FrameSize, "300x200");
  EXPECT_EQ(RecPlan({"--window", "pick", "--every-frame", "/v/p.avi"}, wayland).ScreenOptions,
            "portalwindow=1;framerate=25/1;showframe=0;cursor=1;skipunchanged=0;session=7");
  EXPECT_EQ(RecPlan({"/v/x.avi"}, TScreenFacts{1920, 1080}).ScreenDevice, "screencapture");
}

// A chosen sound input reaches the device; the default one leaves the string as above.
TEST(RecordingRequest, ChosenSoundInput) {
  TRecordingRequest request;
  request.AudioInput = 2;
  EXPECT_EQ(PlanRecording(request, 12).AudioOptions, "r=44100;c=2;f=16;bufsize=17640;pause_pointer=12;i=2");
  // A microphone and the desktop, from the options window and from the command line: one mix.
  TTrayChoice tray;
  tray.AudioSource = "qv_voice.monitor";
  tray.MicrophoneVolume = 80;
  tray.DesktopSource = "desktop";
  tray.DesktopMuted = true;
  const TRecordingPlan fromTray = PlanRecording(TrayRecordingRequest(tray), kSession);
  const TRecordingPlan fromRec = RecPlan({"--audio-source", "qv_voice.monitor", "--audio-source", "desktop",
                                          "--volume", "qv_voice.monitor=80", "/v/x.avi"},
                                         TScreenFacts{1920, 1080});
  const std::string mix = "r=44100;c=2;f=16;bufsize=17640;session=" + std::to_string(kSession) +
                          ";in=80,0,1,Microphone,qv_voice.monitor;in=100,";
  EXPECT_EQ(fromTray.SoundDevice, "wavemix");
  EXPECT_EQ(fromTray.AudioOptions, mix + "1,0,Desktop,desktop");
  EXPECT_EQ(fromRec.SoundDevice, "wavemix");
  EXPECT_EQ(fromRec.AudioOptions, mix + "0,0,Desktop,desktop");
  // The microphone alone at full volume, as an older settings file has it: the one source of before.
  tray.DesktopSource.clear();
  tray.MicrophoneVolume = 100;
  EXPECT_EQ(PlanRecording(TrayRecordingRequest(tray), 12).SoundDevice, "wavecapture");
  EXPECT_EQ(PlanRecording(TrayRecordingRequest(tray), 12).AudioOptions,
            "r=44100;c=2;f=16;bufsize=17640;pause_pointer=12;source=qv_voice.monitor");
}

}  // namespace
}  // namespace qv
