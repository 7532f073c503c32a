// The picture controls of the two selection forms: the region picker's frozen screen, and the
// window finder's finder-tool picture.
#pragma once

#include <QImage>
#include <QLabel>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QWidget>

#include <functional>

class QMouseEvent;

namespace qv {

// The frozen screen. It works in physical pixels of the desktop throughout, whatever scale factor
// the toolkit applies: the picture holds the screen's own pixels, one for one; pointer positions
// are handed on in them (the toolkit's logical position times the scale factor); the selection is
// given in them. Outside the selection the picture is shown dimmed.
class TScreenPicture : public QWidget {
  Q_OBJECT

 public:
  explicit TScreenPicture(QWidget* parent = nullptr);

  // Takes a Format_RGB32 picture and makes its dimmed copy; the selection becomes empty.
  void SetPicture(QImage picture);
  // The picture as shown inside the selection; whoever changes its pixels says where (Repaint).
  QImage& Picture() { return picture_; }
  void Repaint(const QRegion& physical);

  QRect Selection() const { return selection_; }
  // Repaints only where the dimming changes.
  void SetSelection(const QRect& physical);

  // A mouse event's position in desktop pixels. Taken from its position in the window, which keeps
  // the fraction of a logical pixel that the widget's own position has rounded away.
  QPoint ToPhysical(const QMouseEvent* event) const;
  // The logical rectangle that covers the physical one.
  QRect ToLogical(const QRect& physical) const;

  std::function<void(QPoint, Qt::MouseButton)> OnMouseDown;
  std::function<void(QPoint, Qt::MouseButton)> OnMouseUp;
  std::function<void(QPoint)> OnMouseMove;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  QImage picture_;
  QImage dimmed_;
  QRect selection_;
  quint64 lastPressTime_ = 0;
  bool havePressTime_ = false;
};

class TFinderPicture : public QLabel {
  Q_OBJECT

 public:
  explicit TFinderPicture(QWidget* parent = nullptr);

  std::function<void(Qt::MouseButton)> OnMouseDown;
  std::function<void(Qt::MouseButton)> OnMouseUp;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace qv
