// The options window against real settings files.
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTextBrowser>
#include <QTimer>

#include "app/form_widgets.h"
#include "app/frm_main.h"
#include "app/hotkey_grabber.h"
#include "app/ini_file.h"
#include "app/sound_rows.h"
#include "media/loader.h"
#include "app_test_support.h"

namespace qv {
namespace {

class Settings : public test::SettingsFolder {};

// Runs `action` on the next modal window of type T (a question, a file dialog) once it is up.
template <class T>
void OnNextModal(QObject* context, std::function<void(T*)> action) {
  auto* timer = new QTimer(context);
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, action] {
    T* modal = qobject_cast<T*>(QApplication::activeModalWidget());
    if (!modal) return;
    timer->stop();
    timer->deleteLater();
    action(modal);
  });
  timer->start();
}

TEST_F(Settings, AFreshFileLoadsTheDefaultsAndGetsTheDefaultFolder) {
  WriteOptions("");
  TFrmMain form;
  form.LoadSettings(true);
  EXPECT_TRUE(form.ChkRecordAudio->isChecked());
  EXPECT_TRUE(form.ChkBlink->isChecked());
  EXPECT_TRUE(form.ChkPlayBack->isChecked());
  EXPECT_TRUE(form.RdbRegion->isChecked());
  EXPECT_EQ(form.CboScreen->currentData().toString(), "pointer");
  EXPECT_FALSE(form.CboScreen->isEnabled());  // it chooses for full screen only
  EXPECT_EQ(form.CboAudioSource->currentData().toString(), "default");
  EXPECT_EQ(form.DesktopRow->Source->currentData().toString(), "none");
  EXPECT_EQ(form.CboCountdown->currentText(), "Off");
  EXPECT_TRUE(form.ChkSameArea->isChecked());
  QWidget* sizeControls[] = {form.CboFrameSize, form.EdtFrameWidth, form.EdtFrameHeight,
                             form.LblFrameSize, form.LblFrameWidth, form.LblFrameHeight};
  for (QWidget* w : sizeControls)
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_EQ(form.EdtFrameWidth->Text(), "320");
  EXPECT_EQ(form.EdtFrameHeight->Text(), "240");
  EXPECT_EQ(form.CboFrameSize->currentText(), "320 x 240");
  EXPECT_EQ(form.CboVideoBitrate->currentText(), "360 Kbps");
  EXPECT_EQ(form.CboAudioSampleRate->currentText(), "44100 Hz");
  // The sound's rate is shown, not chosen: MS ADPCM's for the sample rate.
  EXPECT_FALSE(form.CboAudioBitrate->isEnabled());
  EXPECT_EQ(form.CboAudioBitrate->currentText(), "357 Kbps");
  form.CboAudioSampleRate->setCurrentIndex(0);
  EXPECT_EQ(form.CboAudioBitrate->currentText(), "178 Kbps");
  EXPECT_TRUE(form.RdbAutoSave->isChecked());
  std::string folder = Root + "/home/Documents/Quorvane/";
  EXPECT_EQ(form.EdtFolder->text().toStdString(), folder);
  TIniFile ini(GetOptionsFileName());
  EXPECT_EQ(ini.ReadString("Save", "OutputFolder", ""), folder);
  EXPECT_EQ(ini.ReadString("Recorder", "ShowTip", ""), "0");  // the balloon is shown once per file
  EXPECT_EQ(form.StartHotkeyId, -1);
  EXPECT_TRUE(Messages.empty());
}

