// The recording controller: the tray menu's and the hotkeys' recording commands turned into one
// encoding task on the encoder component, and the menu kept in step with the run.
#include "app/recording_controller.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <filesystem>

#include "app/form_widgets.h"
#include "app/frm_main.h"
#include "app/ini_file.h"
#include "app/message_box.h"
#include "app/recording_log.h"
#include "app/recording_options.h"
#include "app/unit_general.h"
#include "capture/capture_session.h"
#include "capture/screen_capture.h"
#include "capture/wave_capture.h"
#include "encoder/ff_encoder.h"
#include "media/logger.h"
#include "media/unicode_url.h"
#include "selection/unit_frm_select_region.h"
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

// The primary screen in device pixels.
QSize ScreenPixels() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {};
  return screen->geometry().size() * screen->devicePixelRatio();
}

}  // namespace

TFFRecordingController::TFFRecordingController(TFrmMain& form, TFrmSelectRegion& picker)
    : LocalTime(&Now), Form(form), Picker(picker), Encoder(std::make_unique<TFFEncoder>()),
      Log(std::make_unique<TRecordingLog>()) {
  Encoder->OnTerminate = [this](TObject*, const TTerminateInfo& info) { FFEncoderTerminate(info); };
  dlgSave = new QFileDialog(&Form);
  dlgSave->setObjectName("dlgSave");
  // Every library, device and engine line reaches the recording's log from whatever thread logs it;
  // sending them through the main thread would make the log wait for the user interface.
  TFFLogger* logger = GetLogger();
  logger->TriggerEventInMainThread = false;
  logger->OnLog = [log = Log.get()](const void*, std::uint32_t thread, TLogLevel, const std::string& text) {
    log->Line("[" + std::to_string(thread) + "] " + text);
  };
}

TFFRecordingController::~TFFRecordingController() {
  Shutdown(Form);
  Encoder.reset();
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
    ShowMessageBox(&form, std::string("File open error: ") + e.what(), "Error", TMessageIcon::Information);
    SetMenuIdle(form);
  }
}

bool TFFRecordingController::ChooseArea(TFrmMain& form, const std::string& mode) {
  struct TSelecting {
    bool& Flag;
    explicit TSelecting(bool& flag) : Flag(flag) { Flag = true; }
    ~TSelecting() { Flag = false; }
  } selecting(FSelecting);
  switch (CaptureModeOf(mode)) {
    case TCaptureMode::Window: {
      SelectedWindow = 0;
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
      if (SelectedWindow == 0 || form.Closed()) return false;
      ScreenOptions = WindowDeviceOptions(SelectedWindow, form.ChkBlink->isChecked());
      return true;
    }
    case TCaptureMode::FullScreen: {
      const QSize screen = ScreenPixels();
      SelectedOffset = "0,0";
      SelectedSize = std::to_string(screen.width()) + "," + std::to_string(screen.height());
      break;
    }
    case TCaptureMode::Region: {
      SelectedOffset.clear();
      SelectedSize.clear();
      QEventLoop wait;
      QObject::connect(&Picker, &TFrmSelectRegion::Selected, &wait, &QEventLoop::quit);
      Picker.StartSelection();
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
      if (SelectedSize == "Fail") return false;
      break;
    }
  }
  ScreenOptions = AreaDeviceOptions(SelectedOffset, SelectedSize, form.ChkBlink->isChecked());
  return true;
}

bool TFFRecordingController::ChooseOutputFile(TFrmMain& form, const std::tm& now) {
  if (!form.RdbAskFileName->isChecked()) {
    form.OutputFileName = AutoOutputFileName(form.EdtFolder->text().toStdString(), now);
    return true;
  }
  dlgSave->setAcceptMode(QFileDialog::AcceptSave);
  dlgSave->setFileMode(QFileDialog::AnyFile);
  dlgSave->setDirectory(form.EdtFolder->text());
  dlgSave->selectFile(QString());
  // Overwriting asks first; the save dialog only offers folders that exist.
  dlgSave->setOption(QFileDialog::DontConfirmOverwrite, false);
  dlgSave->setOption(QFileDialog::ReadOnly, false);
  dlgSave->setNameFilters({"AVI format(*.avi)", "All Files(*.*)"});
  dlgSave->setDefaultSuffix("avi");
  dlgSave->setSizeGripEnabled(true);
  if (dlgSave->exec() != QDialog::Accepted || form.Closed()) return false;
  const QStringList files = dlgSave->selectedFiles();
  if (files.isEmpty() || files.first().isEmpty()) return false;
  form.OutputFileName = files.first().toStdString();
  return true;
}

