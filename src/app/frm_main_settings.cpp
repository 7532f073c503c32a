// Loading, reloading and saving the settings file, and the hotkeys that live in it.
#include "app/frm_main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QRadioButton>
#include <QSpinBox>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <utility>
#include <vector>

#include "app/form_widgets.h"
#include "app/hotkey_grabber.h"
#include "app/hotkey_text.h"
#include "app/ini_file.h"
#include "app/message_box.h"
#include "app/notices.h"
#include "app/recording_controller.h"
#include "app/recording_options.h"
#include "app/shell_log.h"
#include "app/sound_rows.h"
#include "app/unit_general.h"
#include "capture/key_overlay.h"
#include "capture/monitors.h"
#include "capture/sound_sources.h"
#include "selection/toolkit_display.h"

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

std::string NotAKeyCombination(const char* prefix, const std::string& text) {
  return std::string(prefix) + "\"" + text + "\" is not a key combination, please press the keys of one in its box";
}

// Registers a hotkey text under the slot's id (the atom is added on first use). "" when it holds,
// otherwise what the user is told.
std::string RegisterHotkey(THotkeyGrabber& grabber, const THotkeySlot& slot, long& id, const std::string& text,
                           const char* prefix) {
  if (id == -1) id = grabber.AddAtom(slot.AtomName);
  THotkey hotkey;
  if (!ParseHotkey(text, hotkey)) return NotAKeyCombination(prefix, text);
  if (!grabber.Register(id, hotkey)) return AlreadyUsed(prefix, text);
  return {};
}

constexpr const char* kFailedMark = "hotkeyFailed";

