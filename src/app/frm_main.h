// The options window: the settings editor, and the owner of the tray icon, the tray menu, the
// notices and the hotkeys. It stays hidden except while the user edits options; only "Exit" closes
// it for good.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QRect>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
class QScrollArea;
class QSystemTrayIcon;
class QTimer;

namespace qv {

class TGlobalShortcuts;
class TIniFile;
class THotkeyEdit;
class THotkeyGrabber;
class TNotices;
class TRecordingController;
class TSpinEdit;
struct TSoundRow;

enum class TTrayState { Idle, Recording, Paused };

// One value the options window writes to the settings file.
struct TSettingValue {
  const char* Section;
  const char* Key;
  std::string Value;
  bool operator==(const TSettingValue&) const = default;
};

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
  // Where no key can be grabbed: the desktop's global shortcuts where it has them, and the commands
  // to bind in its keyboard settings.
  void UseDesktopShortcuts();
  // Step 4 of the save: every hotkey is tried. False when one could not be registered: the message
  // named it, its box is marked and keeps the text, it keeps its old combination and file entry.
  bool ReregisterHotkeys(TIniFile& ini);
  void ReleaseHotkeys();
  void HotkeyPressed(long id);
  // What a hotkey does, by its place in the order start, stop, pause, resume; nothing where its menu
  // item is off.
  void RunHotkey(int slot);
  // Each recording item shows the combination its hotkey holds now (Start, Stop, Pause, Resume).
  void ShowHotkeysInMenu(const std::array<std::string, 4>& texts);

  // Tray and menu.
  void MnuStartRecordClick();
  void MnuPauseRecordClick();
  void MnuResumeRecordClick();
  void MnuStopRecordClick();
  void MnuOptionsClick();
  void MnuRecentClick();  // the recent recordings' window, made once
  void MnuExitClick();
  // End of the desktop session: behave like the close button (hide, drop edits) and let it end.
  void QueryEndSession();
  // The close step: stop the recording, release the hotkeys, remove the icon. Runs once.
  void FormClose();
  bool Closed() const { return FClosed; }
  TTrayState TrayState() const;
  // What a running recording has done so far ("Recording: 00:01:23, 4.2 MB, name.avi"), shown in
  // the tooltip and at the top of the menu; empty when idle (the menu then says "Not recording").
  void ShowRecordingStatus(const std::string& status);
  // News the user did not ask for: the desktop's notifications, the tray's balloons or the control
  // window, whichever there is; never a box to click away.
  TNotices& Notices() { return *FNotices; }

  // What OK writes, as the controls show it now: without the hotkeys (written as they register), or
  // with the hotkey boxes' texts too.
  std::vector<TSettingValue> SettingsShown(bool withHotkeys) const;
  // The controls differ from what was last loaded or saved.
  bool Edited() const { return SettingsShown(true) != Loaded; }

