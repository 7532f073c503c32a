// What the key labels read, press by press: chords as one label, repeats counted, typed text
// gathered, and plain typing never shown in the default mode.
#include "capture/key_labels.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv {
namespace {

struct TPress {
  unsigned long Keysym, Shifted;
  unsigned Held;
  std::int64_t AtUs;
};

std::string Joined(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& t : texts) out += (out.empty() ? "" : " | ") + t;
  return out;
}

TEST(KeyLabels, ChordsRepeatsTypingAndWhatEachModeShows) {
  const unsigned ctrlShift = kHeldCtrl | kHeldShift;
  const std::vector<TPress> session = {
      {XK_t, XK_T, ctrlShift, 0},  {XK_h, XK_h, 0, 100000},     {XK_e, XK_e, 0, 200000},
      {XK_l, XK_l, 0, 300000},     {XK_l, XK_l, 0, 400000},     {XK_o, XK_o, 0, 500000},
      {XK_BackSpace, XK_BackSpace, 0, 600000}, {XK_BackSpace, XK_BackSpace, 0, 700000},
      {XK_BackSpace, XK_BackSpace, 0, 800000}, {XK_BackSpace, XK_BackSpace, 0, 900000},
      {XK_BackSpace, XK_BackSpace, 0, 1000000}};
  struct {
    TKeysMode Mode;
    const char* Shown;
  } cases[] = {
      {TKeysMode::Everything, "Ctrl+Shift+T | hello | Backspace \u00d75"},
      {TKeysMode::Combinations, "Ctrl+Shift+T | Backspace \u00d75"},
  };
  for (const auto& c : cases) {
    TKeyLabels labels(c.Mode);
    for (const TPress& p : session) {
      TKeyStroke stroke;
      ASSERT_TRUE(KeyStrokeOf(p.Keysym, p.Shifted, p.Held, stroke));
      labels.Press(stroke, p.AtUs);
    }
    EXPECT_TRUE(labels.Advance(1040000));
    EXPECT_EQ(Joined(labels.Texts()), c.Shown);
    // Held at full strength, with nothing new to draw, until 1.5 s after the last key; then fading
    // and gone within a quarter second more.
    EXPECT_FALSE(labels.Advance(2400000));
    EXPECT_EQ(labels.Strength(), 255);
    EXPECT_TRUE(labels.Advance(2600000));
    EXPECT_GT(labels.Strength(), 0);
    EXPECT_LT(labels.Strength(), 255);
    EXPECT_TRUE(labels.Advance(2760000));
    EXPECT_EQ(Joined(labels.Texts()), "");
    EXPECT_FALSE(labels.Advance(2800000));
  }
  // A modifier alone makes no label; Shift with a letter types it; Alt+F4 and F5 are shown.
  TKeyStroke stroke;
  EXPECT_FALSE(KeyStrokeOf(XK_Control_L, XK_Control_L, kHeldCtrl, stroke));
  ASSERT_TRUE(KeyStrokeOf(XK_a, XK_A, kHeldShift, stroke));
  EXPECT_TRUE(stroke.Typed);
  EXPECT_EQ(stroke.Name, "A");
  ASSERT_TRUE(KeyStrokeOf(XK_F4, XK_F4, kHeldAlt, stroke));
  EXPECT_EQ(stroke.Name, "Alt+F4");
  EXPECT_FALSE(stroke.Typed);
}

}  // namespace
}  // namespace qv
