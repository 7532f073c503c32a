#include "selection/unit_frm_select_region.h"

#include <QFont>
#include <QGuiApplication>
#include <QPixmap>
#include <QRegion>
#include <QScreen>

#include <cstdlib>

#include "selection/rubber_band.h"

namespace qv {

namespace {

constexpr int kLabelWidth = 353;

QRect PrimaryScreenGeometry() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry() : QRect(0, 0, 640, 480);
}

// Only the band's own pixels change; repainting its four edges is enough.
QRegion OutlineRegion(const QRect& r) {
  if (r.isEmpty()) return {};
  QRegion region(r.left(), r.top(), r.width(), 1);
  region += QRect(r.left(), r.bottom(), r.width(), 1);
  region += QRect(r.left(), r.top(), 1, r.height());
  region += QRect(r.right(), r.top(), 1, r.height());
  return region;
}

}  // namespace

TFrmSelectRegion::TFrmSelectRegion(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                          Qt::WindowStaysOnTopHint) {
  setObjectName("FrmSelectRegion");
  // Placed by us, not by a window manager: picture coordinates must be screen coordinates.
  setGeometry(PrimaryScreenGeometry());

  img1 = new TScreenPicture(this);
  img1->setObjectName("img1");
  img1->setGeometry(rect());
  img1->OnMouseDown = [this](QPoint at) { img1MouseDown(at); };
  img1->OnMouseMove = [this](QPoint at) { img1MouseMove(at); };

  Lbl1 = new QLabel(QString::fromLatin1(kRegionHint), this);
  Lbl1->setObjectName("Lbl1");
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPointSize(8);
  font.setBold(true);
  Lbl1->setFont(font);
  Lbl1->setAlignment(Qt::AlignCenter);
  Lbl1->setAutoFillBackground(true);
  Lbl1->setFixedWidth(kLabelWidth);
  Lbl1->setFixedHeight(Lbl1->sizeHint().height());

  tmr1 = new QTimer(this);
  tmr1->setObjectName("tmr1");
  tmr1->setInterval(1);
  connect(tmr1, &QTimer::timeout, this, [this] { tmr1Timer(); });

  FormCreate();
}

void TFrmSelectRegion::FormCreate() {
  // Qt paints every widget through a back buffer, so there is no double-buffering switch to set.
  Lbl1->move((PrimaryScreenGeometry().width() - Lbl1->width()) / 2, 0);
}

void TFrmSelectRegion::StartSelection() {
  result_ = {};
  hide();
  Lbl1->setText(QString::fromLatin1(kRegionHint));
  tmr1->start();
}

void TFrmSelectRegion::tmr1Timer() {
  tmr1->stop();
  firstCorner_ = false;
  // The picker is hidden here, so the picture shows the desktop without it.
  const QRect area = PrimaryScreenGeometry();
  QImage shot;
  if (QScreen* screen = QGuiApplication::primaryScreen())
    shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
  if (shot.isNull()) {
    shot = QImage(area.size(), QImage::Format_RGB32);
    shot.fill(Qt::black);
  }
  shot = shot.convertToFormat(QImage::Format_RGB32);
  setGeometry(area);
  img1->setGeometry(0, 0, shot.width(), shot.height());
  img1->SetPicture(std::move(shot));
  Lbl1->move((area.width() - Lbl1->width()) / 2, 0);
  show();
  raise();
}

void TFrmSelectRegion::img1MouseDown(QPoint at) {
  if (!firstCorner_) {
    firstCorner_ = true;
    x1_ = lastX_ = at.x();
    y1_ = lastY_ = at.y();
    return;
  }
  firstCorner_ = false;
  x2_ = at.x();
  y2_ = at.y();
  const int width = std::abs(x2_ - x1_);
  const int height = std::abs(y2_ - y1_);
  if (width == 0 || height == 0) {
    Finish({}, "Fail");
    return;
  }
  if (x1_ > x2_ && y1_ > y2_) {
    x1_ = x2_;
    y1_ = y2_;
  } else if (x1_ > x2_ && y1_ < y2_) {
    x1_ = x2_;
  } else if (x1_ < x2_ && y1_ > y2_) {
    y1_ = y2_;
  }
  Finish(std::to_string(x1_) + "," + std::to_string(y1_),
         std::to_string(width) + "," + std::to_string(height));
}

void TFrmSelectRegion::img1MouseMove(QPoint at) {
  if (!firstCorner_) return;
  QImage& picture = img1->Picture();
  // Drawing the old band again takes it off: the pixels come back exactly as they were.
  const QRect erased = InvertFrame(picture, x1_, y1_, lastX_, lastY_);
  const QRect drawn = InvertFrame(picture, x1_, y1_, at.x(), at.y());
  img1->update(OutlineRegion(erased) + OutlineRegion(drawn));
  lastX_ = at.x();
  lastY_ = at.y();
  Lbl1->setText(QStringLiteral("(%1,%2) - (%3,%4); Width=%5, Height=%6")
                    .arg(x1_)
                    .arg(y1_)
                    .arg(at.x())
                    .arg(at.y())
                    .arg(std::abs(at.x() - x1_))
                    .arg(std::abs(at.y() - y1_)));
}

void TFrmSelectRegion::Finish(std::string offset, std::string size) {
  // The offset is in place before the size: a caller waiting on the size reads both.
  result_.Offset = std::move(offset);
  result_.Size = std::move(size);
  hide();
  emit Selected(QString::fromStdString(result_.Offset), QString::fromStdString(result_.Size));
}

}  // namespace qv