// A box whose hotkey could not be registered is shown light red, with the reason as its tip, until
// its text changes; an empty problem takes the mark away.
void MarkHotkeyBox(QLineEdit* box, const std::string& problem) {
  const bool marked = box->property(kFailedMark).toBool();
  if (problem.empty()) {
    if (!marked) return;
    box->setProperty(kFailedMark, false);
    box->setToolTip({});
    box->setPalette(QPalette());  // nothing set: the window's colours again
    return;
  }
  box->setToolTip(QString::fromStdString(problem));
  QPalette palette = box->palette();
  palette.setColor(QPalette::Base, QColor(255, 205, 205));
  box->setPalette(palette);
  if (!marked)
    QObject::connect(box, &QLineEdit::textChanged, box, [box] { MarkHotkeyBox(box, {}); }, Qt::SingleShotConnection);
  box->setProperty(kFailedMark, true);
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

// Reads the settings file and notes every key whose stored value cannot be used; such a key reads
// as its default, and the user hears once which keys were passed over instead of silence.
class TCheckedSettings {
 public:
  explicit TCheckedSettings(const TIniFile& ini) : Ini(ini) {}

  bool Bool(const char* section, const char* key, bool def) {
    const std::string text = Ini.ReadString(section, key, "");
    if (!text.empty() && Ini.ReadInteger(section, key, INT_MIN) == INT_MIN) Ignore(section, key);
    return Ini.ReadBool(section, key, def);
  }
  // An item of a list of `count`.
  int Index(const char* section, const char* key, int def, int count) {
    const int index = Ini.ReadInteger(section, key, def);
    if (index >= 0 && index < count) return index;
    Ignore(section, key);
    return def;
  }
  // The item of `box` whose data is the stored number.
  int Choice(const char* section, const char* key, int def, const QComboBox& box) {
    const int index = box.findData(Ini.ReadInteger(section, key, def));
    if (index >= 0) return index;
    Ignore(section, key);
    return box.findData(def);
  }
  // An item of a list by its word ("mkv", "high"); missing: `def`.
  template <typename T>
  T Word(const char* section, const char* key, T def, bool (*parse)(const std::string&, T&)) {
    const std::string text = Ini.ReadString(section, key, "");
    T value = def;
    if (text.empty() || parse(text, value)) return value;
    Ignore(section, key);
    return def;
  }
  // A size in pixels, kept as the text the size boxes show.
  std::string Size(const char* section, const char* key, const char* def) {
    const int size = Ini.ReadInteger(section, key, -1);
    if (!Ini.ValueExists(section, key)) return def;
    if (size >= 1 && size <= kMaxFrameSide) return std::to_string(size);
    Ignore(section, key);
    return def;
  }
  const std::vector<std::string>& Ignored() const { return IgnoredKeys; }

 private:
  static constexpr int kMaxFrameSide = 16384;
  void Ignore(const char* section, const char* key) { IgnoredKeys.push_back(std::string(section) + "/" + key); }
  const TIniFile& Ini;
  std::vector<std::string> IgnoredKeys;
};

// A key as the options window names it, for a user who never opened the file.
std::string KeyInWords(const std::string& sectionAndKey) {
  static const std::pair<const char*, const char*> kWords[] = {
      {"BoolRecordAudio", "Record Audio"},
      {"BoolBlinkRecord", "Blink while recording"},
      {"BoolPlayback", "Play back recorded video"},
      {"ShowTip", "the first-start tip"},
      {"BoolSameToOriginal", "Same to original area"},
      {"Width", "frame width"},
      {"Height", "frame height"},
      {"FrameSize", "Frame Size"},
      {"VideoBitrate", "Video Bitrate"},
      {"AudioBitrate", "Audio Bitrate"},
      {"AudioSamplerate", "Audio Sample Rate"},
      {"Format", "Format"},
      {"Quality", "Quality"},
      {"FrameRate", "Frame Rate"},
      {"BoolKeepProportions", "Keep the area's proportions"},
      {"BoolAutoSave", "Automatically generate file name"},
      {"Countdown", "Countdown"},
  };
  const std::string key = sectionAndKey.substr(sectionAndKey.find('/') + 1);
  for (const auto& [name, words] : kWords)
    if (key == name) return "\"" + std::string(words) + "\" (" + sectionAndKey + ")";
  return sectionAndKey;
}

std::string IgnoredKeysText(const std::string& file, const std::vector<std::string>& keys) {
  std::string list;
  for (const std::string& key : keys) list += (list.empty() ? "" : ", ") + KeyInWords(key);
  return "Some settings in " + file + " could not be used and were read as their defaults: " + list + ".";
}

// The file's "FrameSize" counts the 4:3 sizes (0..14) and "Custom..." (15) as files always have;
// the 16:9 sizes that stand before "Custom..." in the window come after it in the file.
constexpr int kFileCustomFrameSize = 15;
constexpr int kFrameSizeItems = 19;
int FrameSizeItemOfFile(int index) {
  if (index < kFileCustomFrameSize) return index;
  return index == kFileCustomFrameSize ? kFrameSizeItems - 1 : index - 1;
}
int FrameSizeFileIndex(int item) {
  if (item < kFileCustomFrameSize) return item;
  return item == kFrameSizeItems - 1 ? kFileCustomFrameSize : item + 1;
}

bool ParseFrameRateText(const std::string& text, int& fps) {
  const int value = NumberBeforeUnit(text, 0, 0);
  if (!IsOfferedFrameRate(value)) return false;
  fps = value;
  return true;
}

template <typename T, std::size_t N>
int IndexIn(const T (&items)[N], T item) {
  return int(std::find(items, items + N, item) - items);
}

// The monitors there are now, and the saved choice even when its monitor is not connected, so that
// OK keeps it.
void FillScreenChoices(QComboBox* box, const std::string& saved) {
  box->clear();
  box->addItem("Monitor under the pointer", QString(kScreenPointer));
  box->addItem("Whole desktop", QString(kScreenAll));
  if (_XDisplay* dpy = ToolkitDisplay())
    for (const TMonitor& monitor : ReadDesktop(dpy).Monitors)
      box->addItem(QString::fromStdString(DescribeMonitor(monitor)), QString::fromStdString(monitor.Name));
  int index = box->findData(QString::fromStdString(saved));
  if (index < 0) {
    box->addItem(QString::fromStdString(saved + " (not connected)"), QString::fromStdString(saved));
    index = box->count() - 1;
  }
  box->setCurrentIndex(index);
}

void LoadSoundRow(TSoundRow& row, const TIniFile& ini, TCheckedSettings& checked, const char* key,
                  const std::vector<TSoundSource>& sources, const std::string& fallback, bool enabled) {
  const std::string name = key;
  const char* sourceKey = name == "Microphone" ? "AudioSource" : "DesktopSource";
  FillSoundSources(row.Source, sources, ini.ReadString(kRecorder, sourceKey, fallback), true);
  row.Source->setEnabled(enabled);
  row.Volume->setValue(checked.Index(kRecorder, (name + "Volume").c_str(), 100, 201));
  row.Mute->setChecked(checked.Bool(kRecorder, (name + "Mute").c_str(), false));
}

}  // namespace

