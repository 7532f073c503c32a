// Loading, reloading and saving the settings file, and the hotkeys that live in it.
#include "app/frm_main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QRadioButton>

#include "app/form_widgets.h"
#include "app/hotkey_grabber.h"
#include "app/ini_file.h"
#include "app/message_box.h"
#include "app/unit_general.h"

namespace qv {

namespace {

constexpr const char* kRecorder = "Recorder";
constexpr const char* kOutputType = "OutputType";
constexpr const char* kSave = "Save";

struct THotkeySlot {
  const char* Key;
  const char* AtomName;
  const char* StartupPrefix;
  const char* SavePrefix;
};

// Start, stop, pause, resume: the order of every registration pass.
constexpr THotkeySlot kSlots[4] = {
    {"StartHotkey", "ZMX_ScreenRecorder_StartHotkey", "The hotkey of Starting screen recording ",
     "The hotkey of Starting screen recording "},
    {"StopHotkey", "ZMX_ScreenRecorder_StopHotkey", "The hotkey of Stopping screen recording ",
     "The hotkey of Stopping screen recording "},
    {"PauseHotkey", "ZMX_ScreenRecorder_PauseHotkey", "The hotkey of Pausing screen recording ",
     "The hotkey of Pausing screen recording "},
    {"ResumeHotkey", "ZMX_ScreenRecorder_ResumeHotkey", "The hotkey of resuming screen recording ",
     "The hotkey of Resuming screen recording "},
};

std::string AlreadyUsed(const char* prefix, const std::string& text) {
  return std::string(prefix) + "\"" + text + "\" is already used, please change it to another hotkey";
}

void SetComboIndex(QComboBox* combo, int index) {
  // An index outside the list leaves the box without a selection, as the file says nothing usable.
  combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

}  // namespace

void TFrmMain::LoadSettings(bool atStartup) {
  TIniFile ini(GetOptionsFileName());
  ChkRecordAudio->setChecked(ini.ReadBool(kRecorder, "BoolRecordAudio", true));
  ChkBlink->setChecked(ini.ReadBool(kRecorder, "BoolBlinkRecord", true));
  ChkPlayBack->setChecked(ini.ReadBool(kRecorder, "BoolPlayback", true));
  THotkeyEdit* edits[4] = {EdtStartHotkey, EdtStopHotkey, EdtPauseHotkey, EdtResumeHotkey};
  for (int i = 0; i < 4; ++i) edits[i]->setText(QString::fromStdString(ini.ReadString(kRecorder, kSlots[i].Key, "")));
  if (atStartup) RegisterHotkeysAtStartup();

  std::string mode = ini.ReadString(kRecorder, "RegionToCapture", "Region");
  if (mode == "Window")
    RdbWindow->setChecked(true);
  else if (mode == "FullScreen")
    RdbFullScreen->setChecked(true);
  else
    RdbRegion->setChecked(true);

  ChkSameArea->setChecked(ini.ReadBool(kOutputType, "BoolSameToOriginal", true));
  ChkSameAreaClick();  // also when the state did not change
  EdtFrameWidth->SetText(QString::fromStdString(ini.ReadString(kOutputType, "Width", "320")));
  EdtFrameHeight->SetText(QString::fromStdString(ini.ReadString(kOutputType, "Height", "240")));
  SetComboIndex(CboFrameSize, ini.ReadInteger(kOutputType, "FrameSize", 6));
  SetComboIndex(CboVideoBitrate, ini.ReadInteger(kOutputType, "VideoBitrate", 3));
  SetComboIndex(CboAudioBitrate, ini.ReadInteger(kOutputType, "AudioBitrate", 7));
  SetComboIndex(CboAudioSampleRate, ini.ReadInteger(kOutputType, "AudioSamplerate", 1));

  if (ini.ReadBool(kSave, "BoolAutoSave", true))
    RdbAutoSave->setChecked(true);
  else
    RdbAskFileName->setChecked(true);
  std::string folder = ini.ReadString(kSave, "OutputFolder", "");
  if (folder.empty()) {
    folder = GetDefaultOutputFolder();
    if (folder.empty()) folder = "/";
    ini.WriteString(kSave, "OutputFolder", folder);
  }
  EdtFolder->setText(QString::fromStdString(folder));

  if (atStartup && ini.ReadBool(kRecorder, "ShowTip", true)) {
    ShowFirstRunTip();
    ini.WriteBool(kRecorder, "ShowTip", false);
  }
  if (!ini.UpdateFile()) ShowMessageBox(this, ini.LastError(), "Quorvane", TMessageIcon::Error);
}

void TFrmMain::BtnCancelClick() {
  hide();
  LoadSettings(false);
}

void TFrmMain::BtnOKClick() {
  if (EdtFrameWidth->isEnabled() && EdtFrameWidth->Text() == "0") {
    ShowMessageBox(this, "Please enter a valid frame width value.", "Quorvane", TMessageIcon::Error);
    EdtFrameWidth->setFocus();
    return;
  }
  if (EdtFrameHeight->isEnabled() && EdtFrameHeight->Text() == "0") {
    ShowMessageBox(this, "Please enter a valid frame height value.", "Quorvane", TMessageIcon::Error);
    EdtFrameHeight->setFocus();
    return;
  }
  TIniFile ini(GetOptionsFileName());
  ini.WriteBool(kRecorder, "BoolRecordAudio", ChkRecordAudio->isChecked());
  ini.WriteBool(kRecorder, "BoolBlinkRecord", ChkBlink->isChecked());
  ini.WriteBool(kRecorder, "BoolPlayback", ChkPlayBack->isChecked());
  bool hotkeysDone = ReregisterHotkeys(ini);
  if (hotkeysDone) {
    const char* mode = RdbRegion->isChecked()       ? "Region"
                       : RdbWindow->isChecked()     ? "Window"
                       : RdbFullScreen->isChecked() ? "FullScreen"
                                                    : "Region";
    ini.WriteString(kRecorder, "RegionToCapture", mode);
    ini.WriteBool(kOutputType, "BoolSameToOriginal", ChkSameArea->isChecked());
    ini.WriteInteger(kOutputType, "FrameSize", CboFrameSize->currentIndex());
    ini.WriteString(kOutputType, "Width", EdtFrameWidth->Text().toStdString());
    ini.WriteString(kOutputType, "Height", EdtFrameHeight->Text().toStdString());
    ini.WriteInteger(kOutputType, "VideoBitrate", CboVideoBitrate->currentIndex());
    ini.WriteInteger(kOutputType, "AudioBitrate", CboAudioBitrate->currentIndex());
    ini.WriteInteger(kOutputType, "AudioSamplerate", CboAudioSampleRate->currentIndex());
    ini.WriteBool(kSave, "BoolAutoSave", RdbAutoSave->isChecked());
    ini.WriteString(kSave, "OutputFolder", EdtFolder->text().toStdString());
  }
  // What was written before a taken hotkey stays written.
  if (!ini.UpdateFile()) {
    // A settings file that cannot be written would silently lose the user's choices: keep the
    // window open so nothing looks saved.
    ShowMessageBox(this, ini.LastError(), "Quorvane", TMessageIcon::Error);
    return;
  }
  if (hotkeysDone) hide();
}

void TFrmMain::BtnBrowseClick() {
  QString folder = QFileDialog::getExistingDirectory(this, "Select Output Folder", QString(), QFileDialog::ShowDirsOnly);
  if (!folder.isEmpty()) EdtFolder->setText(folder);
}

void TFrmMain::RegisterHotkeysAtStartup() {
  THotkeyEdit* edits[4] = {EdtStartHotkey, EdtStopHotkey, EdtPauseHotkey, EdtResumeHotkey};
  long* ids[4] = {&StartHotkeyId, &StopHotkeyId, &PauseHotkeyId, &ResumeHotkeyId};
  for (int i = 0; i < 4; ++i) {
    std::string text = edits[i]->text().toStdString();
    if (IsNoHotkey(text)) {
      *ids[i] = -1;
      continue;
    }
    *ids[i] = Grabber->AddAtom(kSlots[i].AtomName);
    THotkey hotkey;
    if (!ParseHotkey(text, hotkey) || !Grabber->Register(*ids[i], hotkey))
      ShowMessageBox(this, AlreadyUsed(kSlots[i].StartupPrefix, text), "Quorvane", TMessageIcon::Error);
  }
}

bool TFrmMain::ReregisterHotkeys(TIniFile& ini) {
  THotkeyEdit* edits[4] = {EdtStartHotkey, EdtStopHotkey, EdtPauseHotkey, EdtResumeHotkey};
  long* ids[4] = {&StartHotkeyId, &StopHotkeyId, &PauseHotkeyId, &ResumeHotkeyId};
  for (int i = 0; i < 4; ++i)
    if (!ini.ReadString(kRecorder, kSlots[i].Key, "").empty()) Grabber->Unregister(*ids[i]);
  for (int i = 0; i < 4; ++i) {
    std::string text = edits[i]->text().toStdString();
    if (!IsNoHotkey(text)) {
      if (*ids[i] == -1) *ids[i] = Grabber->AddAtom(kSlots[i].AtomName);
      THotkey hotkey;
      if (!ParseHotkey(text, hotkey) || !Grabber->Register(*ids[i], hotkey)) {
        ShowMessageBox(this, AlreadyUsed(kSlots[i].SavePrefix, text), "Quorvane", TMessageIcon::Error);
        return false;
      }
    }
    ini.WriteString(kRecorder, kSlots[i].Key, text);
  }
  return true;
}

void TFrmMain::ReleaseHotkeys() {
  for (long* id : {&StartHotkeyId, &StopHotkeyId, &PauseHotkeyId, &ResumeHotkeyId}) {
    if (*id == -1) continue;
    Grabber->Unregister(*id);
    *id = -1;  // X atoms cannot be deleted; forgetting the id is the release
  }
}

void TFrmMain::HotkeyPressed(long id) {
  if (id == -1) return;
  if (id == StartHotkeyId) {
    if (MnuStartRecord->isEnabled()) MnuStartRecordClick();
  } else if (id == StopHotkeyId) {
    if (MnuStopRecord->isEnabled()) MnuStopRecordClick();
  } else if (id == PauseHotkeyId) {
    if (MnuPauseRecord->isEnabled()) MnuPauseRecordClick();
  } else if (id == ResumeHotkeyId) {
    if (MnuResumeRecord->isEnabled()) MnuResumeRecordClick();
  }
}

}  // namespace qv
