// The window finder: a small modal dialog with the finder-tool picture. The user presses the left
// button on the picture, drags over the desktop (the dialog hides itself, the pointer becomes the
// eye, the window under it is outlined in red about once a second) and releases over the window to
// record. The choice is handed back to the caller, which keeps the program's selection globals.
#pragma once

#include <QCursor>
#include <QDialog>
#include <QLabel>
#include <QTimer>

#include <memory>
#include <string>

#include "selection/picture_controls.h"

struct _XDisplay;

namespace qv {

// The chosen window (an X window id, 0 when the dialog closed without a drag), its top-left corner
// "x,y" and its size "width,height" in screen pixels. The corner is not clamped to the screen.
struct TWindowSelection {
  unsigned long Window = 0;
  std::string Offset;
  std::string Size;
};

// The program's "eye" cursor, made on first use and kept for the rest of the run.
const QCursor& EyeCursor();

class TFrmSelectWindow : public QDialog {
  Q_OBJECT

 public:
  explicit TFrmSelectWindow(QWidget* owner = nullptr);
  ~TFrmSelectWindow() override;

  const TWindowSelection& Result() const { return result_; }
  // True between the press on the finder picture and the release.
  bool Dragging() const { return dragging_; }

  QLabel* Lbl1 = nullptr;
  QLabel* Lbl2 = nullptr;
  QLabel* Lbl3 = nullptr;
  TFinderPicture* img1 = nullptr;
  QTimer* tmr1 = nullptr;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  class TRootPointerFilter;

  void FormCreate();
  void img1MouseDown(Qt::MouseButton button);
  void tmr1Timer();
  void img1MouseUp(Qt::MouseButton button, bool havePoint, int x, int y);
  void EndDrag();

  _XDisplay* dpy_ = nullptr;
  bool ownDisplay_ = false;
  bool dragging_ = false;
  bool grabbed_ = false;
  std::unique_ptr<TRootPointerFilter> filter_;
  TWindowSelection result_;
};

}  // namespace qv
