#include "app/ini_file.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qv {
namespace {

const char* kHandEdited =
    "; written by hand\r\n"
    "[Recorder]\r\n"
    "  BoolRecordAudio = 0  \r\n"
    "# a note about hotkeys\r\n"
    "StartHotkey=Ctrl+Shift+R\r\n"
    "MyOwnKey=keep me\r\n"
    "\r\n"
    "; the next section is ours\r\n"
    "[Unknown]\r\n"
    "x=1\r\n"
    "[OutputType]\r\n"
    "Width=\"  640 \"\r\n"
    "Height=abc\r\n"
    "FrameSize=+10\r\n";

TEST(IniFile, ReadsValuesLikeTheProfileFunctions) {
  TIniFile ini = TIniFile::FromText(kHandEdited);
  struct {
    const char *Section, *Key, *Default, *Expected;
  } cases[] = {
      {"Recorder", "BoolRecordAudio", "1", "0"},        // blanks around key and value
      {"recorder", "starthotkey", "", "Ctrl+Shift+R"},  // names ignore case
      {"Recorder", "StopHotkey", "dflt", "dflt"},       // missing key
      {"Missing", "StartHotkey", "dflt", "dflt"},       // missing section
      {"Recorder", "x", "dflt", "dflt"},                // a key of another section
      {"OutputType", "Width", "", "  640 "},            // quotes keep blanks
      {"Recorder", "# a note about hotkeys", "d", "d"}, // comments are no keys
  };
  for (const auto& c : cases)
    EXPECT_EQ(ini.ReadString(c.Section, c.Key, c.Default), c.Expected) << c.Section << "/" << c.Key;
  EXPECT_EQ(ini.ReadInteger("OutputType", "FrameSize", 6), 10);
  EXPECT_EQ(ini.ReadInteger("OutputType", "Height", 240), 240);  // unreadable -> default
  EXPECT_EQ(ini.ReadInteger("OutputType", "Width", 320), 640);   // quoted number
  EXPECT_FALSE(ini.ReadBool("Recorder", "BoolRecordAudio", true));
  EXPECT_TRUE(ini.ReadBool("Recorder", "BoolBlinkRecord", true));
  EXPECT_TRUE(TIniFile::FromText("[A]\nb=7\n").ReadBool("A", "b", false));  // any non-zero is true
  EXPECT_EQ(TIniFile::FromText("[A]\nb=99999999999\n").ReadInteger("A", "b", 3), 3);
}

TEST(IniFile, WritingKeepsEverythingElseAsItWas) {
  TIniFile ini = TIniFile::FromText(kHandEdited);
  ini.WriteString("Recorder", "BoolRecordAudio", "1");   // replaced in place, spelling kept
  ini.WriteString("RECORDER", "StopHotkey", "F9");       // added after the section's last key
  ini.WriteString("Save", "OutputFolder", "/home/u/");   // new section at the end
  ini.WriteInteger("OutputType", "VideoBitrate", 5);     // added to the last section
  std::string expected =
      "; written by hand\r\n"
      "[Recorder]\r\n"
      "BoolRecordAudio=1\r\n"
      "# a note about hotkeys\r\n"
      "StartHotkey=Ctrl+Shift+R\r\n"
      "MyOwnKey=keep me\r\n"
      "StopHotkey=F9\r\n"
      "\r\n"
      "; the next section is ours\r\n"
      "[Unknown]\r\n"
      "x=1\r\n"
      "[OutputType]\r\n"
      "Width=\"  640 \"\r\n"
      "Height=abc\r\n"
      "FrameSize=+10\r\n"
      "VideoBitrate=5\r\n"
      "\r\n"
      "[Save]\r\n"
      "OutputFolder=/home/u/\r\n";
  EXPECT_EQ(ini.Text(), expected);
}

TEST(IniFile, ValuesReadBackAsWritten) {
  const std::string values[] = {"", "plain", " leading", "trailing ", "\"quoted\"", "'single'", "a=b;c", "/ä/ö/"};
  for (const std::string& value : values) {
    TIniFile ini = TIniFile::FromText("");
    ini.WriteString("S", "K", value);
    EXPECT_EQ(TIniFile::FromText(ini.Text()).ReadString("S", "K", "?"), value) << ini.Text();
  }
  // A line break cannot live in a line-based file: it must not create a second key.
  TIniFile ini = TIniFile::FromText("[S]\n");
  ini.WriteString("S", "K", "a\nEvil=1");
  TIniFile back = TIniFile::FromText(ini.Text());
  EXPECT_FALSE(back.ValueExists("S", "Evil"));
  EXPECT_EQ(back.ReadString("S", "K", ""), "a Evil=1");
}

TEST(IniFile, KeepsLfBomAndMissingFinalBreak) {
  TIniFile ini = TIniFile::FromText("\xEF\xBB\xBF[A]\nk=1");
  ini.WriteString("A", "k", "2");
  EXPECT_EQ(ini.Text(), "\xEF\xBB\xBF[A]\nk=2");
  ini.WriteString("A", "n", "3");
  EXPECT_EQ(ini.Text(), "\xEF\xBB\xBF[A]\nk=2\nn=3\n");
}

TEST(IniFile, EachLineKeepsItsOwnEnding) {
  // Mixed endings, and a last line ending in a stray CR, come back exactly; new lines take the
  // ending most lines have.
  TIniFile ini = TIniFile::FromText("[A]\r\nk=1\nj=2\r\nm=3\r\n[B]\nx=1\r");
  ini.WriteString("A", "k", "5");
  ini.WriteString("B", "x", "6");
  ini.WriteString("B", "y", "7");
  // The stray CR gains a line feed once a line follows it; alone, y=7 would join x's line.
  EXPECT_EQ(ini.Text(), "[A]\r\nk=5\nj=2\r\nm=3\r\n[B]\nx=6\r\ny=7\r\n");
  EXPECT_EQ(TIniFile::FromText(ini.Text()).ReadString("B", "y", ""), "7");
  EXPECT_EQ(TIniFile::FromText("[A]\nk=1\r").ReadString("A", "k", ""), "1");
}

class IniFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override { Dir = Temp.Path; }
  test::TTempDir Temp{"qv_ini"};
  std::string Slurp(const std::string& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string Dir;
};

TEST_F(IniFileOnDisk, UpdateWritesOnlyWhenChangedAndKeepsTheMode) {
  std::string file = Dir + "/Options.ini";
  { std::ofstream(file) << "; mine\n[Recorder]\nShowTip=1\n"; }
  chmod(file.c_str(), 0600);
  TIniFile ini(file);
  EXPECT_TRUE(ini.Existed());
  ini.WriteBool("Recorder", "ShowTip", false);
  ASSERT_TRUE(ini.UpdateFile()) << ini.LastError();
  EXPECT_EQ(Slurp(file), "; mine\n[Recorder]\nShowTip=0\n");
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir), {}), 1);  // no temporary left
}

TEST_F(IniFileOnDisk, AReadOnlyFileIsNeverReplaced) {
  std::string file = Dir + "/Options.ini";
  { std::ofstream(file) << "[Recorder]\nShowTip=1\n"; }
  chmod(file.c_str(), 0444);
  TIniFile ini(file);
  ini.WriteBool("Recorder", "ShowTip", false);
  EXPECT_FALSE(ini.UpdateFile());
  EXPECT_NE(ini.LastError().find("Unable to write to " + file), std::string::npos);
  EXPECT_EQ(Slurp(file), "[Recorder]\nShowTip=1\n");
}

TEST_F(IniFileOnDisk, AFailedWriteIsReportedForAMissingFolder) {
  TIniFile ini(Dir + "/gone/Options.ini");
  EXPECT_FALSE(ini.Existed());
  ini.WriteString("A", "k", "2");
  EXPECT_FALSE(ini.UpdateFile());
  EXPECT_NE(ini.LastError().find("Unable to write to"), std::string::npos);
}

}  // namespace
}  // namespace qv