TEST_F(Settings, TheControlsCarryTheCaptionsAndItems) {
  WriteOptions("[Recorder]\nShowTip=0\n");
  TFrmMain form;
  EXPECT_EQ(form.windowTitle(), "Options of Quorvane");
  EXPECT_EQ(form.RdbRegion->text(), "Define region before recording ");
  EXPECT_EQ(form.RdbAutoSave->text(),
            "Automatically generate file name, file name is in Date-time mode, such as 2011-01-27, 22_02_11.avi");
  struct {
    QComboBox* Combo;
    int Count;
    const char *First, *Last;
  } lists[] = {{form.CboFrameSize, 19, "128 x 96", "Custom..."},
               {form.CboFormat, 3, "AVI \u2013 MS-MPEG4 v2 / MS ADPCM", "MP4 \u2013 H.264 / AAC"},
               {form.CboQuality, 3, "High", "Low"},
               {form.CboFrameRate, 7, "10 fps", "60 fps"},
               {form.CboVideoBitrate, 8, "48 Kbps", "1600 Kbps"},
               {form.CboAudioSampleRate, 2, "22050 Hz", "44100 Hz"},
               {form.CboCountdown, 3, "Off", "5 s"}};
  for (const auto& l : lists) {
    EXPECT_EQ(l.Combo->count(), l.Count);
    EXPECT_EQ(l.Combo->itemText(0), l.First);
    EXPECT_EQ(l.Combo->itemText(l.Count - 1), l.Last);
  }
  for (const char* name : {"ChkRecordAudio", "ChkBlink", "ChkPlayBack", "EdtStartHotkey", "EdtStopHotkey",
                           "EdtPauseHotkey", "EdtResumeHotkey", "RdbRegion", "RdbWindow", "RdbFullScreen", "ChkSameArea",
                           "EdtFrameWidth", "EdtFrameHeight", "CboFrameSize", "CboVideoBitrate", "CboAudioBitrate",
                           "CboAudioSampleRate", "CboAudioSource", "CboCountdown", "RdbAutoSave", "RdbAskFileName",
                           "EdtFolder", "BtnBrowse", "BtnOK", "BtnCancel", "BtnHelp", "BtnAbout", "CboFormat", "CboQuality",
                           "CboFrameRate", "ChkKeepProportions", "LblFormatHint"})
    EXPECT_NE(form.findChild<QWidget*>(name), nullptr) << name;
}

TEST_F(Settings, UnusableValuesReadAsDefaultsAndTheUserHearsWhichOnce) {
  WriteOptions(
      "[Recorder]\nStartHotkey=None\nRegionToCapture=Everything\nBoolRecordAudio=maybe\nBoolBlinkRecord=0\nShowTip=0\n"
      "Countdown=4\n"
      "[OutputType]\nFrameSize=99\nVideoBitrate=-1\nBoolSameToOriginal=0\nWidth=641\nHeight=-480\nFormat=mov\n"
      "FrameRate=24\n"
      "[Save]\nBoolAutoSave=0\nOutputFolder=/srv/rec\n");
  TFrmMain form;
  form.LoadSettings(true);
  EXPECT_EQ(form.StartHotkeyId, -1);  // "None" registers nothing
  EXPECT_FALSE(form.Hotkeys().IsRegistered(-1));
  EXPECT_TRUE(form.RdbRegion->isChecked());
  EXPECT_TRUE(form.ChkRecordAudio->isChecked());  // unreadable -> default
  EXPECT_FALSE(form.ChkBlink->isChecked());
  EXPECT_EQ(form.CboFrameSize->currentIndex(), 6);  // outside the list: the default
  EXPECT_EQ(form.CboVideoBitrate->currentIndex(), 3);
  EXPECT_EQ(form.CboFormat->currentIndex(), 0);
  EXPECT_EQ(form.CboFrameRate->currentText(), "25 fps");
  EXPECT_EQ(form.EdtFrameWidth->Text(), "641");
  EXPECT_EQ(form.EdtFrameHeight->Text(), "240");
  EXPECT_TRUE(form.CboFrameSize->isEnabled());
  EXPECT_TRUE(form.RdbAskFileName->isChecked());
  EXPECT_EQ(form.EdtFolder->text(), "/srv/rec");
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].Text.find("\"Record Audio\" (Recorder/BoolRecordAudio), \"Countdown\" (Recorder/Countdown), \"frame height\" "
                                  "(OutputType/Height), \"Frame Size\" (OutputType/FrameSize), \"Video Bitrate\" "
                                  "(OutputType/VideoBitrate), \"Format\" (OutputType/Format), \"Frame Rate\" "
                                  "(OutputType/FrameRate)."),
            std::string::npos)
      << Messages[0].Text;
  form.LoadSettings(false);  // a reload (Cancel) does not say it again
  EXPECT_EQ(Messages.size(), 1u);
}