void TFrmMain::LoadSettings(bool atStartup) {
  TIniFile ini(GetOptionsFileName());
  TCheckedSettings checked(ini);
  ChkRecordAudio->setChecked(checked.Bool(kRecorder, "BoolRecordAudio", true));
  ChkBlink->setChecked(checked.Bool(kRecorder, "BoolBlinkRecord", true));
  ChkEveryFrame->setChecked(checked.Bool(kRecorder, "BoolEveryFrame", false));
  ChkShowClicks->setChecked(checked.Bool(kRecorder, "BoolShowClicks", false));
  ChkShowKeys->setChecked(checked.Bool(kRecorder, "BoolShowKeys", false));
  ChkSpotlight->setChecked(checked.Bool(kRecorder, "BoolSpotlight", false));
  CboKeysShown->setCurrentIndex(
      static_cast<int>(checked.Word(kRecorder, "KeysShown", TKeysMode::Combinations, ParseKeysMode)) - 1);
  CboKeysCorner->setCurrentIndex(
      static_cast<int>(checked.Word(kRecorder, "KeysCorner", TKeysCorner::BottomLeft, ParseKeysCorner)));
  ShowKeysControls();
  ChkPlayBack->setChecked(checked.Bool(kRecorder, "BoolPlayback", true));
  THotkeyEdit* edits[4] = {EdtStartHotkey, EdtStopHotkey, EdtPauseHotkey, EdtResumeHotkey};
  for (int i = 0; i < 4; ++i) {
    edits[i]->setText(QString::fromStdString(ini.ReadString(kRecorder, kSlots[i].Key, "")));
    MarkHotkeyBox(edits[i], {});
  }
  if (atStartup) RegisterHotkeysAtStartup();

  std::string mode = ini.ReadString(kRecorder, "RegionToCapture", "Region");
  if (mode == "Window")
    RdbWindow->setChecked(true);
  else if (mode == "FullScreen")
    RdbFullScreen->setChecked(true);
  else
    RdbRegion->setChecked(true);
  FillScreenChoices(CboScreen, ini.ReadString(kRecorder, "Screen", kScreenPointer));
  CboScreen->setEnabled(RdbFullScreen->isChecked());
  // The microphone keeps the key of the one source there used to be: an older file records as before.
  const std::vector<TSoundSource> sources = ListSoundSources();
  LoadSoundRow(*MicRow, ini, checked, "Microphone", sources, kDefaultSoundSource, ChkRecordAudio->isChecked());
  LoadSoundRow(*DesktopRow, ini, checked, "Desktop", sources, kNoSoundSource, ChkRecordAudio->isChecked());
  CboCountdown->setCurrentIndex(checked.Choice(kRecorder, "Countdown", 0, *CboCountdown));

  ChkSameArea->setChecked(checked.Bool(kOutputType, "BoolSameToOriginal", true));
  ChkSameAreaClick();  // also when the state did not change
  EdtFrameWidth->SetText(QString::fromStdString(checked.Size(kOutputType, "Width", "320")));
  EdtFrameHeight->SetText(QString::fromStdString(checked.Size(kOutputType, "Height", "240")));
  CboFrameSize->setCurrentIndex(FrameSizeItemOfFile(checked.Index(kOutputType, "FrameSize", 6, kFrameSizeItems)));
  CboVideoBitrate->setCurrentIndex(checked.Index(kOutputType, "VideoBitrate", 3, CboVideoBitrate->count()));
  CboAudioSampleRate->setCurrentIndex(
      checked.Index(kOutputType, "AudioSamplerate", 1, CboAudioSampleRate->count()));
  ChkKeepProportions->setChecked(checked.Bool(kOutputType, "BoolKeepProportions", false));
  CboFormat->setCurrentIndex(
      IndexIn(kOutputFormats, checked.Word(kOutputType, "Format", TOutputFormat::Avi, ParseOutputFormat)));
  CboQuality->setCurrentIndex(
      IndexIn(kVideoQualities, checked.Word(kOutputType, "Quality", TVideoQuality::Medium, ParseVideoQuality)));
  CboFrameRate->setCurrentIndex(
      IndexIn(kFrameRates, checked.Word(kOutputType, "FrameRate", kDefaultFrameRate, ParseFrameRateText)));

  if (checked.Bool(kSave, "BoolAutoSave", true))
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

  if (atStartup && !checked.Ignored().empty())
    Notices().Show({IgnoredKeysText(ini.FileName(), checked.Ignored()), TMessageIcon::Warning, {}});
  if (atStartup && checked.Bool(kRecorder, "ShowTip", true)) {
    ShowFirstRunTip();
    ini.WriteBool(kRecorder, "ShowTip", false);
  }
  // Each start reloads the settings: a file that cannot be written is said once, not at every start,
  // and never stands between a hotkey and its recording.
  if (ini.UpdateFile())
    SettingsWriteError.clear();
  else if (ini.LastError() != std::exchange(SettingsWriteError, ini.LastError()))
    Notices().Show({SettingsWriteError, TMessageIcon::Error, {}});
  ShowFormatControls();  // also when the format did not change: the sample rate was set from the file
  Loaded = SettingsShown(true);
}

