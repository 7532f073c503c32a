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
  // The program is closing: detach the encoder's events, stop a running recording and wait until
  // its file is finished, detach the logger. Runs before the hotkeys and the tray icon go.
  virtual void Shutdown(TFrmMain& form) = 0;
};

}  // namespace qv