TEST_F(Settings, CancelAndTheCloseButtonRestoreEveryControlAndWriteNothing) {
  WriteOptions("[Recorder]\nShowTip=0\n[Save]\nOutputFolder=/srv/rec/\n");
  TFrmMain form;
  form.LoadSettings(true);
  const std::string saved = ReadOptions();
  for (int way = 0; way < 3; ++way) {
    form.MnuOptionsClick();
    ASSERT_TRUE(form.isVisible());
    form.ChkRecordAudio->setChecked(false);
    form.RdbFullScreen->setChecked(true);
    form.ChkSameArea->setChecked(false);
    form.EdtFrameWidth->SetText("1024");
    form.CboAudioSampleRate->setCurrentIndex(0);
    form.RdbAskFileName->setChecked(true);
    form.EdtStartHotkey->setText("F7");
    std::string asked;
    if (way == 0) form.BtnCancel->click();
    if (way == 1) form.close();  // the title bar's close button
    if (way == 2) {  // a key that is easily pressed by mistake: it asks first
      OnNextModal<QMessageBox>(&form, [&](QMessageBox* box) {
        asked = box->text().toStdString();
        box->button(QMessageBox::Discard)->click();
      });
      QTest::keyClick(&form, Qt::Key_Escape);
      // Asked without holding anything up: the answer comes later.
      EXPECT_TRUE(test::WaitFor([&] { return !form.isVisible(); }));
      EXPECT_EQ(asked, "The options were changed. Save the changes?");
    }
    EXPECT_FALSE(form.isVisible()) << way;
    EXPECT_FALSE(form.Closed()) << way;
    EXPECT_TRUE(form.ChkRecordAudio->isChecked()) << way;
    EXPECT_TRUE(form.RdbRegion->isChecked()) << way;
    EXPECT_TRUE(form.ChkSameArea->isChecked()) << way;
    EXPECT_FALSE(form.EdtFrameWidth->isEnabled()) << way;
    EXPECT_EQ(form.EdtFrameWidth->Text(), "320") << way;
    EXPECT_EQ(form.CboAudioSampleRate->currentIndex(), 1) << way;
    EXPECT_TRUE(form.RdbAutoSave->isChecked()) << way;
    EXPECT_EQ(form.EdtStartHotkey->text(), "") << way;
    EXPECT_EQ(ReadOptions(), saved) << way;
  }
  // Escape on a window as it was loaded asks nothing; asked, the user may go on editing or save.
  form.MnuOptionsClick();
  QTest::keyClick(&form, Qt::Key_Escape);
  EXPECT_FALSE(form.isVisible());
  for (const QMessageBox::StandardButton answer : {QMessageBox::Cancel, QMessageBox::Save}) {
    form.MnuOptionsClick();
    form.ChkBlink->setChecked(false);
    bool answered = false;
    OnNextModal<QMessageBox>(&form, [answer, &answered](QMessageBox* box) {
      box->button(answer)->click();
      answered = true;
    });
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_TRUE(test::WaitFor([&] { return answered; }));
    EXPECT_EQ(form.isVisible(), answer == QMessageBox::Cancel);
    EXPECT_FALSE(form.ChkBlink->isChecked());
  }
  EXPECT_EQ(TIniFile(GetOptionsFileName()).ReadString("Recorder", "BoolBlinkRecord", ""), "0");
}

