// Hotkeys against a real X server: the boxes, grabs that collide with another client, and key
// presses sent through the server reaching the menu handlers.
#include <QAction>
#include <QPushButton>
#include <QRadioButton>

#include "app/form_widgets.h"
#include "app/frm_main.h"
#include "app/hotkey_grabber.h"
#include "app/ini_file.h"
#include "app/recording_controller.h"
#include "app_test_support.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace qv {
namespace {

// Another X client: its own connection, its own grabs.
class OtherClient {
 public:
  OtherClient() : Display_(XOpenDisplay(nullptr)) {}
  ~OtherClient() {
    if (Display_) XCloseDisplay(Display_);
  }
  // True when the grab succeeded (no BadAccess from the server).
  bool Grab(KeySym sym, unsigned mask) {
    Failed = false;
    XErrorHandler previous = XSetErrorHandler(&OtherClient::Note);
    XGrabKey(Display_, XKeysymToKeycode(Display_, sym), mask, DefaultRootWindow(Display_), False, GrabModeAsync,
             GrabModeAsync);
    XSync(Display_, False);
    XSetErrorHandler(previous);
    return !Failed;
  }
  void Ungrab(KeySym sym, unsigned mask) {
    XUngrabKey(Display_, XKeysymToKeycode(Display_, sym), mask, DefaultRootWindow(Display_));
    XSync(Display_, False);
  }
  bool Ok() const { return Display_ != nullptr; }

 private:
  static int Note(Display*, XErrorEvent* e) {
    if (e->error_code == BadAccess) Failed = true;
    return 0;
  }
  static inline bool Failed = false;
  Display* Display_;
};

// Counts what the menu handlers pass on; the real controller drives the encoder.
struct CountingController : TRecordingController {
  int Start = 0, Pause = 0, Resume = 0, Stop = 0, Shutdowns = 0;
  void MnuStartRecordClick(TFrmMain&) override { ++Start; }
  void MnuPauseRecordClick(TFrmMain&) override { ++Pause; }
  void MnuResumeRecordClick(TFrmMain&) override { ++Resume; }
  void MnuStopRecordClick(TFrmMain&) override { ++Stop; }
  bool StartAfterStop(TFrmMain&) override { return false; }  // no stop is ever under way here
  void Shutdown(TFrmMain&) override { ++Shutdowns; }
};

void XdoKey(const std::string& keys) {
  std::string command = "xdotool key --clearmodifiers " + keys;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

class Hotkeys : public test::SettingsFolder {};

TEST_F(Hotkeys, TheBoxesFollowTheKeyRules) {
  WriteOptions("[Recorder]\nShowTip=0\n[Save]\nOutputFolder=/srv/\n");
  TFrmMain form;
  form.LoadSettings(true);
  THotkeyEdit* box = form.EdtStartHotkey;
  struct Step {
    bool Press;
    Qt::Key Key;
    Qt::KeyboardModifiers Mods;
  };
  struct {
    std::vector<Step> Steps;
    const char* Expected;
  } cases[] = {
      {{{true, Qt::Key_Control, Qt::ControlModifier},
        {true, Qt::Key_Shift, Qt::ControlModifier | Qt::ShiftModifier},
        {true, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier},
        {false, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier},
        {false, Qt::Key_Shift, Qt::ControlModifier},
        {false, Qt::Key_Control, Qt::NoModifier}},
       "Ctrl+Shift+R"},
      {{{true, Qt::Key_R, Qt::NoModifier}, {false, Qt::Key_R, Qt::NoModifier}}, ""},
      {{{true, Qt::Key_F7, Qt::NoModifier}, {false, Qt::Key_F7, Qt::NoModifier}}, "F7"},
      {{{true, Qt::Key_Alt, Qt::AltModifier}, {false, Qt::Key_Alt, Qt::NoModifier}}, ""},
      {{{true, Qt::Key_Alt, Qt::AltModifier}, {true, Qt::Key_5, Qt::AltModifier}, {false, Qt::Key_5, Qt::AltModifier}},
       "Alt+5"},
      {{{true, Qt::Key_Escape, Qt::ControlModifier}, {false, Qt::Key_Escape, Qt::ControlModifier}}, ""},
  };
  for (const auto& c : cases) {
    box->setText("old");
    for (const Step& s : c.Steps) {
      if (s.Press) QTest::keyPress(box, s.Key, s.Mods);
      else QTest::keyRelease(box, s.Key, s.Mods);
    }
    EXPECT_EQ(box->text().toStdString(), c.Expected);
  }
}

TEST_F(Hotkeys, RealKeyPressesThroughTheServerReadTheKeyboardMap) {
  WriteOptions("[Recorder]\nShowTip=0\n[Save]\nOutputFolder=/srv/\n");
  TFrmMain form;
  form.LoadSettings(true);
  form.MnuOptionsClick();
  if (!QTest::qWaitForWindowActive(&form)) GTEST_SKIP() << "the window manager did not activate the window";
  form.EdtPauseHotkey->setFocus(Qt::OtherFocusReason);
  ASSERT_TRUE(test::WaitFor([&] { return form.EdtPauseHotkey->hasFocus(); }));
  struct {
    const char *Keys, *Expected;
  } cases[] = {{"ctrl+shift+r", "Ctrl+Shift+R"}, {"shift+alt+1", "Shift+Alt+1"}, {"F7", "F7"}, {"r", ""}};
  for (const auto& c : cases) {
    form.EdtPauseHotkey->setText("old");
    XdoKey(c.Keys);
    EXPECT_TRUE(test::WaitFor([&] { return form.EdtPauseHotkey->text().toStdString() == c.Expected; }, 2000))
        << c.Keys << " gave " << form.EdtPauseHotkey->text().toStdString();
  }
}

TEST_F(Hotkeys, ACombinationHeldByAnotherClientIsReported) {
  OtherClient other;
  ASSERT_TRUE(other.Ok());
  ASSERT_TRUE(other.Grab(XK_F9, ControlMask | Mod1Mask));
  WriteOptions(
      "[Recorder]\nShowTip=0\nStartHotkey=Ctrl+Alt+F10\nResumeHotkey=Ctrl+Alt+F9\nRegionToCapture=Region\n"
      "[Save]\nOutputFolder=/srv/\n");
  TFrmMain form;
  form.LoadSettings(true);
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].Text,
            "The hotkey of resuming screen recording \"Ctrl+Alt+F9\" is already used, please change it to another hotkey");
  EXPECT_EQ(Messages[0].Caption, "Quorvane");
  EXPECT_EQ(Messages[0].Icon, TMessageIcon::Error);
  EXPECT_NE(form.ResumeHotkeyId, -1);  // the id stays even though the grab failed
  EXPECT_FALSE(form.Hotkeys().IsRegistered(form.ResumeHotkeyId));
  EXPECT_TRUE(form.Hotkeys().IsRegistered(form.StartHotkeyId));

