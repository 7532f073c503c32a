// The picture controls of the two selection forms: the region picker's frozen screen, which takes
// any press and every move, and the window finder's finder-tool picture.
#pragma once

#include <QImage>
#include <QLabel>
#include <QPoint>
#include <QWidget>

#include <functional>

namespace qv {

class TScreenPicture : public QWidget {
  Q_OBJECT

 public:
  explicit TScreenPicture(QWidget* parent = nullptr);

  void SetPicture(QImage picture);
  QImage& Picture() { return picture_; }

  std::function<void(QPoint)> OnMouseDown;
  std::function<void(QPoint)> OnMouseMove;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  QImage picture_;
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
