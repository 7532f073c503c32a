#include "selection/picture_controls.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>

#include <cmath>
#include <cstdint>

namespace qv {

namespace {

// Half the brightness: the desktop stays readable, the selection stands out.
QImage Dimmed(const QImage& picture) {
  QImage dimmed = picture.copy();
  for (int y = 0; y < dimmed.height(); ++y) {
    auto* line = reinterpret_cast<std::uint32_t*>(dimmed.scanLine(y));
    for (int x = 0; x < dimmed.width(); ++x) line[x] = 0xFF000000u | ((line[x] >> 1) & 0x007F7F7Fu);
  }
  return dimmed;
}

}  // namespace

TScreenPicture::TScreenPicture(QWidget* parent) : QWidget(parent) {
  // Moves count between the two presses even though no button is held.
  setMouseTracking(true);
  setCursor(Qt::CrossCursor);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TScreenPicture::SetPicture(QImage picture) {
  picture_ = std::move(picture);
  dimmed_ = Dimmed(picture_);
  selection_ = {};
  update();
}

void TScreenPicture::Repaint(const QRegion& physical) {
  for (const QRect& r : physical) update(ToLogical(r));
}

void TScreenPicture::SetSelection(const QRect& physical) {
  Repaint(QRegion(selection_).xored(QRegion(physical)));
  selection_ = physical;
}

QPoint TScreenPicture::ToPhysical(const QMouseEvent* event) const {
  const QPointF logical = event->scenePosition() - QPointF(mapTo(window(), QPoint(0, 0)));
  return (logical * devicePixelRatioF()).toPoint();
}

QRect TScreenPicture::ToLogical(const QRect& physical) const {
  const qreal scale = devicePixelRatioF();
  const int left = int(std::floor(physical.left() / scale)), top = int(std::floor(physical.top() / scale));
  const int right = int(std::ceil((physical.right() + 1) / scale)), bottom = int(std::ceil((physical.bottom() + 1) / scale));
  return QRect(left, top, right - left, bottom - top);
}

void TScreenPicture::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.fillRect(event->rect(), Qt::black);
  // From here on one unit is one physical pixel, so the picture is drawn one for one.
  const qreal scale = devicePixelRatioF();
  painter.scale(1 / scale, 1 / scale);
  painter.drawImage(0, 0, dimmed_);
  if (selection_.isEmpty()) return;
  painter.setClipRect(selection_, Qt::IntersectClip);
  painter.drawImage(0, 0, picture_);
}

void TScreenPicture::mousePressEvent(QMouseEvent* event) {
  lastPressTime_ = event->timestamp();
  havePressTime_ = true;
  if (OnMouseDown) OnMouseDown(ToPhysical(event), event->button());
}

void TScreenPicture::mouseReleaseEvent(QMouseEvent* event) {
  if (OnMouseUp) OnMouseUp(ToPhysical(event), event->button());
}

void TScreenPicture::mouseDoubleClickEvent(QMouseEvent* event) {
  // A quick second press may arrive as a double click, with or without its own press event; it is
  // still one press.
  if (havePressTime_ && event->timestamp() == lastPressTime_) return;
  if (OnMouseDown) OnMouseDown(ToPhysical(event), event->button());
}

void TScreenPicture::mouseMoveEvent(QMouseEvent* event) {
  if (OnMouseMove) OnMouseMove(ToPhysical(event));
}

TFinderPicture::TFinderPicture(QWidget* parent) : QLabel(parent) {}

void TFinderPicture::mousePressEvent(QMouseEvent* event) {
  if (OnMouseDown) OnMouseDown(event->button());
}

void TFinderPicture::mouseReleaseEvent(QMouseEvent* event) {
  if (OnMouseUp) OnMouseUp(event->button());
}

}  // namespace qv