void TFrmMain::BtnCancelClick() {
  hide();
  LoadSettings(false);
}

std::vector<TSettingValue> TFrmMain::SettingsShown(bool withHotkeys) const {
  auto flag = [](const QAbstractButton* box) { return std::string(box->isChecked() ? "1" : "0"); };
  auto number = [](int value) { return std::to_string(value); };
  const char* mode = RdbRegion->isChecked()       ? "Region"
                     : RdbWindow->isChecked()     ? "Window"
                     : RdbFullScreen->isChecked() ? "FullScreen"
                                                  : "Region";
  std::vector<TSettingValue> values = {
      {kRecorder, "BoolRecordAudio", flag(ChkRecordAudio)},
      {kRecorder, "BoolBlinkRecord", flag(ChkBlink)},
      {kRecorder, "BoolEveryFrame", flag(ChkEveryFrame)},
      {kRecorder, "BoolShowClicks", flag(ChkShowClicks)},
      {kRecorder, "BoolShowKeys", flag(ChkShowKeys)},
      {kRecorder, "BoolSpotlight", flag(ChkSpotlight)},
      {kRecorder, "KeysShown", KeysModeName(static_cast<TKeysMode>(CboKeysShown->currentIndex() + 1))},
      {kRecorder, "KeysCorner", KeysCornerName(static_cast<TKeysCorner>(CboKeysCorner->currentIndex()))},
      {kRecorder, "BoolPlayback", flag(ChkPlayBack)},
      {kRecorder, "RegionToCapture", mode},
      {kRecorder, "Screen", CboScreen->currentData().toString().toStdString()},
      {kRecorder, "AudioSource", CboAudioSource->currentData().toString().toStdString()},
      {kRecorder, "MicrophoneVolume", number(MicRow->Volume->value())},
      {kRecorder, "MicrophoneMute", flag(MicRow->Mute)},
      {kRecorder, "DesktopSource", DesktopRow->Source->currentData().toString().toStdString()},
      {kRecorder, "DesktopVolume", number(DesktopRow->Volume->value())},
      {kRecorder, "DesktopMute", flag(DesktopRow->Mute)},
      {kRecorder, "Countdown", number(CboCountdown->currentData().toInt())},
      {kOutputType, "BoolSameToOriginal", flag(ChkSameArea)},
      {kOutputType, "FrameSize", number(FrameSizeFileIndex(CboFrameSize->currentIndex()))},
      {kOutputType, "BoolKeepProportions", flag(ChkKeepProportions)},
      {kOutputType, "Format", FormatName(ChosenFormat())},
      {kOutputType, "Quality", QualityName(kVideoQualities[std::max(0, CboQuality->currentIndex())])},
      {kOutputType, "FrameRate", number(kFrameRates[std::max(0, CboFrameRate->currentIndex())])},
      {kOutputType, "Width", EdtFrameWidth->Text().toStdString()},
      {kOutputType, "Height", EdtFrameHeight->Text().toStdString()},
      {kOutputType, "VideoBitrate", number(CboVideoBitrate->currentIndex())},
      {kOutputType, "AudioSamplerate", number(SampleRateIndex())},
      {kSave, "BoolAutoSave", flag(RdbAutoSave)},
      {kSave, "OutputFolder", EdtFolder->text().toStdString()},
  };
  if (withHotkeys)
    for (int i = 0; i < 4; ++i) {
      const THotkeyEdit* edits[4] = {EdtStartHotkey, EdtStopHotkey, EdtPauseHotkey, EdtResumeHotkey};
      values.push_back({kRecorder, kSlots[i].Key, edits[i]->text().toStdString()});
    }
  return values;
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
  const bool hotkeysDone = ReregisterHotkeys(ini);
  for (const TSettingValue& value : SettingsShown(false)) ini.WriteString(value.Section, value.Key, value.Value);
  // Everything but a hotkey that could not be registered is saved; that box keeps the user's text
  // and its mark, the file the hotkey that still works.
  if (!ini.UpdateFile()) {
    // A settings file that cannot be written would silently lose the user's choices: keep the
    // window open so nothing looks saved.
    ShowMessageBox(this, ini.LastError(), "Quorvane", TMessageIcon::Error);
    return;
  }
  Loaded = SettingsShown(true);
  if (hotkeysDone) hide();
}