TEST_F(Settings, OptionsBringsTheWindowBackFromTheTaskbarAndFromBehindOthers) {
  WriteOptions("[Recorder]\nShowTip=0\n[Save]\nOutputFolder=/srv/rec/\n");
  TFrmMain form;
  form.LoadSettings(true);
  QWidget other;
  other.setWindowTitle("another program");
  other.setGeometry(form.geometry().adjusted(-20, -20, 20, 20));
  const std::string formId = std::to_string(form.winId());
  const struct {
    const char* what;
    std::function<void()> sendAway;
  } cases[] = {
      {"minimised", [&] { ASSERT_EQ(std::system(("xdotool windowminimize --sync " + formId).c_str()), 0); }},
      {"behind another window with the focus",
       [&] {
         other.show();
         other.raise();
         other.activateWindow();
         ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    form.MnuOptionsClick();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    c.sendAway();
    ASSERT_TRUE(test::WaitFor([&] { return !form.isActiveWindow(); }));
    form.MnuOptionsClick();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    EXPECT_FALSE(form.isMinimized());
  }
}

// On a 1366x768 screen and on a 1920x1080 one at scale factor 2, each a desktop of its own: the
// window comes up whole on the screen, Tab reaches OK, which saves, and a size the user gives the
// window comes back the next time, as much of it as the screen holds.
TEST_F(Settings, TheWindowFitsSmallAndScaledScreensOkIsReachedByKeyAndItsSizeIsKept) {
  const char* rig = std::getenv("QV_TEST_SCREEN");
  if (!rig) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    for (const std::string screen : {"--size 1366x768", "--scale 2"})
      EXPECT_EQ(std::system(("QV_TEST_SCREEN='" + screen + "' '" QV_TEST_SOURCE_DIR "/../scripts/desktop-rig.sh' " +
                             screen + " --no-sound -- '" + self + "' --gtest_filter=Settings.TheWindowFits*")
                                .c_str()),
                0)
          << screen;
    return;
  }
  SCOPED_TRACE(rig);
  WriteOptions("[Recorder]\nShowTip=0\n[Save]\nOutputFolder=/srv/rec/\n");
  TFrmMain form;
  form.LoadSettings(true);
  // Shown, framed by the window manager, and given a moment to be put right.
  auto show = [&] {
    form.MnuOptionsClick();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    EXPECT_TRUE(test::WaitFor([&] { return form.frameGeometry() != form.geometry(); }));
    QTest::qWait(600);
  };
  auto onScreen = [&] {
    const QRect room = form.screen()->availableGeometry(), frame = form.frameGeometry();
    return ::testing::AssertionResult(room.contains(frame))
           << "frame " << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height() << " on "
           << room.x() << "," << room.y() << " " << room.width() << "x" << room.height();
  };
  show();
  EXPECT_TRUE(onScreen());
  const std::string shot = std::string(QV_BIN_DIR) + "/../test-artifacts/options_window_" +
                           (std::string(rig).find("scale") != std::string::npos ? "scale2" : "1366x768") + ".png";
  std::system(("mkdir -p \"$(dirname '" + shot + "')\" && import -window root '" + shot + "'").c_str());
  form.ChkBlink->setChecked(false);
  for (int presses = 0; !form.BtnOK->hasFocus() && presses < 100; ++presses)
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &form, Qt::Key_Tab);
  ASSERT_TRUE(form.BtnOK->hasFocus());
  QTest::keyClick(form.BtnOK, Qt::Key_Space);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(TIniFile(GetOptionsFileName()).ReadString("Recorder", "BoolBlinkRecord", ""), "0");

  show();
  const QSize chosen = form.size() - QSize(60, 50);
  const qreal ratio = form.devicePixelRatio();
  ASSERT_EQ(std::system(("xdotool windowsize --sync " + std::to_string(form.winId()) + " " +
                         std::to_string(int(chosen.width() * ratio)) + " " + std::to_string(int(chosen.height() * ratio)))
                            .c_str()),
            0);
  ASSERT_TRUE(test::WaitFor([&] { return form.size() == chosen; }));
  form.BtnCancel->click();
  TIniFile ini(GetOptionsFileName());
  EXPECT_EQ(ini.ReadInteger("Window", "OptionsWidth", 0), chosen.width());
  EXPECT_EQ(ini.ReadInteger("Window", "OptionsHeight", 0), chosen.height());
  show();
  EXPECT_EQ(form.size(), chosen);
  form.BtnCancel->click();
  ini.WriteInteger("Window", "OptionsWidth", 5000);
  ini.WriteInteger("Window", "OptionsHeight", 5000);
  ASSERT_TRUE(ini.UpdateFile());
  show();
  EXPECT_TRUE(onScreen());
  EXPECT_GT(form.height(), form.minimumHeight());
  form.BtnCancel->click();
}

