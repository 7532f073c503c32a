// The region picker: a borderless window over the whole primary screen showing a picture of the
// screen taken just before it appears. The user presses at one corner and again at the opposite
// one; a rubber band follows the pointer in between. The result is handed back to the caller,
// which keeps the program's selection globals.
#pragma once

#include <QLabel>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <string>

#include "selection/picture_controls.h"

namespace qv {

// What a region selection gave: Offset "x,y" and Size "width,height" in screen pixels, or Size
// "Fail" (and an empty Offset) after a region of zero width or height. Size is empty while the
// selection is still going on.
struct TRegionSelection {
  std::string Offset;
  std::string Size;
};

inline constexpr const char* kRegionHint = "Click and move the mouse to define the region";

class TFrmSelectRegion : public QWidget {
  Q_OBJECT

 public:
  explicit TFrmSelectRegion(QWidget* parent = nullptr);

  // What the recording controller does to begin: forget the last result, hide the picker, reset
  // the hint and arm the one-shot timer that takes the screenshot and shows the picker. The caller
  // then processes events until Result().Size is not empty.
  void StartSelection();

  const TRegionSelection& Result() const { return result_; }

  TScreenPicture* img1 = nullptr;
  QLabel* Lbl1 = nullptr;
  QTimer* tmr1 = nullptr;

 signals:
  // Sent once per selection, after the result is in place and the picker is hidden.
  void Selected(const QString& offset, const QString& size);

 private:
  void FormCreate();
  void tmr1Timer();
  void img1MouseDown(QPoint at);
  void img1MouseMove(QPoint at);
  void Finish(std::string offset, std::string size);

  bool firstCorner_ = false;
  int x1_ = 0, y1_ = 0;
  int lastX_ = 0, lastY_ = 0;
  int x2_ = 0, y2_ = 0;
  TRegionSelection result_;
};

}  // namespace qv