  // At OK a taken hotkey is named and marked, keeps the combination it had, and the ones after it
  // and the other settings are still saved.
  Messages.clear();
  form.MnuOptionsClick();
  form.EdtStartHotkey->setText("Ctrl+Alt+F9");
  form.EdtStopHotkey->setText("F8");
  form.EdtResumeHotkey->setText("Ctrl+Alt+F11");
  form.RdbFullScreen->setChecked(true);
  form.BtnOK->click();
  const std::string taken =
      "The hotkey of Starting screen recording \"Ctrl+Alt+F9\" is already used, please change it to another hotkey";
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].Text, taken);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.EdtStartHotkey->text(), "Ctrl+Alt+F9");
  EXPECT_EQ(form.EdtStartHotkey->toolTip().toStdString(), taken);
  EXPECT_TRUE(form.EdtStopHotkey->toolTip().isEmpty());
  TIniFile ini(GetOptionsFileName());
  EXPECT_EQ(ini.ReadString("Recorder", "StartHotkey", ""), "Ctrl+Alt+F10");
  EXPECT_EQ(ini.ReadString("Recorder", "StopHotkey", ""), "F8");
  EXPECT_EQ(ini.ReadString("Recorder", "ResumeHotkey", ""), "Ctrl+Alt+F11");
  EXPECT_EQ(ini.ReadString("Recorder", "RegionToCapture", ""), "FullScreen");
  EXPECT_FALSE(other.Grab(XK_F10, ControlMask | Mod1Mask)) << "the start hotkey still works";
  EXPECT_FALSE(other.Grab(XK_F8, 0));
  EXPECT_FALSE(other.Grab(XK_F11, ControlMask | Mod1Mask));

  // Once the other client lets go, OK goes through and the mark goes.
  other.Ungrab(XK_F9, ControlMask | Mod1Mask);
  Messages.clear();
  form.BtnOK->click();
  EXPECT_TRUE(Messages.empty()) << LastMessage();
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(form.EdtStartHotkey->toolTip().isEmpty());
  EXPECT_EQ(TIniFile(GetOptionsFileName()).ReadString("Recorder", "StartHotkey", ""), "Ctrl+Alt+F9");
  EXPECT_FALSE(other.Grab(XK_F9, ControlMask | Mod1Mask));
  EXPECT_TRUE(other.Grab(XK_F10, ControlMask | Mod1Mask));
  other.Ungrab(XK_F10, ControlMask | Mod1Mask);

  // Releasing at exit gives every combination back.
  form.ReleaseHotkeys();
  EXPECT_TRUE(other.Grab(XK_F9, ControlMask | Mod1Mask));
  EXPECT_TRUE(other.Grab(XK_F11, ControlMask | Mod1Mask));
  EXPECT_TRUE(other.Grab(XK_F8, 0));
}