// Browse starts in the output folder (the nearest one there is, before the first recording has
// made it); Help shows the program's own page when the desktop has nothing to open it with.
TEST_F(Settings, BrowseStartsAtTheOutputFolderAndHelpComesWithoutABrowser) {
  std::filesystem::create_directories(Root + "/videos");
  WriteOptions("[Recorder]\nShowTip=0\n[Save]\nOutputFolder=" + Root + "/videos/not made yet/\n");
  TFrmMain form;
  form.LoadSettings(true);
  form.MnuOptionsClick();
  QString started;
  OnNextModal<QFileDialog>(&form, [&](QFileDialog* dialog) {
    started = dialog->directory().absolutePath();
    dialog->reject();
  });
  form.BtnBrowse->click();
  EXPECT_EQ(started.toStdString(), Root + "/videos");
  EXPECT_EQ(form.EdtFolder->text().toStdString(), Root + "/videos/not made yet/");

  // An opener that finds no browser, as xdg-open says it.
  std::filesystem::create_directories(Root + "/bin");
  std::ofstream(Root + "/bin/xdg-open") << "#!/bin/sh\necho 'xdg-open: no method available' >&2\nexit 3\n";
  std::filesystem::permissions(Root + "/bin/xdg-open", std::filesystem::perms::owner_all);
  const std::string path = std::getenv("PATH");
  setenv("PATH", (Root + "/bin:" + path).c_str(), 1);
  form.BtnHelp->click();
  QWidget* help = nullptr;
  EXPECT_TRUE(test::WaitFor([&] { return (help = form.findChild<QWidget*>("FrmHelp")) && help->isVisible(); }));
  setenv("PATH", path.c_str(), 1);
  ASSERT_NE(help, nullptr);
  const QString page = help->findChild<QTextBrowser*>("TxtHelp")->toPlainText();
  EXPECT_TRUE(page.contains("AVI, MKV or MP4")) << page.toStdString();
  help->close();
}

TEST_F(Settings, OkRefusesAZeroSizeOnlyWhileTheSizeIsUsed) {
  struct {
    bool SameArea;
    const char *Width, *Height, *Message;
  } cases[] = {
      {false, "0", "240", "Please enter a valid frame width value."},
      {false, "320", "0", "Please enter a valid frame height value."},
      {true, "0", "0", nullptr},  // the size boxes are off: nothing to refuse
      {false, "00", "240", nullptr},
  };
  for (const auto& c : cases) {
    WriteOptions("[Recorder]\nShowTip=0\n[Save]\nOutputFolder=/srv/rec/\n");
    Messages.clear();
    TFrmMain form;
    form.LoadSettings(true);
    const std::string before = ReadOptions();
    form.MnuOptionsClick();
    form.ChkSameArea->setChecked(c.SameArea);
    form.EdtFrameWidth->SetText(c.Width);
    form.EdtFrameHeight->SetText(c.Height);
    form.BtnOK->click();
    if (c.Message) {
      ASSERT_EQ(Messages.size(), 1u) << c.Width << "x" << c.Height;
      EXPECT_EQ(Messages[0].Text, c.Message);
      EXPECT_EQ(Messages[0].Caption, "Quorvane");
      EXPECT_EQ(Messages[0].Icon, TMessageIcon::Error);
      EXPECT_TRUE(form.isVisible());
      EXPECT_EQ(ReadOptions(), before);  // nothing written
    } else {
      EXPECT_TRUE(Messages.empty()) << LastMessage();
      EXPECT_FALSE(form.isVisible());
      TIniFile ini(GetOptionsFileName());
      EXPECT_EQ(ini.ReadString("OutputType", "Width", ""), c.Width);
      EXPECT_EQ(ini.ReadString("OutputType", "Height", ""), c.Height);
    }
  }
}

