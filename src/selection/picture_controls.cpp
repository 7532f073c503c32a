#include "selection/picture_controls.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>

namespace qv {

TScreenPicture::TScreenPicture(QWidget* parent) : QWidget(parent) {
  // Moves count between the two presses even though no button is held.
  setMouseTracking(true);
  setCursor(Qt::CrossCursor);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TScreenPicture::SetPicture(QImage picture) {
  picture_ = std::move(picture);
  update();
}

void TScreenPicture::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect area = event->rect();
  painter.fillRect(area, Qt::black);
  painter.drawImage(area.topLeft(), picture_, area);
}

void TScreenPicture::mousePressEvent(QMouseEvent* event) {
  lastPressTime_ = event->timestamp();
  havePressTime_ = true;
  if (OnMouseDown) OnMouseDown(event->position().toPoint());
}

void TScreenPicture::mouseDoubleClickEvent(QMouseEvent* event) {
  // A quick second press may arrive as a double click, with or without its own press event; it is
  // still one press.
  if (havePressTime_ && event->timestamp() == lastPressTime_) return;
  if (OnMouseDown) OnMouseDown(event->position().toPoint());
}

void TScreenPicture::mouseMoveEvent(QMouseEvent* event) {
  if (OnMouseMove) OnMouseMove(event->position().toPoint());
}

TFinderPicture::TFinderPicture(QWidget* parent) : QLabel(parent) {}

void TFinderPicture::mousePressEvent(QMouseEvent* event) {
  if (OnMouseDown) OnMouseDown(event->button());
}

void TFinderPicture::mouseReleaseEvent(QMouseEvent* event) {
  if (OnMouseUp) OnMouseUp(event->button());
}

}  // namespace qv
