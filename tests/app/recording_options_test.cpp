// The recording's make-up from the settings: capture modes, file names, the output choice, and the
// recording log in the state folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "app/recording_log.h"
#include "app/recording_options.h"
#include "app/unit_general.h"

namespace qv {
namespace {

std::tm Moment(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(RecordingOptions, CaptureModes) {
  EXPECT_EQ(CaptureModeOf("Window"), TCaptureMode::Window);
  EXPECT_EQ(CaptureModeOf("FullScreen"), TCaptureMode::FullScreen);
  for (const char* other : {"Region", "", "fullscreen", "Window "}) EXPECT_EQ(CaptureModeOf(other), TCaptureMode::Region);
}

TEST(RecordingOptions, DateTimeFileNames) {
  const std::tm moment = Moment(2011, 1, 27, 22, 2, 11);
  EXPECT_EQ(DateTimeFileName(moment), "2011-01-27,22_02_11.avi");
  EXPECT_EQ(DateTimeFileName(Moment(2009, 12, 31, 0, 0, 5)), "2009-12-31,00_00_05.avi");
  EXPECT_EQ(DateTimeFileName(moment, TOutputFormat::Mkv), "2011-01-27,22_02_11.mkv");
  struct {
    const char *Folder, *Expected;
  } cases[] = {
      {"/rec/", "/rec/2011-01-27,22_02_11.avi"},
      {"/rec", "/rec/2011-01-27,22_02_11.avi"},
      {"/", "/2011-01-27,22_02_11.avi"},
      {"", "/2011-01-27,22_02_11.avi"},
      {"/home/u/Documents/Quorvane/", "/home/u/Documents/Quorvane/2011-01-27,22_02_11.avi"},
  };
  for (const auto& c : cases) EXPECT_EQ(AutoOutputFileName(c.Folder, moment), c.Expected) << c.Folder;

  // A name already taken (two starts in one second) gets a number before the extension.
  const std::filesystem::path folder = std::filesystem::path(testing::TempDir()) / "qv_free_names";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  for (const char* expected : {"2011-01-27,22_02_11.avi", "2011-01-27,22_02_11 (2).avi", "2011-01-27,22_02_11 (3).avi"}) {
    const std::string name = AutoOutputFileName(folder.string(), moment);
    EXPECT_EQ(name, (folder / expected).string());
    std::ofstream(name) << "taken";
  }
  EXPECT_EQ(FreeFileName((folder / "no.dot/clip").string()), (folder / "no.dot/clip").string());
  std::filesystem::create_directories(folder / "no.dot");
  std::ofstream((folder / "no.dot/clip").string()) << "taken";
  EXPECT_EQ(FreeFileName((folder / "no.dot/clip").string()), (folder / "no.dot/clip (2)").string());
  std::filesystem::remove_all(folder);
}

TEST(RecordingOptions, OutputFromTheWindow) {
  struct {
    TOutputChoice Choice;
    int VideoKbps, SampleRate, OutWidth, OutHeight;
  } cases[] = {
      {{"360 Kbps", "44100 Hz", true, "320", "240"}, 360, 44100, 0, 0},
      {{"48 Kbps", "22050 Hz", true, "320", "240"}, 48, 22050, 0, 0},
      {{"1600 Kbps", "44100 Hz", false, "641", "480"}, 1600, 44100, 641, 480},
      // A box the settings file left without a selection has no text: the default item is used.
      {{"", "", false, "320", "240"}, 360, 44100, 320, 240},
      {{"Kbps", "Hz", true, "", ""}, 360, 44100, 0, 0},
  };
  for (const auto& c : cases) {
    TTrayChoice choice;
    choice.Output = c.Choice;
    const TRecordingRequest r = TrayRecordingRequest(choice);
    EXPECT_EQ(r.VideoKbps, c.VideoKbps) << c.Choice.VideoBitrate;
    EXPECT_EQ(r.SampleRate, c.SampleRate) << c.Choice.AudioSampleRate;
    // 0: as large as the area.
    EXPECT_EQ(r.OutWidth, c.OutWidth);
    EXPECT_EQ(r.OutHeight, c.OutHeight);
  }
}

class StateFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv_state_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Root = pattern;
    for (const char* name : {"HOME", "XDG_STATE_HOME"}) {
      const char* value = std::getenv(name);
      Saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  void TearDown() override {
    for (auto& [name, value] : Saved) {
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
    }
    std::filesystem::remove_all(Root);
  }
  std::string Root;
  std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
};

TEST_F(StateFolder, FollowsXdgStateHome) {
  struct {
    const char *StateHome, *Home, *Expected;
  } cases[] = {
      {"/st", "/home/u", "/st/Quorvane/"},
      {"/st/", "/home/u", "/st/Quorvane/"},
      {nullptr, "/home/u", "/home/u/.local/state/Quorvane/"},
      {"relative", "/home/u", "/home/u/.local/state/Quorvane/"},
  };
  for (const auto& c : cases) {
    if (c.StateHome) setenv("XDG_STATE_HOME", c.StateHome, 1);
    else unsetenv("XDG_STATE_HOME");
    setenv("HOME", c.Home, 1);
    EXPECT_EQ(GetStateFolder(), c.Expected);
  }
}

TEST_F(StateFolder, OneLogPerRecordingAndOnlyTheRecentOnesKept) {
  const std::string folder = Root + "/state/Quorvane/";
  TRecordingLog log;
  ASSERT_TRUE(log.Open(folder, Moment(2011, 1, 27, 22, 2, 11)));
  log.Line("recording to /rec/x.avi");
  log.Line("ends with a line break\n");
  EXPECT_EQ(log.FileName(), folder + "recording-2011-01-27,22_02_11.log");
  // A second start within the same second keeps the first log.
  ASSERT_TRUE(log.Open(folder, Moment(2011, 1, 27, 22, 2, 11)));
  EXPECT_EQ(log.FileName(), folder + "recording-2011-01-27,22_02_11-2.log");
  log.Close();
  log.Line("after the close: nowhere");

  std::ifstream in(folder + "recording-2011-01-27,22_02_11.log");
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  EXPECT_NE(text.find(" recording to /rec/x.avi\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" ends with a line break\n"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;

  for (int minute = 0; minute < 30; ++minute) ASSERT_TRUE(log.Open(folder, Moment(2012, 3, 4, 5, minute, 0)));
  log.Close();
  std::ofstream(folder + "notes.txt") << "not a log";
  ASSERT_TRUE(log.Open(folder, Moment(2013, 1, 1, 0, 0, 0)));
  int logs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().extension() == ".log") ++logs;
  EXPECT_EQ(logs, TRecordingLog::kKept);
  EXPECT_TRUE(std::filesystem::exists(folder + "notes.txt"));
  EXPECT_TRUE(std::filesystem::exists(folder + "recording-2012-03-04,05_29_00.log"));
  EXPECT_FALSE(std::filesystem::exists(folder + "recording-2011-01-27,22_02_11.log"));

  // A folder that cannot be made leaves the log off, and nothing else fails.
  std::ofstream(Root + "/file") << "x";
  EXPECT_FALSE(log.Open(Root + "/file/Quorvane/", Moment(2013, 1, 1, 0, 0, 0)));
  log.Line("dropped");
  EXPECT_FALSE(log.Open("", Moment(2013, 1, 1, 0, 0, 0)));
}

}  // namespace
}  // namespace qv