TEST_F(Settings, FrameSizeControlsStayInStep) {
  WriteOptions("[Recorder]\nShowTip=0\n[OutputType]\nBoolSameToOriginal=0\n[Save]\nOutputFolder=/srv/\n");
  TFrmMain form;
  form.LoadSettings(true);
  struct {
    const char *Width, *Height, *Selected;
  } typed[] = {{"640", "480", "640 x 480"}, {"641", "480", "Custom..."}, {"1280", "960", "1280 x 960"},
               {"", "960", "Custom..."},    {"128", "96", "128 x 96"},       {"1280", "720", "1280 x 720"}};
  for (const auto& t : typed) {
    form.EdtFrameWidth->SetText(t.Width);
    form.EdtFrameHeight->SetText(t.Height);
    EXPECT_EQ(form.CboFrameSize->currentText(), t.Selected) << t.Width << " x " << t.Height;
  }
  // Typing goes through the box's own rules: digits only.
  form.EdtFrameWidth->SetText("");
  QTest::keyClicks(form.EdtFrameWidth, "6a4x0");
  EXPECT_EQ(form.EdtFrameWidth->Text(), "640");
  // Choosing a size fills the boxes; choosing "Custom..." leaves them.
  form.CboFrameSize->setCurrentIndex(13);
  emit form.CboFrameSize->activated(13);
  EXPECT_EQ(form.EdtFrameWidth->Text(), "1024");
  EXPECT_EQ(form.EdtFrameHeight->Text(), "768");
  EXPECT_EQ(form.CboFrameSize->currentText(), "1024 x 768");
  form.CboFrameSize->setCurrentIndex(18);
  emit form.CboFrameSize->activated(18);
  EXPECT_EQ(form.EdtFrameWidth->Text(), "1024");
  EXPECT_EQ(form.EdtFrameHeight->Text(), "768");
  // Same-area switches the six size controls together.
  form.ChkSameArea->setChecked(true);
  EXPECT_FALSE(form.LblFrameHeight->isEnabled());
  form.ChkSameArea->setChecked(false);
  EXPECT_TRUE(form.LblFrameHeight->isEnabled());
  EXPECT_TRUE(form.CboFrameSize->isEnabled());
}

TEST_F(Settings, LeavingASizeBoxEmptyPutsZeroBack) {
  WriteOptions("[Recorder]\nShowTip=0\n[OutputType]\nBoolSameToOriginal=0\n[Save]\nOutputFolder=/srv/\n");
  TFrmMain form;
  form.LoadSettings(true);
  form.MnuOptionsClick();
  if (!QTest::qWaitForWindowActive(&form)) GTEST_SKIP() << "the window manager did not activate the window";
  struct {
    TSpinEdit *Box, *Next;
    const char* Message;
  } cases[] = {{form.EdtFrameWidth, form.EdtFrameHeight, "Please enter a valid frame width."},
               {form.EdtFrameHeight, form.EdtFrameWidth, "Please enter a valid frame height."}};
  for (const auto& c : cases) {
    Messages.clear();
    c.Box->setFocus(Qt::OtherFocusReason);
    c.Box->SetText("");
    c.Next->setFocus(Qt::TabFocusReason);
    test::WaitFor([&] { return !Messages.empty(); }, 1000);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Text, c.Message);
    EXPECT_EQ(c.Box->Text(), "0");
    EXPECT_TRUE(c.Box->hasFocus());
  }
}