void TFrmMain::BtnBrowseClick() {
  // It opens where recordings go now: the folder itself, or, before the first recording made it,
  // the nearest folder above it that is there.
  std::filesystem::path start(EdtFolder->text().toStdString());
  std::error_code ec;
  while (!start.empty() && !std::filesystem::is_directory(start, ec) && start.has_relative_path())
    start = start.parent_path();
  QString folder = QFileDialog::getExistingDirectory(this, "Select Output Folder", QString::fromStdString(start),
                                                     QFileDialog::ShowDirsOnly);
  if (!folder.isEmpty()) EdtFolder->setText(folder);
}

void TFrmMain::RegisterHotkeysAtStartup() {
  THotkeyEdit* edits[4] = {EdtStartHotkey, EdtStopHotkey, EdtPauseHotkey, EdtResumeHotkey};
  long* ids[4] = {&StartHotkeyId, &StopHotkeyId, &PauseHotkeyId, &ResumeHotkeyId};
  std::vector<std::string> problems;
  std::array<std::string, 4> texts;
  // Without X the boxes keep the saved combinations for an X session, and no hotkey is named as failed.
  if (!Grabber->Available()) UseDesktopShortcuts();
  for (int i = 0; i < 4; ++i) {
    texts[i] = edits[i]->text().toStdString();
    if (IsNoHotkey(texts[i]) || !Grabber->Available()) {
      *ids[i] = -1;
      continue;
    }
    const std::string problem = RegisterHotkey(*Grabber, kSlots[i], *ids[i], texts[i], kSlots[i].StartupPrefix);
    if (!problem.empty()) problems.push_back(problem);
  }
  ShowHotkeysInMenu(Grabber->Available() ? texts : std::array<std::string, 4>{});
  if (!problems.empty()) Notices().Show({Lines(problems), TMessageIcon::Error, {}});
}