void TFFRecordingController::StartRecording(TFrmMain& form) {
  form.BtnCancelClick();
  // (The options window is hidden by the reload above; nothing of it needs to come forward.)
  const std::string mode = TIniFile(GetOptionsFileName()).ReadString("Recorder", "RegionToCapture", "Region");
  if (!ChooseArea(form, mode)) return;
  const std::tm now = LocalTime();
  if (!ChooseOutputFile(form, now)) return;

  const bool audio = form.ChkRecordAudio->isChecked();
  if (!Log->Open(GetStateFolder(), now))
    std::fprintf(stderr, "quorvane: the recording's log cannot be written in \"%s\"\n", GetStateFolder().c_str());
  Log->Line("recording to " + form.OutputFileName);
  Log->Line("screen: " + ScreenOptions);

  RegisterScreenCapture();
  if (audio) RegisterWaveCapture();
  Encoder->ClearTasks();
  // The devices of this recording share its pauses and time line through the session.
  Session = TCaptureSession::Create();
  const std::string sessionOption = ";session=" + std::to_string(static_cast<long long>(Session->Number()));

  TInputOptions input;
  input.Reset();
  input.FileFormat = "screencapture";
  const int task = Encoder->AddTask(Utf8ToWide(ScreenOptions + sessionOption), input);
  if (task < 0) {
    Log->Line("the screen cannot be opened: " + Encoder->LastError());
    ShowMessageBox(&form, "File open error: " + Encoder->LastError(), "Error", TMessageIcon::Information);
    return;
  }
  AudioOptions.clear();
  if (audio) {
    input.Reset();
    input.FileFormat = "wavecapture";
    form.AudioPauseFlag.store(0);
    AudioOptions = AudioDeviceOptions(Session->Number());
    Log->Line("sound: " + AudioOptions);
    if (!Encoder->AddInputFile(task, Utf8ToWide(AudioOptions), input)) {
      Log->Line("the sound input cannot be opened: " + Encoder->LastError());
      ShowMessageBox(&form, "File open error: " + Encoder->LastError(), "Error", TMessageIcon::Information);
      return;
    }
  }

  TOutputChoice choice;
  choice.VideoBitrate = form.CboVideoBitrate->currentText().toStdString();
  choice.AudioBitrate = form.CboAudioBitrate->currentText().toStdString();
  choice.AudioSampleRate = form.CboAudioSampleRate->currentText().toStdString();
  choice.SameArea = form.ChkSameArea->isChecked();
  choice.SelectedSize = SelectedSize;
  choice.FrameWidth = form.EdtFrameWidth->Text().toStdString();
  choice.FrameHeight = form.EdtFrameHeight->Text().toStdString();
  const TOutputOptions output = RecorderOutputOptions(choice);
  Log->Line("output: " + output.VideoCodec + " " + std::to_string(output.VideoBitrate) + " bit/s " +
            output.FrameSize + ", " + output.AudioCodec + " " + std::to_string(output.AudioBitrate) + " bit/s " +
            std::to_string(output.AudioSampleRate) + " Hz");
  if (!Encoder->SetOutputFile(task, Utf8ToWide(form.OutputFileName), output)) {
    const std::string error = Encoder->LastError();
    Encoder->RemoveTask(task);
    Log->Line("the output cannot be set up: " + error);
    ShowMessageBox(&form, "Can not do convert, error: " + error, "Error", TMessageIcon::Information);
    return;
  }

  SetMenuRecording(form);
  Log->Line("started");
  Encoder->StartTask(1);
}

void TFFRecordingController::MnuPauseRecordClick(TFrmMain& form) {
  form.MnuPauseRecord->setEnabled(false);
  form.MnuResumeRecord->setEnabled(true);
  Encoder->Pause();
  if (form.ChkRecordAudio->isChecked()) form.AudioPauseFlag.store(1);
  // The devices leave the pause out of the picture and the sound.
  if (!PauseNoted && Session) Session->SetPaused(true);
  PauseNoted = true;
  Log->Line("paused");
}

void TFFRecordingController::MnuResumeRecordClick(TFrmMain& form) {
  form.MnuPauseRecord->setEnabled(true);
  form.MnuResumeRecord->setEnabled(false);
  // The capture clocks first, so what is captured from now on counts from now.
  EndPauseNote();
  Encoder->Resume();
  if (form.ChkRecordAudio->isChecked()) form.AudioPauseFlag.store(0);
  Log->Line("resumed");
}

void TFFRecordingController::MnuStopRecordClick(TFrmMain& form) {
  form.MnuStopRecord->setEnabled(false);
  Log->Line("stopping");
  Encoder->Stop(true);
  EndPauseNote();
  std::error_code ec;
  if (form.ChkPlayBack->isChecked() && std::filesystem::is_regular_file(form.OutputFileName, ec))
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(form.OutputFileName)));
}

void TFFRecordingController::EndPauseNote() {
  if (PauseNoted && Session) Session->SetPaused(false);
  PauseNoted = false;
}

void TFFRecordingController::FFEncoderTerminate(const TTerminateInfo& info) {
  Log->Line("task " + std::to_string(info.TaskIndex) + " ended" + (info.Failed ? ": " + info.ErrorMessage : ""));
  if (info.TaskIndex < 0) {
    SetMenuIdle(Form);
    EndPauseNote();
  }
  if (info.Failed) {
    // Shown once this event has been handed over: the run's final event (and with it the menu)
    // must not wait for the user to read the message.
    QPointer<TFrmMain> form(&Form);
    const std::string text = info.ErrorMessage;
    QTimer::singleShot(0, &Form, [form, text] {
      if (form) ShowMessageBox(form, text, "Quorvane", TMessageIcon::Warning);
    });
  }
}

void TFFRecordingController::Shutdown(TFrmMain&) {
  Encoder->OnProgress = nullptr;
  Encoder->OnTerminate = nullptr;
  Encoder->OnVideoOutputHook = nullptr;
  // A running recording is finished: its file gets its trailer before the program goes.
  Encoder->Stop(true);
  EndPauseNote();
  GetLogger()->OnLog = nullptr;
  Log->Close();
}

}  // namespace qv