TEST_F(Settings, OkWritesEveryControlAndAReloadShowsIt) {
  // The sound's rate is no longer chosen; an older file's choice is left as it was. A monitor that
  // is not connected stays the choice.
  WriteOptions("[Recorder]\nShowTip=0\nScreen=DP-9\nAudioSource=qv_gone.monitor\n[OutputType]\nAudioBitrate=4\n");
  {
    TFrmMain form;
    form.LoadSettings(true);
    form.ChkRecordAudio->setChecked(false);
    form.ChkPlayBack->setChecked(false);
    form.ChkShowClicks->setChecked(true);
    form.ChkShowKeys->setChecked(true);
    form.ChkSpotlight->setChecked(true);
    form.CboKeysShown->setCurrentIndex(1);
    form.CboKeysCorner->setCurrentIndex(3);
    form.RdbWindow->setChecked(true);
    form.CboCountdown->setCurrentIndex(2);
    form.ChkSameArea->setChecked(false);
    form.EdtFrameWidth->SetText("1280");
    form.EdtFrameHeight->SetText("720");
    form.ChkKeepProportions->setChecked(true);
    form.CboFormat->setCurrentIndex(1);
    form.CboQuality->setCurrentIndex(0);
    form.CboFrameRate->setCurrentIndex(4);
    form.CboVideoBitrate->setCurrentIndex(7);
    form.CboAudioSampleRate->setCurrentIndex(0);
    form.DesktopRow->Source->setCurrentIndex(form.DesktopRow->Source->findData("desktop"));
    form.DesktopRow->Volume->setValue(150);
    form.MicRow->Mute->setChecked(true);
    form.RdbAskFileName->setChecked(true);
    form.EdtFolder->setText("/srv/my videos");
    form.BtnOK->click();
    EXPECT_TRUE(Messages.empty()) << LastMessage();
  }
  TIniFile ini(GetOptionsFileName());
  struct {
    const char *Section, *Key, *Value;
  } expected[] = {{"Recorder", "BoolRecordAudio", "0"},  {"Recorder", "BoolBlinkRecord", "1"},
                  {"Recorder", "BoolPlayback", "0"},     {"Recorder", "RegionToCapture", "Window"},
                  {"Recorder", "Screen", "DP-9"},       {"Recorder", "AudioSource", "qv_gone.monitor"},
                  {"Recorder", "Countdown", "5"},       {"Recorder", "BoolShowClicks", "1"},
                  {"Recorder", "BoolShowKeys", "1"},    {"Recorder", "KeysShown", "all"},
                  {"Recorder", "KeysCorner", "top-right"}, {"Recorder", "BoolSpotlight", "1"},
                  {"Recorder", "StartHotkey", ""},       {"OutputType", "BoolSameToOriginal", "0"},
                  {"OutputType", "FrameSize", "17"},     {"OutputType", "Width", "1280"},
                  {"OutputType", "Height", "720"},       {"OutputType", "VideoBitrate", "7"},
                  {"OutputType", "Format", "mkv"},       {"OutputType", "Quality", "high"},
                  {"OutputType", "FrameRate", "30"},     {"OutputType", "BoolKeepProportions", "1"},
                  {"OutputType", "AudioBitrate", "4"},   {"OutputType", "AudioSamplerate", "0"},
                  {"Save", "BoolAutoSave", "0"},         {"Save", "OutputFolder", "/srv/my videos"},
                  {"Recorder", "DesktopSource", "desktop"}, {"Recorder", "DesktopVolume", "150"},
                  {"Recorder", "MicrophoneMute", "1"},   {"Recorder", "MicrophoneVolume", "100"}};
  for (const auto& e : expected) {
    EXPECT_TRUE(ini.ValueExists(e.Section, e.Key)) << e.Key;
    EXPECT_EQ(ini.ReadString(e.Section, e.Key, "?"), e.Value) << e.Key;
  }
  TFrmMain again;
  again.LoadSettings(false);
  EXPECT_TRUE(again.RdbWindow->isChecked());
  EXPECT_TRUE(again.ChkShowClicks->isChecked());
  EXPECT_TRUE(again.ChkShowKeys->isChecked());
  EXPECT_EQ(again.CboKeysCorner->currentText(), "Top right");
  // With typed text shown, the window says so, passwords included.
  EXPECT_TRUE(again.LblKeysShown->text().contains("passwords")) << again.LblKeysShown->text().toStdString();
  EXPECT_EQ(again.CboScreen->currentText(), "DP-9 (not connected)");
  EXPECT_EQ(again.CboAudioSource->currentText(), "qv_gone.monitor (not present)");
  EXPECT_EQ(again.CboCountdown->currentText(), "5 s");
  EXPECT_EQ(again.CboFrameSize->currentText(), "1280 x 720");
  EXPECT_TRUE(again.ChkKeepProportions->isChecked());
  EXPECT_EQ(again.CboFormat->currentText().toStdString(), FormatTitle(TOutputFormat::Mkv));
  // H.264 takes a quality, not the bit rate; Opus takes no sample rate.
  EXPECT_EQ(again.CboQuality->currentText(), "High");
  EXPECT_TRUE(again.CboQuality->isEnabled());
  EXPECT_FALSE(again.CboVideoBitrate->isEnabled());
  EXPECT_FALSE(again.CboAudioSampleRate->isEnabled());
  EXPECT_EQ(again.CboAudioSampleRate->currentIndex(), -1);  // shows what Opus is written at
  EXPECT_EQ(again.CboAudioSampleRate->placeholderText(), "48000 Hz");
  EXPECT_EQ(again.CboAudioBitrate->currentText(), "96 Kbps");
  EXPECT_TRUE(again.RdbAutoSave->text().endsWith(", 22_02_11.mkv")) << again.RdbAutoSave->text().toStdString();
  EXPECT_EQ(again.CboFrameRate->currentText(), "30 fps");
  EXPECT_EQ(again.CboVideoBitrate->currentText(), "1600 Kbps");
  EXPECT_TRUE(again.RdbAskFileName->isChecked());
  EXPECT_EQ(again.EdtFolder->text(), "/srv/my videos");
  // A format that takes the chosen rate shows it again.
  again.CboFormat->setCurrentIndex(0);
  EXPECT_EQ(again.CboAudioSampleRate->currentText(), "22050 Hz");
  EXPECT_TRUE(again.RdbAutoSave->text().endsWith(", 22_02_11.avi"));
  // A file from before the 16:9 sizes: its 15 is still "Custom...".
  WriteOptions("[Recorder]\nShowTip=0\n[OutputType]\nBoolSameToOriginal=0\nFrameSize=15\nWidth=700\nHeight=500\n");
  TFrmMain older;
  older.LoadSettings(false);
  EXPECT_EQ(older.CboFrameSize->currentText(), "Custom...");
}

