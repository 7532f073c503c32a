// The region picker: a borderless window over the whole desktop showing a picture of it taken just
// before it appears, the area outside the selection dimmed. It takes the keyboard and the pointer
// while it shows, so nothing reaches the windows behind the picture. The user either presses at
// one corner and again at the opposite one (a rubber band follows the pointer in between), or
// presses, drags and releases. The arrow keys then move the rectangle and Shift with them resizes
// it; Enter takes it. Escape or a right click cancels. Every coordinate is a physical pixel of the
// desktop, whatever scale factor the toolkit applies. The result is handed back to the caller,
// which keeps the program's selection globals.
#pragma once

#include <QImage>
#include <QLabel>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <string>

#include "selection/picture_controls.h"

namespace qv {

// What a region selection gave: Offset "x,y" and Size "width,height" in desktop pixels, or Size
// "Fail" (and an empty Offset) after a region of zero width or height or a cancelled selection
// (Cancelled then says which). Size is empty while the selection is still going on.
struct TRegionSelection {
  std::string Offset;
  std::string Size;
  bool Cancelled = false;
};

inline constexpr const char* kRegionHint =
    "Drag, or click two corners, to define the region; arrows adjust, Enter takes it, Esc cancels";

class TFrmSelectRegion : public QWidget {
  Q_OBJECT

 public:
  explicit TFrmSelectRegion(QWidget* parent = nullptr);

  // What the recording controller does to begin: forget the last result, hide the picker, reset
  // the hint and arm the one-shot timer that takes the screenshot and shows the picker. The caller
  // then processes events until Result().Size is not empty. A `picture` given is shown instead of
  // one read from the X server (on Wayland none can be read: the caller brings the portal's), in a
  // full-screen window.
  void StartSelection(QImage picture = QImage());

  const TRegionSelection& Result() const { return result_; }

  TScreenPicture* img1 = nullptr;
  // The corners and size at the top of the screen, and the size next to the selection.
  QLabel* Lbl1 = nullptr;
  QLabel* LblSize = nullptr;
  QTimer* tmr1 = nullptr;

 signals:
  // Sent once per selection, after the result is in place and the picker is hidden.
  void Selected(const QString& offset, const QString& size);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  // However the picker goes (a result, or the caller hiding it), it lets go of the input.
  void hideEvent(QHideEvent* event) override;

 private:
  // Pressed: a button is down at the anchor; Following: the first corner is set and the band
  // follows the pointer; Adjusting: the keys have taken the rectangle over from the pointer.
  enum class TPhase { Waiting, Pressed, Following, Adjusting };

  void tmr1Timer();
  void GrabInput();
  void img1MouseDown(QPoint at, Qt::MouseButton button);
  void img1MouseUp(QPoint at, Qt::MouseButton button);
  void img1MouseMove(QPoint at);
  void MoveBand(QPoint anchor, QPoint free);
  void ShowSize();
  void Adjust(int key, bool resize);
  void Finish(QPoint a, QPoint b);
  void Deliver(TRegionSelection result);

  TPhase phase_ = TPhase::Waiting;
  // The band's fixed corner and the one that moves, in desktop pixels.
  QPoint anchor_, free_;
  QTimer* grabRetry_ = nullptr;
  int grabTries_ = 0;
  TRegionSelection result_;
  QImage given_;  // the picture StartSelection brought, until the timer shows it
};

}  // namespace qv
