#include "capture/device_options.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qv {
namespace {

struct ScreenCase {
  const char* text;
  bool ok;
  const char* errorPart;  // substring of the error when !ok
  std::string title;      // expected title ("" with hasTitle false: none)
  bool hasTitle;
  std::uint32_t window;
  int offsetX, offsetY;
  int width, height;
  int rateNum, rateDen;
  int showFrame, client, cursor;
  std::intptr_t session = 0;
  std::uint32_t node = 0;
};

TEST(ScreenCaptureOptions, KeysDefaultsAndConversions) {
  const std::vector<ScreenCase> cases = {
      {"offset=10,20;framesize=640,480;framerate=25/1;showframe=1;cursor=1", true, "", "", false, 0, 10, 20, 640, 480, 25,
       1, 1, 0, 1},
      {"framerate=30000/1001", true, "", "", false, 0, 0, 0, 0, 0, 30000, 1001, 0, 0, 0},
      {"framerate=25", false, "''", "", false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"framerate=abc/1", false, "'abc'", "", false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"framesize=640x480", false, "'640x480'", "", false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"offset=10,2O", false, "'2O'", "", false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"offset= 10,20", false, "' 10'", "", false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"offset=99999999999,0", false, "'99999999999'", "", false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"offset=-5,-7", true, "", "", false, 0, -5, -7, 0, 0, 0, 0, 0, 0, 0},
      // Bounded, so that no area arithmetic can overflow.
      {"offset=-2147483648,0;framesize=2147483647,10", false, "Invalid properties", "", false, 0, 0, 0, 0, 0, 0, 0, 0,
       0, 0},
      {"offset=0,0;framesize=2147483647,10", false, "Invalid properties", "", false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"offset=16385,0", false, "Invalid properties", "", false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"framesize=-1,10", false, "Invalid properties", "", false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"offset=-16384,16384;framesize=16384,0", true, "", "", false, 0, -16384, 16384, 16384, 0, 0, 0, 0, 0, 0},
      {"session=12;cursor=1", true, "", "", false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 12},
      {"node=4294967295;cursor=0", true, "", "", false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4294967295u},
      {"node=-3", true, "", "", false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"title=A;B=C", true, "", "A;B=C", true, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"cursor=1;title=X;showframe=1", true, "", "X;showframe=1", true, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
      {"TiTlE=Terminal — ~", true, "", "Terminal — ~", true, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"title", true, "", "", true, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"SHOWFRAME=1;Client=1;CURSOR=0", true, "", "", false, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0},
      {"showframe=;client=yes;cursor", true, "", "", false, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1},
      {"hwnd=4194311;showframe=0", true, "", "", false, 4194311, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"hwnd=0x400007", true, "", "", false, 0x400007, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"hwnd=window", true, "", "", false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"hwnd=-1", true, "", "", false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {";;bogus=3;offset=1,2;;noequals;", true, "", "", false, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0},
      {"", true, "", "", false, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TScreenCaptureOptions o;
    std::string error;
    ASSERT_EQ(ParseScreenCaptureOptions(c.text, o, error), c.ok) << error;
    if (!c.ok) {
      EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
      continue;
    }
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(o.HasTitle, c.hasTitle);
    EXPECT_EQ(o.Title, c.title);
    EXPECT_EQ(o.Window, c.window);
    EXPECT_EQ(o.OffsetX, c.offsetX);
    EXPECT_EQ(o.OffsetY, c.offsetY);
    EXPECT_EQ(o.Width, c.width);
    EXPECT_EQ(o.Height, c.height);
    EXPECT_EQ(o.RateNum, c.rateNum);
    EXPECT_EQ(o.RateDen, c.rateDen);
    EXPECT_EQ(o.HasFrameRate, c.rateDen != 0);
    EXPECT_EQ(o.ShowFrame, c.showFrame);
    EXPECT_EQ(o.ClientOnly, c.client);
    EXPECT_EQ(o.DrawCursor, c.cursor);
    EXPECT_EQ(o.Session, c.session);
    EXPECT_EQ(o.Node, c.node);
  }
}

TEST(ScreenCaptureOptions, EmbeddedZeroEndsTheString) {
  TScreenCaptureOptions o;
  std::string error;
  const std::string text("cursor=1\0framerate=bad", 22);
  ASSERT_TRUE(ParseScreenCaptureOptions(text, o, error)) << error;
  EXPECT_EQ(o.DrawCursor, 1);
  EXPECT_FALSE(o.HasFrameRate);
}

struct WaveCase {
  const char* text;
  int device, rate, channels, bits, bufsize;
  std::intptr_t session;  // "session", or its older name "pause_pointer"
  const char* source = "";
};

TEST(WaveCaptureOptions, KeysDefaultsAndConversions) {
  const std::vector<WaveCase> cases = {
      {"", -1, 44100, 2, 16, 4096, 0},
      {"r=22050;c=1;f=8;bufsize=1024;i=2", 2, 22050, 1, 8, 1024, 0},
      {"r=;c=x", -1, 44100, 2, 16, 4096, 0},
      {"i=abc", -1, 44100, 2, 16, 4096, 0},
      {"R=48000;C=1;F=16;BUFSIZE=3;I=0", 0, 48000, 1, 16, 3, 0},
      {"r=44100;c=2;f=16;pause_pointer=140734799804412", -1, 44100, 2, 16, 4096,
       static_cast<std::intptr_t>(140734799804412LL)},
      {"pause_pointer=-123456", -1, 44100, 2, 16, 4096, -123456},
      {"session=42;c=1", -1, 44100, 1, 16, 4096, 42},
      {"pause_pointer=0x10;r=0", -1, 0, 2, 16, 4096, 16},
      {"pause_pointer=12ab", -1, 44100, 2, 16, 4096, 0},
      {"pause_pointer=99999999999999999999", -1, 44100, 2, 16, 4096, 0},
      {"r=99999999999;c=3", -1, 44100, 3, 16, 4096, 0},
      {";;x=1;r=8000;;", -1, 8000, 2, 16, 4096, 0},
      {"session=7;i=1;source=hw:CARD=PCH,DEV=0", 1, 44100, 2, 16, 4096, 7, "hw:CARD=PCH,DEV=0"},
      {"SOURCE=a;b=c;r=8000", -1, 44100, 2, 16, 4096, 0, "a;b=c;r=8000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TWaveCaptureOptions o;
    std::string error;
    ASSERT_TRUE(ParseWaveCaptureOptions(c.text, o, error));
    EXPECT_EQ(o.DeviceId, c.device);
    EXPECT_EQ(o.SampleRate, c.rate);
    EXPECT_EQ(o.Channels, c.channels);
    EXPECT_EQ(o.BitsPerSample, c.bits);
    EXPECT_EQ(o.BufferSize, c.bufsize);
    EXPECT_EQ(o.Session, c.session);
    EXPECT_EQ(o.Source, c.source);
  }
}

// A mixed source's name and label may hold the separators: they survive the trip through the string.
TEST(WaveMixOptions, EachSourceComesBackAsWrittenAndABadOneFails) {
  const TWaveMixInputOptions inputs[] = {{80, false, true, "Microphone", "alsa_input.usb-x;y,z%41"},
                                         {200, true, false, "Desktop, 2", ""}};
  TWaveMixOptions o;
  std::string error;
  ASSERT_TRUE(ParseWaveMixOptions("r=48000;session=9;" + MixInputOption(inputs[0]) + ";" + MixInputOption(inputs[1]),
                                  o, error)) << error;
  EXPECT_EQ(o.Common.SampleRate, 48000);
  EXPECT_EQ(o.Common.Session, 9);
  ASSERT_EQ(o.Inputs.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(o.Inputs[i].Volume, inputs[i].Volume);
    EXPECT_EQ(o.Inputs[i].Muted, inputs[i].Muted);
    EXPECT_EQ(o.Inputs[i].WatchSilence, inputs[i].WatchSilence);
    EXPECT_EQ(o.Inputs[i].Label, inputs[i].Label);
    EXPECT_EQ(o.Inputs[i].Source, inputs[i].Source);
  }
  for (const char* bad : {"in=201,0,0,a,b", "in=80,0,0", "in=-1,0,0,a,b"}) {
    TWaveMixOptions failed;
    EXPECT_FALSE(ParseWaveMixOptions(bad, failed, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(IntegerConversion, BoundsAndForms) {
  std::int64_t v = 0;
  EXPECT_TRUE(StrictInt("-9223372036854775808", INT64_MIN, INT64_MAX, v));
  EXPECT_EQ(v, INT64_MIN);
  EXPECT_FALSE(StrictInt("9223372036854775808", INT64_MIN, INT64_MAX, v));
  EXPECT_TRUE(StrictInt("$ff", 0, 255, v));
  EXPECT_EQ(v, 255);
  EXPECT_FALSE(StrictInt("256", 0, 255, v));
  for (const char* bad : {"", "+", "-", "0x", "1.5", "1e3", "12 ", "x1"}) EXPECT_FALSE(StrictInt(bad, INT64_MIN, INT64_MAX, v)) << bad;
  EXPECT_EQ(IntOrDefault("7", 0, 10, 3), 7);
  EXPECT_EQ(IntOrDefault("70", 0, 10, 3), 3);
}

}  // namespace
}  // namespace qv