// The rig's second sink plays 440 Hz and the desktop 1 kHz, both at half of full scale: a peak of
// -6 dB and an RMS of -9 dB, 6 dB less at 50%.
TEST_F(Settings, TheMetersShowEachSourcesLevelWhileTheWindowIsOpen) {
  WriteOptions("[Recorder]\nShowTip=0\nAudioSource=qv_voice.monitor\nDesktopSource=desktop\nDesktopVolume=50\n");
  ASSERT_TRUE(FFLoader().LoadLibraries(kEncoderLibraries)) << FFLoader().LastError();
  TFrmMain form;
  form.LoadSettings(false);
  form.show();
  const QString minus = QString::fromUtf8("\u2212");
  EXPECT_TRUE(test::WaitFor([&] {
    return form.MicRow->Level->text() == minus + "6 dB (RMS " + minus + "9)" &&
           form.DesktopRow->Level->text() == minus + "12 dB (RMS " + minus + "15)";
  }, 10000)) << form.MicRow->Level->text().toStdString() << " / " << form.DesktopRow->Level->text().toStdString();
  EXPECT_EQ(form.MicRow->Meter->value(), -6);
  EXPECT_EQ(form.DesktopRow->Meter->value(), -12);
  if (const char* shot = std::getenv("QV_METER_SCREENSHOT")) form.grab().save(shot);
  form.MicRow->Mute->setChecked(true);
  EXPECT_TRUE(test::WaitFor([&] { return form.MicRow->Level->text() == "muted"; }));
  form.hide();
  EXPECT_TRUE(test::WaitFor([&] { return !form.MicRow->Live && !form.DesktopRow->Live; }));
}

TEST_F(Settings, AHandEditedFileKeepsItsCommentsAndUnknownKeys) {
  const std::string original =
      "; my notes: do not lose them\n"
      "[Recorder]\n"
      "BoolRecordAudio=1\n"
      "# hotkeys below\n"
      "FavouriteColour=green\n"
      "ShowTip=0\n"
      "\n"
      "[Plugins]\n"
      "Enabled=yes\n";
  WriteOptions(original);
  TFrmMain form;
  form.LoadSettings(true);
  form.ChkRecordAudio->setChecked(false);
  form.BtnOK->click();
  std::string after = ReadOptions();
  for (const char* kept : {"; my notes: do not lose them\n", "# hotkeys below\n", "FavouriteColour=green\n",
                           "[Plugins]\nEnabled=yes\n"})
    EXPECT_NE(after.find(kept), std::string::npos) << kept << "\n---\n" << after;
  EXPECT_NE(after.find("[Recorder]\nBoolRecordAudio=0\n"), std::string::npos) << after;
  TIniFile ini(GetOptionsFileName());
  EXPECT_EQ(ini.ReadString("Plugins", "Enabled", ""), "yes");
  EXPECT_EQ(ini.ReadString("Recorder", "FavouriteColour", ""), "green");
}

TEST_F(Settings, AnUnwritableFileKeepsTheWindowOpenAndSaysSo) {
  WriteOptions("[Recorder]\nShowTip=0\n[Save]\nOutputFolder=/srv/\n");
  TFrmMain form;
  form.LoadSettings(true);
  form.MnuOptionsClick();
  // The settings folder vanishes under the program (a sync tool, a user's rm -r).
  std::filesystem::remove_all(Root + "/config/Quorvane");
  form.BtnOK->click();
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].Text.find("Unable to write to"), std::string::npos) << Messages[0].Text;
  EXPECT_TRUE(form.isVisible());
}

}  // namespace
}  // namespace qv
