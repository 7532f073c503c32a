// The recording controller: the tray menu's and the hotkeys' recording commands turned into a
// recording request for the recording layer, and the menu kept in step with the run.
#include "app/recent_recordings.h"
#include "app/recording_controller.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QSpinBox>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "app/countdown_window.h"
#include "app/form_widgets.h"
#include "app/frm_main.h"
#include "app/ini_file.h"
#include "app/message_box.h"
#include "app/notices.h"
#include "app/recording_log.h"
#include "app/recording_options.h"
#include "app/shell_log.h"
#include "app/sound_rows.h"
#include "app/system_facts.h"
#include "app/unit_general.h"
#include "capture/monitors.h"
#include "capture/pipewire_still.h"
#include "media/logger.h"
#include "recording/capture_backend.h"
#include "recording/recording.h"
#include "recording/recovery.h"
#include "selection/unit_frm_select_region.h"
#include "selection/toolkit_display.h"
#include "selection/unit_frm_select_window.h"

namespace qv {

namespace {

std::tm Now() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

void SetMenuIdle(TFrmMain& form) {
  form.MnuStartRecord->setEnabled(true);
  form.MnuPauseRecord->setEnabled(false);
  form.MnuResumeRecord->setEnabled(false);
  form.MnuStopRecord->setEnabled(false);
}

void SetMenuRecording(TFrmMain& form) {
  form.MnuStartRecord->setEnabled(false);
  form.MnuPauseRecord->setEnabled(true);
  form.MnuResumeRecord->setEnabled(false);
  form.MnuStopRecord->setEnabled(true);
}

// A start that cannot go on says why as a notice: a box to click away would hold up the hotkeys and
// the next start.
void SayFailure(TFrmMain& form, const std::string& text) { form.Notices().Show({text, TMessageIcon::Error, {}}); }

// Where recordings mark themselves as under way, so that the next start finds those cut off.
std::string MarkFolder() {
  const std::string state = GetStateFolder();
  return state.empty() ? std::string() : state + "unfinished";
}

}  // namespace

std::string RecordedTimeText(std::int64_t us) {
  const std::int64_t seconds = us / 1000000;
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return text;
}

std::string FileSizeText(std::int64_t bytes) {
  char text[32];
  if (bytes < 1000000) std::snprintf(text, sizeof text, "%lld KB", static_cast<long long>(bytes / 1000));
  else std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
  return text;
}

namespace {

std::string BaseName(const std::string& fileName) { return std::filesystem::path(fileName).filename().string(); }

// The tray's status line for a recording: "Recording: 00:01:23, 4.2 MB, name.avi".
std::string RecordingStatusText(const TRecordingProgress& progress, const std::string& fileName) {
  const char* state = progress.State == TRecordingState::Paused     ? "Paused"
                      : progress.State == TRecordingState::Stopping ? "Stopping"
                                                                    : "Recording";
  return std::string(state) + ": " + RecordedTimeText(progress.ElapsedUs) + ", " +
         FileSizeText(progress.FileBytes) + ", " + BaseName(fileName);
}

// The balloon at a recording's end: "Saved name.avi (00:01:23, 4.2 MB)".
std::string RecordingSavedText(const std::string& fileName, std::int64_t elapsedUs, std::int64_t fileBytes) {
  return "Saved " + BaseName(fileName) + " (" + RecordedTimeText(elapsedUs) + ", " + FileSizeText(fileBytes) + ")";
}

}  // namespace

std::string TrayStartFailureText(const TStartResult& result) {
  switch (result.Failure) {
    case TStartFailure::Sound:
      return result.Reason + " To record without sound, clear \"Record Audio\" in Options.";
    case TStartFailure::Output:
      return "The recording's file cannot be written: " + result.Reason;
    case TStartFailure::Screen:
    case TStartFailure::Busy:
    case TStartFailure::None:
      break;
  }
  return result.Reason;
}

TFFRecordingController::TFFRecordingController(TFrmMain& form, TFrmSelectRegion& picker)
    : LocalTime(&Now), Form(form), Picker(picker), FRecording(std::make_unique<TRecording>()),
      Log(std::make_unique<TRecordingLog>()), StatusTimer(std::make_unique<QTimer>()) {
  StatusTimer->setInterval(1000);
  QObject::connect(StatusTimer.get(), &QTimer::timeout, [this] { ShowStatus(); });
  FRecording->OnEnd = [this](const TRecordingEnd& end) { RecordingEnded(end); };
  FRecording->OnNotice = [this](const std::string& notice) {
    Log->Line("notice: " + notice);
    Tell(notice, TMessageIcon::Warning);
  };
  dlgSave = new QFileDialog(&Form);
  dlgSave->setObjectName("dlgSave");
  // Every library, device and engine line reaches the recording's log from whatever thread logs it.
  AttachShellLog(Log.get());
}

TFFRecordingController::~TFFRecordingController() {
  Shutdown(Form);
  FRecording.reset();
}

std::string TFFRecordingController::LogFileName() const { return Log->FileName(); }

void TFFRecordingController::MnuStartRecordClick(TFrmMain& form) {
  // A second start while the area is being picked (the menu item is still on then) would stack a
  // second selection on the first; the one under way goes on instead.
  if (FSelecting) return;
  try {
    StartRecording(form);
  } catch (const std::exception& e) {
    // The component refuses calls it cannot take while a run is under way; nothing is running
    // from here then, and the menu says so.
    Log->Line(std::string("start failed: ") + e.what());
    SayFailure(form, e.what());
    SetMenuIdle(form);
  }
}

namespace {

// Where red, green and blue sit in a still's 4-byte pixel; false for a layout we do not know.
bool ChannelBytes(AVPixelFormat format, int& r, int& g, int& b) {
  switch (format) {
    case AV_PIX_FMT_BGR0: case AV_PIX_FMT_BGRA: r = 2, g = 1, b = 0; return true;
    case AV_PIX_FMT_RGB0: case AV_PIX_FMT_RGBA: r = 0, g = 1, b = 2; return true;
    case AV_PIX_FMT_0RGB: case AV_PIX_FMT_ARGB: r = 1, g = 2, b = 3; return true;
    case AV_PIX_FMT_0BGR: case AV_PIX_FMT_ABGR: r = 3, g = 2, b = 1; return true;
    default: return false;
  }
}

// The still as the region picker shows it; a null image for a pixel layout we do not know.
QImage PickerPicture(const TStillPicture& still) {
  int r = 0, g = 0, b = 0;
  if (!ChannelBytes(still.Format, r, g, b)) return {};
  QImage picture(still.Width, still.Height, QImage::Format_RGB32);
  const std::uint8_t* p = still.Pixels.data();
  for (int y = 0; y < still.Height; ++y) {
    auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
    for (int x = 0; x < still.Width; ++x, p += 4) row[x] = qRgb(p[r], p[g], p[b]);
  }
  return picture;
}

constexpr const char* kRestoreTokenKey = "PortalRestoreToken";

// The screen portal's permission to share the same screen again without asking, kept in the
// settings from one use to the next (each is good once).
std::string KeptRestoreToken() { return TIniFile(GetOptionsFileName()).ReadString("Recorder", kRestoreTokenKey, ""); }

void KeepRestoreToken(const std::string& token) {
  TIniFile ini(GetOptionsFileName());
  if (ini.ReadString("Recorder", kRestoreTokenKey, "") == token) return;
  ini.WriteString("Recorder", kRestoreTokenKey, token);
  // Only a question the desktop asks again is lost.
  if (!ini.UpdateFile()) ShellLog(llWarning, "[portal] " + ini.LastError());
}

// The portal's first picture (or the named node's) for the picker; on Wayland nothing else can be
// read. A null image after telling the user why there is none.
QImage WaylandPickerPicture(TFrmMain& form, const TScreenSource& source) {
  TStillPicture still;
  std::string error, token = KeptRestoreToken();
  const bool taken = TakePipeWireStill(source.PipeWireNode, token, still, error);
  if (!source.PipeWireNode) KeepRestoreToken(token);
  if (!taken) {
    SayFailure(form, "The region cannot be chosen: " + error);
    return {};
  }
  QImage picture = PickerPicture(still);
  if (picture.isNull())
    SayFailure(form, "The region cannot be chosen: the screen's pixel layout is not known.");
  return picture;
}

// A named node is recorded wherever the program runs; otherwise the session says.
TScreenSource ReadScreenSource() {
  const int node = TIniFile(GetOptionsFileName()).ReadInteger("Recorder", "PipeWireNode", 0);
  if (node > 0) return {TCaptureBackend::PipeWire, std::uint32_t(node)};
  return {SessionCaptureBackend(), 0};
}

}  // namespace

bool TFFRecordingController::ChooseArea(TFrmMain& form, const std::string& mode, const TScreenSource& source) {
  struct TSelecting {
    bool& Flag;
    explicit TSelecting(bool& flag) : Flag(flag) { Flag = true; }
    ~TSelecting() { Flag = false; }
  } selecting(FSelecting);
  const bool portal = source.Backend == TCaptureBackend::PipeWire;
  switch (CaptureModeOf(mode)) {
    case TCaptureMode::Window: {
      SelectedWindow = 0;
      if (portal && source.PipeWireNode) {
        SayFailure(form, "A single window cannot be recorded from a PipeWire node named in the settings. Choose "
                       "Region or Full screen in Options.");
        return false;
      }
      // Wayland lets no program find another's window: the desktop's own dialog picks it at the start.
      if (portal) {
        SelectedOffset.clear();
        SelectedSize.clear();
        return true;
      }
      {
        TFrmSelectWindow finder(&form);
        finder.exec();
        const TWindowSelection& result = finder.Result();
        if (result.Window != 0) {
          SelectedWindow = result.Window;
          SelectedOffset = result.Offset;
          SelectedSize = result.Size;
        }
      }
      return SelectedWindow != 0 && !form.Closed();
    }
    case TCaptureMode::FullScreen: {
      if (portal) {  // the stream's own size: the monitor the desktop shares
        SelectedOffset = SelectedSize = "0,0";
        break;
      }
      // Read at each start: the pointer's monitor is the one it is on now.
      const std::string screen = TIniFile(GetOptionsFileName()).ReadString("Recorder", "Screen", kScreenPointer);
      _XDisplay* dpy = ToolkitDisplay();
      TMonitor area;
      const std::string error = dpy ? ChooseScreen(ReadDesktop(dpy), screen, area) : "the desktop cannot be read";
      if (!error.empty()) {
        SayFailure(form, "Full screen cannot be recorded: " + error + ".");
        return false;
      }
      SelectedOffset = std::to_string(area.X) + "," + std::to_string(area.Y);
      SelectedSize = std::to_string(area.Width) + "," + std::to_string(area.Height);
      break;
    }
    case TCaptureMode::Region: {
      SelectedOffset.clear();
      SelectedSize.clear();
      QImage picture;
      if (portal && (picture = WaylandPickerPicture(form, source)).isNull()) return false;
      QEventLoop wait;
      QObject::connect(&Picker, &TFrmSelectRegion::Selected, &wait, &QEventLoop::quit);
      Picker.StartSelection(std::move(picture));
      // Exit during the selection ends every event loop, this one too; so does a quit from
      // elsewhere, after which a loop returns at once (-1) and waiting on would spin for ever.
      while (Picker.Result().Size.empty() && !form.Closed())
        if (wait.exec() != 0) break;
      if (Picker.Result().Size.empty()) {
        Picker.hide();
        return false;
      }
      SelectedOffset = Picker.Result().Offset;
      SelectedSize = Picker.Result().Size;
      return SelectedSize != "Fail";
    }
  }
  return true;
}

bool TFFRecordingController::ChooseOutputFile(TFrmMain& form, const std::tm& now) {
  TOutputFormat format = form.ChosenFormat();
  if (!form.RdbAskFileName->isChecked()) {
    form.OutputFileName = AutoOutputFileName(form.EdtFolder->text().toStdString(), now, format);
    return true;
  }
  dlgSave->setAcceptMode(QFileDialog::AcceptSave);
  dlgSave->setFileMode(QFileDialog::AnyFile);
  dlgSave->setDirectory(form.EdtFolder->text());
  dlgSave->selectFile(QString());
  // Overwriting asks first; the save dialog only offers folders that exist.
  dlgSave->setOption(QFileDialog::DontConfirmOverwrite, false);
  dlgSave->setOption(QFileDialog::ReadOnly, false);
  QStringList filters;
  for (TOutputFormat each : kOutputFormats)
    filters << QString::fromStdString(FormatTitle(each) + " (*." + FormatName(each) + ")");
  dlgSave->setNameFilters(filters << "All Files(*.*)");
  dlgSave->selectNameFilter(filters[int(format)]);
  dlgSave->setDefaultSuffix(QString::fromStdString(FormatName(format)));
  dlgSave->setSizeGripEnabled(true);
  if (dlgSave->exec() != QDialog::Accepted || form.Closed()) return false;
  const QStringList files = dlgSave->selectedFiles();
  if (files.isEmpty() || files.first().isEmpty()) return false;
  std::string name = files.first().toStdString();
  // The typed extension chooses the format; one that names none is refused.
  if (const std::string error = MatchFormatToFileName(name, format); !error.empty()) {
    SayFailure(form, "Cannot record to " + name + ": " + error + ".");
    return false;
  }
  form.OutputFileName = name;
  return true;
}

namespace {

TTrayChoice ChoiceOf(const TFrmMain& form, const std::string& mode) {
  TTrayChoice choice;
  choice.Mode = CaptureModeOf(mode);
  choice.Offset = SelectedOffset;
  choice.Size = SelectedSize;
  choice.Window = SelectedWindow;
  choice.Audio = form.ChkRecordAudio->isChecked();
  choice.AudioSource = form.CboAudioSource->currentData().toString().toStdString();
  choice.MicrophoneVolume = form.MicRow->Volume->value();
  choice.MicrophoneMuted = form.MicRow->Mute->isChecked();
  choice.DesktopSource = ChosenSoundSource(*form.DesktopRow);
  choice.DesktopVolume = form.DesktopRow->Volume->value();
  choice.DesktopMuted = form.DesktopRow->Mute->isChecked();
  choice.Blink = form.ChkBlink->isChecked();
  choice.EveryFrame = form.ChkEveryFrame->isChecked();
  choice.ShowClicks = form.ChkShowClicks->isChecked();
  choice.Spotlight = form.ChkSpotlight->isEnabled() && form.ChkSpotlight->isChecked();
  // Disabled where keys cannot be read (Wayland): then none, whatever the file says.
  if (form.ChkShowKeys->isEnabled() && form.ChkShowKeys->isChecked())
    choice.ShowKeys = TKeysChoice{static_cast<TKeysMode>(form.CboKeysShown->currentIndex() + 1),
                                  static_cast<TKeysCorner>(form.CboKeysCorner->currentIndex()),
                                  QGuiApplication::font().family().toStdString()};
  choice.Output.VideoBitrate = form.CboVideoBitrate->currentText().toStdString();
  choice.Output.AudioSampleRate = form.CboAudioSampleRate->itemText(form.SampleRateIndex()).toStdString();
  choice.Output.SameArea = form.ChkSameArea->isChecked();
  choice.Output.FrameWidth = form.EdtFrameWidth->Text().toStdString();
  choice.Output.FrameHeight = form.EdtFrameHeight->Text().toStdString();
  choice.FileName = form.OutputFileName;
  // The file's extension settled the format when its name was chosen.
  choice.Output.Format = form.ChosenFormat();
  MatchFormatToFileName(choice.FileName, choice.Output.Format);
  choice.Output.Quality = kVideoQualities[std::max(0, form.CboQuality->currentIndex())];
  choice.Output.FrameRate = kFrameRates[std::max(0, form.CboFrameRate->currentIndex())];
  choice.Output.KeepProportions = form.ChkKeepProportions->isChecked();
  return choice;
}

}  // namespace

namespace {

// Where the recording's picture is taken on the screen as it starts, in desktop pixels: a window's
// is where the finder saw it; a stream of a size still unknown (the portal's) may be anywhere.
QRect RecordedRect(const TRecordingArea& area) {
  if (area.Width <= 0 || area.Height <= 0) return {0, 0, 1 << 20, 1 << 20};
  int x = area.X, y = area.Y;
  if (area.Kind == TAreaKind::Window && std::sscanf(SelectedOffset.c_str(), "%d,%d", &x, &y) != 2) x = y = 0;
  return {x, y, area.Width, area.Height};
}

}  // namespace

void TFFRecordingController::StartRecording(TFrmMain& form) {
  form.BtnCancelClick();
  // (The options window is hidden by the reload above; nothing of it needs to come forward.)
  const std::string mode = TIniFile(GetOptionsFileName()).ReadString("Recorder", "RegionToCapture", "Region");
  const TScreenSource source = ReadScreenSource();
  if (source.Backend == TCaptureBackend::X11 && !ToolkitDisplay() && !std::getenv("DISPLAY")) {
    SayFailure(form, "This Wayland desktop cannot be recorded: it offers no screen-sharing portal "
                   "(xdg-desktop-portal with the desktop's own portal backend must be installed and running).");
    return;
  }
  if (!ChooseArea(form, mode, source)) return;
  const std::tm now = LocalTime();
  if (!ChooseOutputFile(form, now)) return;
  // A first recording goes to a folder nobody has made yet (the default one in the documents).
  const std::string folder = std::filesystem::path(form.OutputFileName).parent_path().string();
  if (std::string error; !CreateFolder(folder, error)) {
    SayFailure(form, "Cannot create the output folder " + folder + ": " + error);
    return;
  }

  TTrayChoice choice = ChoiceOf(form, mode);
  choice.Source = source;
  TRecordingRequest request = TrayRecordingRequest(choice);
  const bool portal = source.Backend == TCaptureBackend::PipeWire && !source.PipeWireNode;
  if (portal) request.PortalRestoreToken = KeptRestoreToken();
  if (!CountDown(form, request.Area)) return;
  if (!Log->Open(GetStateFolder(), now))
    ShellLog(llWarning, "[recording] the recording's log cannot be written in \"" + GetStateFolder() + "\"");
  request.MarkFolder = MarkFolder();
  for (const std::string& fact : SystemFacts(request)) Log->Line(fact);
  Log->Line("recording to " + form.OutputFileName);
  request.SpareFolder = GetDefaultOutputFolder();
  // The program's own windows keep out of the picture (a PipeWire node named in the settings may
  // be anything but the screen).
  if (!request.PipeWireNode) emit form.RecordingArea(RecordedRect(request.Area));
  const TStartResult started = FRecording->Start(request);
  if (portal) KeepRestoreToken(FRecording->PortalRestoreToken());
  LogPlan();
  if (!started) {
    emit form.RecordingArea({});
    Log->Line("start failed: " + started.Reason);
    SayFailure(form, TrayStartFailureText(started));
    return;
  }
  // A run that failed at once has ended already, and its end set the menu.
  if (FRecording->State() != TRecordingState::Idle) {
    SetMenuRecording(form);
    ShowStatus();
    StatusTimer->start();
  }
  Log->Line("started");
}

bool TFFRecordingController::CountDown(TFrmMain& form, const TRecordingArea& area) {
  const int seconds = form.CboCountdown->currentData().toInt();
  if (seconds <= 0) return true;
  TCountdownWindow countdown(QRect(area.X, area.Y, area.Width, area.Height), seconds);
  Countdown = &countdown;
  // Only the stop command means anything now: it calls the recording off.
  SetMenuIdle(form);
  form.MnuStartRecord->setEnabled(false);
  form.MnuStopRecord->setEnabled(true);
  const bool ranOut = countdown.Run();
  Countdown = nullptr;
  SetMenuIdle(form);
  return ranOut && !form.Closed();
}

void TFFRecordingController::LogPlan() {
  const TRecordingPlan& plan = FRecording->Plan();
  const TOutputOptions& output = plan.Output;
  Log->Line("screen: " + plan.ScreenOptions);
  if (!plan.AudioOptions.empty()) Log->Line("sound: " + plan.AudioOptions);
  Log->Line("output: " + output.FileFormat + ", " + output.VideoCodec + " " + std::to_string(output.VideoBitrate) +
            " bit/s " + output.FrameSize + output.VideoFilters + ", " + output.AudioCodec + " " +
            std::to_string(output.AudioBitrate) + " bit/s " + std::to_string(output.AudioSampleRate) + " Hz");
}

void TFFRecordingController::MnuPauseRecordClick(TFrmMain& form) {
  form.MnuPauseRecord->setEnabled(false);
  form.MnuResumeRecord->setEnabled(true);
  FRecording->Pause();
  ShowStatus();
  Log->Line("paused");
}

void TFFRecordingController::MnuResumeRecordClick(TFrmMain& form) {
  form.MnuPauseRecord->setEnabled(true);
  form.MnuResumeRecord->setEnabled(false);
  FRecording->Resume();
  ShowStatus();
  Log->Line("resumed");
}

void TFFRecordingController::MnuStopRecordClick(TFrmMain& form) {
  if (Countdown) {
    Countdown->Cancel();
    return;
  }
  form.MnuStopRecord->setEnabled(false);
  Log->Line("stopping");
  FRecording->Stop(true);
  std::error_code ec;
  if (form.ChkPlayBack->isChecked() && std::filesystem::is_regular_file(form.OutputFileName, ec))
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(form.OutputFileName)));
}

