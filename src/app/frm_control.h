// The program's own small window for desktops without a tray host (stock GNOME, many tiling
// window managers): without it the program would run unseen. It says why it is there, shows the
// recording's state and time, and offers the tray menu's commands as buttons. Closing it only
// minimises it; "Exit" ends the program as the menu's does.
#pragma once

#include <QWidget>

class QAction;
class QLabel;
class QPushButton;

namespace qv {

class TFrmMain;

// Threads: main thread only. The buttons follow the options window's menu items, which stay the
// one record of the recording state; a click triggers the item.
class TFrmControl : public QWidget {
  Q_OBJECT
 public:
  // `form` outlives the window.
  explicit TFrmControl(TFrmMain& form);

  // What the window says about why it is shown.
  static const char* const kReason;

  QLabel *LblReason, *LblStatus;
  QPushButton *BtnStart, *BtnStop, *BtnPause, *BtnResume, *BtnOptions, *BtnExit;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QPushButton* Mirror(const char* name, const char* caption, QAction* item);
  void ShowStatus();

  TFrmMain& Form;
};

}  // namespace qv
