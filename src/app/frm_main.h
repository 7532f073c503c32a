// The options window: the settings editor, and the owner of the tray icon, the tray menu and the
// hotkeys. It stays hidden except while the user edits options; only "Exit" closes it for good.
#pragma once

#include <QDialog>
#include <array>
#include <memory>
#include <string>

#include "recording/output_format.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSystemTrayIcon;

namespace qv {

class TIniFile;
class THotkeyEdit;
class THotkeyGrabber;
class TRecordingController;
class TSpinEdit;

enum class TTrayState { Idle, Recording, Paused };

class TFrmMain : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmMain(QWidget* parent = nullptr);
  ~TFrmMain() override;

  // The creation sequence after the controls exist: media libraries, tray icon, settings, hotkeys,
  // menu state. False when the program cannot run (the message has been shown).
  bool Initialize();

  // The recording side; the window does not own it. Without one the recording items do nothing.
  void SetController(TRecordingController* controller) { Controller = controller; }

  // Settings: load (creation step), reload (Cancel, close request, recording start), save (OK).
  void LoadSettings(bool atStartup);
  void BtnCancelClick();
  void BtnOKClick();
  void BtnBrowseClick();
  void BtnHelpClick();
  void BtnAboutClick();

  // The sound's bit rate, which follows from the format and the sample rate.
  void ShowAudioBitrate();
  // Frame-size controls kept in step with each other.
  void ChkSameAreaClick();
  void CboFrameSizeChange();
  void EdtFrameWidthChange();
  void EdtFrameHeightChange();
  void EdtFrameWidthExit();
  void EdtFrameHeightExit();

  // Hotkeys.
  void RegisterHotkeysAtStartup();
  void ShowHotkeysUnavailable();
  // Step 4 of the save: every hotkey is tried. False when one could not be registered: the message
  // named it, its box is marked and keeps the text, it keeps its old combination and file entry.
  bool ReregisterHotkeys(TIniFile& ini);
  void ReleaseHotkeys();
  void HotkeyPressed(long id);
  // Each recording item shows the combination its hotkey holds now (Start, Stop, Pause, Resume).
  void ShowHotkeysInMenu(const std::array<std::string, 4>& texts);

  // Tray and menu.
  void MnuStartRecordClick();
  void MnuPauseRecordClick();
  void MnuResumeRecordClick();
  void MnuStopRecordClick();
  void MnuOptionsClick();
  void MnuExitClick();
  // End of the desktop session: behave like the close button (hide, drop edits) and let it end.
  void QueryEndSession();
  // The close step: stop the recording, release the hotkeys, remove the icon. Runs once.
  void FormClose();
  bool Closed() const { return FClosed; }
  TTrayState TrayState() const;
  // What a running recording has done so far ("Recording: 00:01:23, 4.2 MB, name.avi"), shown in
  // the tooltip and at the top of the menu; empty when idle.
  void ShowRecordingStatus(const std::string& status);

  // Controls (object names as below) and menu items, for the controller.
  QCheckBox *ChkRecordAudio, *ChkBlink, *ChkEveryFrame, *ChkPlayBack, *ChkSameArea;
  QCheckBox* ChkShowClicks;  // a fading ring at each mouse button press, in the recording only
  QRadioButton *RdbRegion, *RdbWindow, *RdbFullScreen, *RdbAskFileName, *RdbAutoSave;
  THotkeyEdit *EdtStartHotkey, *EdtStopHotkey, *EdtPauseHotkey, *EdtResumeHotkey;
  QComboBox *CboFrameSize, *CboVideoBitrate, *CboAudioBitrate, *CboAudioSampleRate;
  // Which screen a full-screen recording covers; each item's data is its "Screen" value.
  QComboBox* CboScreen;
  // The sound source (each item's data is its name, capture/sound_sources.h) and the seconds counted
  // down before a recording starts (each item's data: 0, 3 or 5).
  QComboBox *CboAudioSource, *CboCountdown;
  // The output's format (an item per TOutputFormat, in its order), H.264's quality (an item per
  // TVideoQuality), the frame rate (kFrameRates), the proportions kept within a size of its own.
  QComboBox *CboFormat, *CboQuality, *CboFrameRate;
  QCheckBox* ChkKeepProportions;
  QLabel* LblFormatHint;
  TOutputFormat ChosenFormat() const;
  // The bit rate for the AVI, the quality for H.264; the sample rate where the sound takes one.
  void ShowFormatControls();
  TSpinEdit *EdtFrameWidth, *EdtFrameHeight;
  QLineEdit* EdtFolder;
  QLabel *LblFrameSize, *LblFrameWidth, *LblFrameHeight;
  QLabel* LblHotkeysUnavailable;  // shown where no hotkey can work (a Wayland session)
  QPushButton *BtnBrowse, *BtnOK, *BtnCancel, *BtnHelp, *BtnAbout;
  QMenu* PopupMenu;
  QAction *MnuStatus, *MnuStartRecord, *MnuPauseRecord, *MnuResumeRecord, *MnuStopRecord, *MnuOptions, *MnuExit;
  QSystemTrayIcon* TrayIcon;

  long StartHotkeyId = -1, StopHotkeyId = -1, PauseHotkeyId = -1, ResumeHotkeyId = -1;
  bool ExitRequested = false;
  std::string OutputFileName;

  THotkeyGrabber& Hotkeys() { return *Grabber; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  void BuildControls();
  QGroupBox* SoundAndCountdownGroup();
  void BuildFormatControls();
  void BuildTray();
  void UpdateTrayIcon();
  void ShowFirstRunTip();

  std::unique_ptr<THotkeyGrabber> Grabber;
  TRecordingController* Controller = nullptr;
  bool FClosed = false;
};

}  // namespace qv
