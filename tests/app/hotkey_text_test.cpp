#include "app/hotkey_text.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

constexpr int kF7 = 118;
constexpr int kEscape = 27;

TEST(HotkeyText, KeyDown) {
  struct {
    int Key;
    bool Ctrl, Shift, Alt, Super;
    const char* Expected;
  } cases[] = {
      {'R', true, true, false, false, "Ctrl+Shift+R"},
      {'R', false, false, false, false, ""},        // a letter alone adds nothing
      {'5', false, false, true, false, "Alt+5"},
      {'Z', true, true, true, false, "Ctrl+Shift+Alt+Z"},
      {kF7, false, false, false, false, "F7"},      // a function key may stand alone
      {123, false, true, false, false, "Shift+F12"},
      {112, true, false, false, false, "Ctrl+F1"},
      {kVkMenu, false, false, true, false, "Alt+"}, // only modifiers so far
      {kVkControl, true, false, false, false, "Ctrl+"},
      {kEscape, true, false, false, false, "Ctrl+"},
      {kEscape, false, false, false, false, ""},
      {'R', true, false, false, true, "Ctrl+Super+R"},
      {'R', false, false, false, true, "Super+R"},
      {kVkSuper, false, false, false, true, "Super+"},
      {kVkPrint, false, false, false, false, "Print"},
      {kVkPause, false, true, false, false, "Shift+Pause"},
      {kVkScrollLock, true, false, false, false, "Ctrl+ScrollLock"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(HotkeyTextAfterKeyDown(c.Key, {c.Ctrl, c.Shift, c.Alt, c.Super}), c.Expected) << c.Key;
}

TEST(HotkeyText, KeyUp) {
  struct {
    const char* Text;
    int Key;
    const char* Expected;
  } cases[] = {
      {"Ctrl+Shift+R", 'R', "Ctrl+Shift+R"},  // a finished combination stays
      {"Ctrl+Shift+R", kVkShift, "Ctrl+Shift+R"},
      {"Alt+", kVkMenu, ""},                  // only modifiers were pressed
      {"F7", kF7, "F7"},
      {"Print", kVkPrint, "Print"},           // named keys may stand alone
      {"F7", 'R', ""},                        // no "+" and not a function key
      {"", 'R', ""},
  };
  for (const auto& c : cases) EXPECT_EQ(HotkeyTextAfterKeyUp(c.Text, c.Key), c.Expected) << c.Text;
}

TEST(HotkeyText, Parse) {
  struct {
    const char* Text;
    bool Ok;
    unsigned Modifiers;
    int Key;
  } cases[] = {
      {"Ctrl+Shift+R", true, kModControl | kModShift, 'R'},
      {"Alt+5", true, kModAlt, '5'},
      {"F9", true, 0, 120},
      {"Shift+F12", true, kModShift, 123},
      {"shift+ctrl+r", true, kModControl | kModShift, 'R'},  // hand-edited order and case
      {"R", false, 0, 0},                                     // would steal a plain key
      {"Super+Print", true, kModSuper, kVkPrint},
      {"meta+ctrl+scrolllock", true, kModControl | kModSuper, kVkScrollLock},
      {"Pause", true, 0, kVkPause},
      {"Super+R", true, kModSuper, 'R'},
      {"F13", false, 0, 0},
      {"F0", false, 0, 0},
      {"F01", false, 0, 0},
      {"Ctrl+", false, 0, 0},
      {"Ctrl+Ctrl+A", false, 0, 0},
      {"Hyper+A", false, 0, 0},
      {"Ctrl+AB", false, 0, 0},
      {"Ctrl+?", false, 0, 0},
      {"None", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const auto& c : cases) {
    THotkey hotkey;
    ASSERT_EQ(ParseHotkey(c.Text, hotkey), c.Ok) << c.Text;
    if (!c.Ok) continue;
    EXPECT_EQ(hotkey.Modifiers, c.Modifiers) << c.Text;
    EXPECT_EQ(hotkey.Key, c.Key) << c.Text;
  }
  EXPECT_TRUE(IsNoHotkey(""));
  EXPECT_TRUE(IsNoHotkey("None"));
  EXPECT_FALSE(IsNoHotkey("none"));
  // The same combinations as the desktop's global shortcuts name them.
  EXPECT_EQ(PortalTrigger("Ctrl+Shift+F9"), "CTRL+SHIFT+F9");
  EXPECT_EQ(PortalTrigger("meta+alt+r"), "ALT+LOGO+r");
  EXPECT_EQ(PortalTrigger("ScrollLock"), "Scroll_Lock");
  EXPECT_EQ(PortalTrigger("R"), "");
}

// Every text the boxes can produce reads back as the combination that produced it.
TEST(HotkeyText, WhatTheBoxesProduceParses) {
  for (int mods = 0; mods < 16; ++mods)
    for (int key : std::initializer_list<int>{'0', '9', 'A', 'Z', 112, 123, kVkPrint, kVkPause, kVkScrollLock}) {
      std::string text = HotkeyTextAfterKeyDown(key, {bool(mods & 1), bool(mods & 2), bool(mods & 4), bool(mods & 8)});
      if (text.empty()) continue;
      THotkey hotkey;
      ASSERT_TRUE(ParseHotkey(text, hotkey)) << text;
      EXPECT_EQ(hotkey.Key, key) << text;
      unsigned expected = ((mods & 1) ? kModControl : 0) | ((mods & 2) ? kModShift : 0) | ((mods & 4) ? kModAlt : 0) |
                          ((mods & 8) ? kModSuper : 0);
      EXPECT_EQ(hotkey.Modifiers, expected) << text;
    }
}

}  // namespace
}  // namespace qv