bool TFFRecordingController::StartAfterStop(TFrmMain&) {
  if (FRecording->State() != TRecordingState::Stopping) return false;
  FStartAfterStop = true;
  Log->Line("a start was asked for while stopping: it follows once the file is finished");
  return true;
}

void TFFRecordingController::RecordingEnded(const TRecordingEnd& end) {
  Log->Line(end.Failed ? "ended: " + end.Reason : std::string("ended"));
  StatusTimer->stop();
  Form.ShowRecordingStatus({});
  SetMenuIdle(Form);
  emit Form.RecordingArea({});
  if (std::exchange(FStartAfterStop, false)) {
    // Once this end has been handed over: a start from inside the run's last event would nest in it.
    QPointer<TFrmMain> form(&Form);
    QTimer::singleShot(0, &Form, [form] {
      if (form && !form->Closed() && form->MnuStartRecord->isEnabled()) form->MnuStartRecordClick();
    });
  }
  const std::string folder = std::filesystem::path(end.Where()).parent_path().string();
  std::error_code gone;
  if (std::filesystem::is_regular_file(end.Where(), gone)) TRecentRecordings(RecentListFile()).Add(end.Where());
  // A failure, a full disk, or the file removed and saved elsewhere: the end says so.
  if (const std::string message = end.Message(); !message.empty()) {
    if (!end.Failed) Log->Line(message);
    Tell(message, end.Failed || end.DiskFull ? TMessageIcon::Error : TMessageIcon::Warning, folder);
    return;
  }
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(end.FileName, ec);
  const TRecordingProgress last = FRecording->Progress();
  const std::string saved = RecordingSavedText(end.FileName, last.ElapsedUs, ec ? last.FileBytes : std::int64_t(bytes));
  Log->Line(saved);
  Tell(saved + " in " + folder, TMessageIcon::Information, folder, end.FileName);
}

