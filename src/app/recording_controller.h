// The seam between the options window and whatever drives the encoder. The window owns the tray
// menu and the hotkeys; a controller turns the saved settings into a recording and keeps the four
// recording menu items (the only record of the recording state) in step with it.
#pragma once

namespace qv {

class TFrmMain;

class TRecordingController {
 public:
  virtual ~TRecordingController() = default;
  // Reached from the tray menu and the hotkeys, only while the matching menu item is enabled.
  virtual void MnuStartRecordClick(TFrmMain& form) = 0;
  virtual void MnuPauseRecordClick(TFrmMain& form) = 0;
  virtual void MnuResumeRecordClick(TFrmMain& form) = 0;
  virtual void MnuStopRecordClick(TFrmMain& form) = 0;
  // A start asked for while the recording before it is being stopped (its file being finished):
  // true when it was taken and runs once that stop is over, false when no stop is under way.
  virtual bool StartAfterStop(TFrmMain& form) = 0;
  // The program is closing: detach the encoder's events, stop a running recording and wait until
  // its file is finished, detach the logger. Runs before the hotkeys and the tray icon go.
  virtual void Shutdown(TFrmMain& form) = 0;
};

}  // namespace qv

// ---- the controller of the program: one recording at a time, run by the recording layer ----
#include <QMetaObject>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/message_box.h"

class QFileDialog;
class QTimer;

namespace qv {

class TCountdownWindow;
class TFrmSelectRegion;
class TRecording;
class TRecordingLog;
struct TRecordingArea;
struct TRecordingEnd;
struct TStartResult;
struct TScreenSource;
struct TTrayChoice;

// Threads: everything here runs on the main thread, the recording's events included, but for the
// recovery thread, which shares nothing with it and posts its news to the main thread.
class TFFRecordingController : public TRecordingController {
 public:
  // `form` and `picker` outlive the controller. Attaches the logger; the save dialog becomes a
  // child of the form.
  TFFRecordingController(TFrmMain& form, TFrmSelectRegion& picker);
  ~TFFRecordingController() override;
  TFFRecordingController(const TFFRecordingController&) = delete;
  TFFRecordingController& operator=(const TFFRecordingController&) = delete;

  void MnuStartRecordClick(TFrmMain& form) override;
  void MnuPauseRecordClick(TFrmMain& form) override;
  void MnuResumeRecordClick(TFrmMain& form) override;
  void MnuStopRecordClick(TFrmMain& form) override;
  bool StartAfterStop(TFrmMain& form) override;
  void Shutdown(TFrmMain& form) override;
  // At start: repairs, on a thread of its own, the files of recordings that were cut off (the
  // program killed, the power cut) and says in one balloon what came of each.
  void RecoverInterrupted();

  TRecording& Recording() { return *FRecording; }
  QFileDialog* dlgSave = nullptr;
  // The local time that names an automatically named file (the clock by default).
  std::function<std::tm()> LocalTime;
  // The log of the current or last recording; empty if none could be written.
  std::string LogFileName() const;
  // True while a start waits for the user to pick the area.
  bool Selecting() const { return FSelecting; }

 private:
  bool ChooseArea(TFrmMain& form, const std::string& mode, const TScreenSource& source);
  bool ChooseOutputFile(TFrmMain& form, const std::tm& now);
  // The countdown chosen in the options, over the area; false when it was called off.
  bool CountDown(TFrmMain& form, const TRecordingArea& area);
  void StartRecording(TFrmMain& form);
  void LogPlan();
  void RecordingEnded(const TRecordingEnd& end);
  void ShowStatus();
  // With "Open folder" for a `folder` and "Play" for a `file`.
  void Tell(const std::string& text, TMessageIcon icon, const std::string& folder = {}, const std::string& file = {});

  TFrmMain& Form;
  TFrmSelectRegion& Picker;
  std::unique_ptr<TRecording> FRecording;
  std::unique_ptr<TRecordingLog> Log;
  // Refreshes the tray's status once a second while a recording runs.
  std::unique_ptr<QTimer> StatusTimer;
  bool FSelecting = false;
  bool FStartAfterStop = false;  // a start came while the last recording was being stopped
  TCountdownWindow* Countdown = nullptr;  // while one runs; the stop command calls it off
  std::thread Recovery;  // joined at shutdown
};

// What the user is told when a start fails, with what they can do about it.
std::string TrayStartFailureText(const TStartResult& result);

// A recording's time, pauses left out ("00:01:23"), and a file's size ("4.2 MB"), as the tray and
// the remote control's status say them.
std::string RecordedTimeText(std::int64_t us);
std::string FileSizeText(std::int64_t bytes);

}  // namespace qv
