// The seconds before a recording starts, counted down in large digits over the middle of the area
// about to be recorded. The window lets the pointer through and is gone before the first frame is
// taken; Escape (grabbed on the whole desktop while it counts) calls the recording off.
#pragma once

#include <QRect>
#include <QWidget>
#include <memory>

class QEventLoop;
class QTimer;

namespace qv {

class THotkeyGrabber;

// Main thread only.
class TCountdownWindow : public QWidget {
 public:
  // `area` in the desktop's pixels, as the screen device takes it.
  TCountdownWindow(const QRect& area, int seconds);
  ~TCountdownWindow() override;

  // Shows the digits and counts down in an event loop of its own. True when the count ran out,
  // false when it was called off. Either way the window is off the screen when this returns.
  bool Run();
  // Calls the count off (Escape, the stop command, the program closing); harmless when not running.
  void Cancel();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Tick();
  void TakeOffScreen();

  int Left;
  QEventLoop* Loop = nullptr;  // while Run runs
  std::unique_ptr<QTimer> Timer;
  std::unique_ptr<THotkeyGrabber> Escape;
};

}  // namespace qv