void TFFRecordingController::ShowStatus() {
  Form.ShowRecordingStatus(RecordingStatusText(FRecording->Progress(), Form.OutputFileName));
  Form.ShowSoundLevels(SoundLevelsText(FRecording->SoundLevels()));
}

namespace {

TNoticeAction Opener(const char* key, const char* caption, const std::string& path) {
  return {key, caption, [path] { QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path))); }};
}

}  // namespace

void TFFRecordingController::Tell(const std::string& text, TMessageIcon icon, const std::string& folder,
                                  const std::string& file) {
  TNotice notice{text, icon, {}};
  if (!folder.empty()) notice.Actions.push_back(Opener("folder", "Open &folder", folder));
  if (!file.empty()) {
    notice.Actions.push_back(Opener("play", "Pla&y", file));
    QPointer<TFrmMain> form(&Form);
    notice.Actions.push_back({"recent", "&Recent recordings", [form] {
                                if (form) form->MnuRecentClick();
                              }});
  }
  // Shown once the event that brought it has been handed over: the run's end (and with it the
  // menu) must not wait for the user interface.
  QPointer<TFrmMain> form(&Form);
  QTimer::singleShot(0, &Form, [form, notice] {
    if (form) form->Notices().Show(notice);
  });
}

namespace {

// On the recovery thread: what came of each recording cut off, one line each, in one balloon on
// the main thread.
void RecoverAndTell(const std::string& folder, const QPointer<TFrmMain>& form) {
  std::string text;
  bool failed = false;
  for (const TRecovered& recovered : RecoverInterruptedRecordings(folder)) {
    text += (text.empty() ? "" : "\n") + recovered.Message();
    failed = failed || !recovered.Ok;
  }
  if (text.empty()) return;
  const TMessageIcon icon = failed ? TMessageIcon::Warning : TMessageIcon::Information;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [form, text, icon] {
        if (form) form->Notices().Show({text, icon, {}});
      },
      Qt::QueuedConnection);
}

}  // namespace

void TFFRecordingController::RecoverInterrupted() {
  const std::string folder = MarkFolder();
  if (folder.empty() || Recovery.joinable()) return;
  Recovery = std::thread(&RecoverAndTell, folder, QPointer<TFrmMain>(&Form));
}

void TFFRecordingController::Shutdown(TFrmMain&) {
  if (Countdown) Countdown->Cancel();
  StatusTimer->stop();
  if (Recovery.joinable()) Recovery.join();
  FRecording->OnProgress = nullptr;
  FRecording->OnNotice = nullptr;
  FRecording->OnEnd = nullptr;
  // A running recording is finished: its file gets its trailer before the program goes.
  FRecording->Stop(true);
  AttachShellLog(nullptr);
  Log->Close();
}

}  // namespace qv
