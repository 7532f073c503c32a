// The window finder: a small modal dialog with the finder-tool picture. The user presses the left
// button on the picture and either drags over the desktop and releases over the window to record,
// or releases at once (a plain click) and then clicks the window. Meanwhile the dialog hides
// itself, the pointer becomes the eye and the window under it is outlined in red; Escape or a right
// click cancels. The choice is handed back to the caller, which keeps the program's selection
// globals.
//
// Threads: the form lives on the main thread. Its window probe looks up the window under the
// pointer on a thread of its own and posts each answer to the form (ProbeFound runs on the main
// thread); the probe is stopped and joined before the form goes.
#pragma once

#include <QCursor>
#include <QDialog>
#include <QLabel>

#include <memory>
#include <string>

#include "selection/picture_controls.h"
#include "selection/window_probe.h"

struct _XDisplay;

namespace qv {

namespace x11 {
class TOutlineWindow;
}

// The chosen window (an X window id, 0 when the dialog closed without a choice), its top-left
// corner "x,y" and its size "width,height" in desktop pixels. The corner is not clamped to the
// screen.
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
  // True from the press on the finder picture until the choice is made or cancelled.
  bool Dragging() const { return step_ == TStep::Dragging || step_ == TStep::Clicking; }
  // The outline's X window while it is shown, else 0.
  unsigned long OutlineWindow() const;

  QLabel* Lbl1 = nullptr;
  QLabel* Lbl2 = nullptr;
  QLabel* Lbl3 = nullptr;
  TFinderPicture* img1 = nullptr;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  class TRootInputFilter;
  // Dragging: the button that pressed the finder picture is still down. Clicking: it came up
  // where it went down; the next click chooses. Picking: the probe is asked for the final answer.
  enum class TStep { Idle, Dragging, Clicking, Picking };

  void FormCreate();
  void img1MouseDown(Qt::MouseButton button);
  void img1MouseUp(Qt::MouseButton button);
  void RootRelease(int x, int y);
  void PickAt(int x, int y);
  void Cancel();
  void ProbeFound(const TWindowProbe::TFound& found);
  void EndGrabs();

  _XDisplay* dpy_ = nullptr;
  TStep step_ = TStep::Idle;
  bool grabbed_ = false;
  int pressX_ = 0, pressY_ = 0;
  std::unique_ptr<TRootInputFilter> filter_;
  std::unique_ptr<x11::TOutlineWindow> outline_;
  TWindowSelection result_;
  // Last, so that it goes first: its thread posts to this form until it is joined.
  std::unique_ptr<TWindowProbe> probe_;
};

}  // namespace qv