  // Controls (object names as below) and menu items, for the controller.
  QCheckBox *ChkRecordAudio, *ChkBlink, *ChkEveryFrame, *ChkPlayBack, *ChkSameArea;
  QCheckBox* ChkShowClicks;  // a fading ring at each mouse button press, in the recording only
  // Labels of the keys pressed, in the recording only: what is shown (an item per TKeysMode, in its
  // order), at which corner (an item per TKeysCorner), and a line saying plainly what is drawn.
  QCheckBox* ChkShowKeys;
  QCheckBox* ChkSpotlight;  // a soft highlight around the moving pointer, stronger click rings
  QComboBox *CboKeysShown, *CboKeysCorner;
  QLabel* LblKeysShown;
  void ShowKeysControls();
  QRadioButton *RdbRegion, *RdbWindow, *RdbFullScreen, *RdbAskFileName, *RdbAutoSave;
  THotkeyEdit *EdtStartHotkey, *EdtStopHotkey, *EdtPauseHotkey, *EdtResumeHotkey;
  QComboBox *CboFrameSize, *CboVideoBitrate, *CboAudioBitrate, *CboAudioSampleRate;
  // Which screen a full-screen recording covers; each item's data is its "Screen" value.
  QComboBox* CboScreen;
  // The sound source (each item's data is its name, capture/sound_sources.h) and the seconds counted
  // down before a recording starts (each item's data: 0, 3 or 5).
  QComboBox *CboAudioSource, *CboCountdown;
  // The microphone's row (its source box is CboAudioSource) and the desktop sound's (CboDesktopSound):
  // source or none, volume, mute, live level (sound_rows.h).
  std::unique_ptr<TSoundRow> MicRow, DesktopRow;
  // Each mixed source's level while recording ("Microphone −18 dB, Desktop −30 dB"), below the
  // status in the tooltip and the control window; empty for none.
  void ShowSoundLevels(const std::string& levels);
  QString SoundLevels() const;
  // The output's format (an item per TOutputFormat, in its order), H.264's quality (an item per
  // TVideoQuality), the frame rate (kFrameRates), the proportions kept within a size of its own.
  QComboBox *CboFormat, *CboQuality, *CboFrameRate;
  QCheckBox* ChkKeepProportions;
  QLabel* LblFormatHint;
  TOutputFormat ChosenFormat() const;
  // The bit rate for the AVI, the quality for H.264; the sample rate where the sound takes one, else
  // the rate the format writes; the file-name example with the format's extension.
  void ShowFormatControls();
  // The item of CboAudioSampleRate chosen for the formats that take a rate (the settings' index).
  int SampleRateIndex() const;
  TSpinEdit *EdtFrameWidth, *EdtFrameHeight;
  QLineEdit* EdtFolder;
  QLabel *LblFrameSize, *LblFrameWidth, *LblFrameHeight;
  QLabel* LblHotkeysUnavailable;  // shown where no key can be grabbed (a Wayland session)
  QPushButton *BtnBrowse, *BtnOK, *BtnCancel, *BtnHelp, *BtnAbout;
  QMenu* PopupMenu;
  QAction *MnuStatus, *MnuStartRecord, *MnuPauseRecord, *MnuResumeRecord, *MnuStopRecord, *MnuOptions, *MnuExit;
  QAction* MnuRecent;
  QSystemTrayIcon* TrayIcon;
  QScrollArea* ScrPage;  // every group; the buttons stay below it, in sight at any window size

  long StartHotkeyId = -1, StopHotkeyId = -1, PauseHotkeyId = -1, ResumeHotkeyId = -1;
  bool ExitRequested = false;
  std::string OutputFileName;

  THotkeyGrabber& Hotkeys() { return *Grabber; }

  // The window's size when no size is remembered (or it does not fit): what the groups need, side by
  // side at the usual width, with the buttons below them.
  QSize NaturalSize() const;
  void setVisible(bool visible) override;

 signals:
  // The area a recording is about to record, in desktop pixels; an empty one when it has ended.
  // The controller says it; whatever stands on the screen in the program's name keeps out of it.
  void RecordingArea(const QRect& area);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // Escape: the edits are dropped, after asking when there are any.
  void reject() override;

 private:
  void BuildControls();
  QWidget* ButtonRow();
  // Sized for the screen it comes up on (the remembered size where that fits), before it is shown;
  // once the window manager has framed it, the frame is kept on that screen.
  void FitToScreen();
  void KeepFrameOnScreen();
  void RememberSize();
  QGroupBox* SoundAndCountdownGroup();
  // Every 100 ms while the window is shown: the meters run while nothing is recorded.
  void TickMeters();
  QGroupBox* KeysGroup();  // frm_main_keys.cpp
  void BuildFormatControls();
  void BuildTray();
  void UpdateTrayIcon();
  void ShowFirstRunTip();
  QWidget* CommandRows();
  void BindDesktopShortcuts();
  // The keys each recording item names, in the order start, stop, pause, resume ("" for none).
  void ShowKeysInMenu(const std::array<std::string, 4>& keys);

  std::unique_ptr<THotkeyGrabber> Grabber;
  std::unique_ptr<TGlobalShortcuts> Shortcuts;  // only where no key can be grabbed and the desktop has them
  std::unique_ptr<TNotices> FNotices;
  TRecordingController* Controller = nullptr;
  bool FClosed = false;
  std::vector<TSettingValue> Loaded;
  std::string SettingsWriteError;  // the last one told, until the file can be written again
  // The sample rate chosen for the formats that take one, kept while another format shows its own.
  int SampleRateChoice = 1;
  QIcon StateIcons[3];  // by TTrayState, made once
  std::optional<TTrayState> IconShown;  // the state whose icon the tray shows
  QSize SizeShown;  // as the window came up; a different size at hiding is the user's and is kept
  QTimer* MeterTimer = nullptr;
};

}  // namespace qv