bool TFrmMain::ReregisterHotkeys(TIniFile& ini) {
  if (!Grabber->Available()) return true;  // the boxes are locked: the file keeps its combinations
  THotkeyEdit* edits[4] = {EdtStartHotkey, EdtStopHotkey, EdtPauseHotkey, EdtResumeHotkey};
  long* ids[4] = {&StartHotkeyId, &StopHotkeyId, &PauseHotkeyId, &ResumeHotkeyId};
  // All are given up first, so that two hotkeys may trade their combinations.
  std::string before[4];
  for (int i = 0; i < 4; ++i) {
    before[i] = ini.ReadString(kRecorder, kSlots[i].Key, "");
    Grabber->Unregister(*ids[i]);
  }
  std::vector<std::string> problems;
  bool failed[4] = {};
  for (int i = 0; i < 4; ++i) {
    const std::string text = edits[i]->text().toStdString();
    const std::string problem =
        IsNoHotkey(text) ? std::string() : RegisterHotkey(*Grabber, kSlots[i], *ids[i], text, kSlots[i].SavePrefix);
    MarkHotkeyBox(edits[i], problem);
    failed[i] = !problem.empty();
    if (failed[i]) problems.push_back(problem);
    else ini.WriteString(kRecorder, kSlots[i].Key, text);
  }
  // A hotkey that cannot take its new combination keeps the one it had, unless another has taken
  // that meanwhile: a save must not leave a working hotkey dead.
  std::array<std::string, 4> inForce;
  for (int i = 0; i < 4; ++i) {
    inForce[i] = failed[i] ? before[i] : edits[i]->text().toStdString();
    if (failed[i] && !IsNoHotkey(before[i])) RegisterHotkey(*Grabber, kSlots[i], *ids[i], before[i], "");
  }
  ShowHotkeysInMenu(inForce);
  if (problems.empty()) return true;
  ShowMessageBox(this, Lines(problems), "Quorvane", TMessageIcon::Error);
  for (int i = 0; i < 4; ++i)
    if (failed[i]) {
      edits[i]->setFocus();
      break;
    }
  return false;
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
  const long ids[4] = {StartHotkeyId, StopHotkeyId, PauseHotkeyId, ResumeHotkeyId};
  for (int slot = 0; slot < 4; ++slot)
    if (id == ids[slot]) return RunHotkey(slot);
}

void TFrmMain::RunHotkey(int slot) {
  switch (slot) {
    case 0:
      // Pressed again just after Stop, while the file is being finished: it follows the stop.
      if (MnuStartRecord->isEnabled()) MnuStartRecordClick();
      else if (Controller) Controller->StartAfterStop(*this);
      break;
    case 1:
      if (MnuStopRecord->isEnabled()) MnuStopRecordClick();
      break;
    case 2:
      if (MnuPauseRecord->isEnabled()) MnuPauseRecordClick();
      break;
    case 3:
      if (MnuResumeRecord->isEnabled()) MnuResumeRecordClick();
      break;
  }
}

}  // namespace qv
