// The program's own small window for desktops without a tray host (stock GNOME, many tiling
// window managers): without it the program would run unseen. It says why it is there, shows the
// recording's state and time and the last notice with what can be done about it, and offers the
// tray menu's commands as buttons. While a recording runs it keeps out of the recorded area (moved
// beside it, or minimised when the area leaves no room) and comes back when it ends. Closing it
// only minimises it; "Exit" ends the program as the menu's does.
#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>

class QAction;
class QHBoxLayout;
class QLabel;
class QPushButton;

namespace qv {

class TFrmMain;
struct TNotice;

// Threads: main thread only. The buttons follow the options window's menu items, which stay the
// one record of the recording state; a click triggers the item.
class TFrmControl : public QWidget {
  Q_OBJECT
 public:
  // `form` outlives the window.
  explicit TFrmControl(TFrmMain& form);
  ~TFrmControl() override;

  // What the window says about why it is shown.
  static const char* const kReason;

  QLabel *LblReason, *LblStatus, *LblNotice;
  QPushButton *BtnStart, *BtnStop, *BtnPause, *BtnResume, *BtnRecent, *BtnOptions, *BtnExit;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QPushButton* Mirror(const char* name, const char* caption, QAction* item);
  void ShowStatus();
  void ShowNotice(const TNotice& notice);
  // As high as its lines need at its width: a notice adds lines.
  void FitHeight();
  // `area` in desktop pixels; an empty one: the recording has ended.
  void KeepOutOf(const QRect& area);
  void ComeBack();
  // Spins the event loop until `done` holds (the window manager has done what was asked), for a
  // second at most.
  void WaitForWindowManager(const std::function<bool()>& done);

  TFrmMain& Form;
  QHBoxLayout* NoticeActions;
  enum class TAway { No, Moved, Minimised } Away = TAway::No;
  QPoint Home;  // where the window (inside its frame) stood before it made way
};

}  // namespace qv