TEST_F(Hotkeys, OneCombinationForTwoActionsIsRefusedAndAMalformedTextIsSaidToBeOne) {
  WriteOptions(
      "[Recorder]\nShowTip=0\nStartHotkey=Ctrl+Shift+F5\nStopHotkey=Ctrl+Shift+F5\nPauseHotkey=Ctrl+\n"
      "[Save]\nOutputFolder=/srv/\n");
  TFrmMain form;
  form.LoadSettings(true);
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].Text,
            "The hotkey of Stopping screen recording \"Ctrl+Shift+F5\" is already used, please change it to another "
            "hotkey\nThe hotkey of Pausing screen recording \"Ctrl+\" is not a key combination, please press the keys "
            "of one in its box");
  // Texts no keyboard combination can produce.
  for (const char* text : {"Ctrl+?", "Ctrl+", "Shift+Alt"}) {
    Messages.clear();
    form.EdtStopHotkey->setText("F6");
    form.EdtPauseHotkey->setText(text);
    form.BtnOK->click();
    ASSERT_EQ(Messages.size(), 1u) << text;
    EXPECT_EQ(Messages[0].Text, std::string("The hotkey of Pausing screen recording \"") + text +
                                    "\" is not a key combination, please press the keys of one in its box");
  }
}

TEST_F(Hotkeys, APressRunsTheHandlerOnlyWhileItsMenuItemIsEnabled) {
  WriteOptions(
      "[Recorder]\nShowTip=0\nStartHotkey=Ctrl+Shift+F11\nPauseHotkey=Ctrl+Shift+F12\nStopHotkey=None\n"
      "[Save]\nOutputFolder=/srv/\n");
  TFrmMain form;
  CountingController controller;
  form.SetController(&controller);
  form.LoadSettings(true);
  ASSERT_TRUE(Messages.empty()) << LastMessage();
  // Idle, as after start-up.
  form.MnuPauseRecord->setEnabled(false);
  form.MnuResumeRecord->setEnabled(false);
  form.MnuStopRecord->setEnabled(false);
  EXPECT_EQ(form.TrayState(), TTrayState::Idle);

  XdoKey("ctrl+shift+F11");
  EXPECT_TRUE(test::WaitFor([&] { return controller.Start == 1; }));
  XdoKey("ctrl+shift+F12");  // pause while idle: ignored
  test::WaitFor([] { return false; }, 300);
  EXPECT_EQ(controller.Pause, 0);

  // As if recording: start is off, pause is on.
  form.MnuStartRecord->setEnabled(false);
  form.MnuPauseRecord->setEnabled(true);
  form.MnuStopRecord->setEnabled(true);
  EXPECT_EQ(form.TrayState(), TTrayState::Recording);
  XdoKey("ctrl+shift+F11");
  XdoKey("ctrl+shift+F12");
  EXPECT_TRUE(test::WaitFor([&] { return controller.Pause == 1; }));
  EXPECT_EQ(controller.Start, 1);

  // NumLock does not switch a hotkey off.
  XdoKey("Num_Lock");
  XdoKey("ctrl+shift+F12");
  XdoKey("Num_Lock");
  EXPECT_TRUE(test::WaitFor([&] { return controller.Pause == 2; }));

  form.ExitRequested = true;
  form.close();
  EXPECT_TRUE(form.Closed());
  EXPECT_EQ(controller.Shutdowns, 1);
  XdoKey("ctrl+shift+F12");
  test::WaitFor([] { return false; }, 300);
  EXPECT_EQ(controller.Pause, 2);  // released at exit
}

}  // namespace
}  // namespace qv
