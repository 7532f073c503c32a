#include "selection/unit_frm_select_region.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QRegion>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "capture/monitors.h"
#include "media/logger.h"
#include "selection/rubber_band.h"
#include "selection/toolkit_display.h"
#include "selection/x11_windows.h"

namespace qv {

namespace {

constexpr int kLabelWidth = 353;
constexpr int kSizeGap = 4;
// Another program (or a menu that is closing) may hold a grab for a moment: the picker keeps
// asking for a second.
constexpr int kGrabRetryMs = 20;
constexpr int kGrabTries = 50;

QRect PrimaryScreenGeometry() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry() : QRect(0, 0, 640, 480);
}

// The primary monitor in the picker's own (logical) coordinates, where the hint goes: on several
// monitors the middle of the desktop may be the seam between two of them.
QRect PrimaryMonitorArea(qreal scale) {
  _XDisplay* dpy = ToolkitDisplay();
  const TDesktop desktop = dpy ? ReadDesktop(dpy) : TDesktop();
  const TMonitor* primary = PrimaryMonitor(desktop);
  if (!primary) return PrimaryScreenGeometry();
  return QRect(int(primary->X / scale), int(primary->Y / scale), int(primary->Width / scale),
               int(primary->Height / scale));
}

// The whole desktop in its own pixels; black at the primary screen's size when the server gives
// none (or the toolkit is not on X).
QImage DesktopPicture(qreal scale) {
  _XDisplay* dpy = ToolkitDisplay();
  if (dpy) {
    const x11::TScreenRect root = x11::RootRect(dpy);
    QImage shot(root.Right, root.Bottom, QImage::Format_RGB32);
    if (!shot.isNull() && x11::ReadRootPixels(dpy, shot.width(), shot.height(), reinterpret_cast<std::uint32_t*>(shot.bits()),
                                              std::size_t(shot.bytesPerLine()) / 4))
      return shot;
  }
  QImage black(PrimaryScreenGeometry().size() * scale, QImage::Format_RGB32);
  black.fill(Qt::black);
  return black;
}

// The pixels the band between two corners covers (right and bottom edges outside); empty when
// the corners share a row or a column.
QRect SpanOf(QPoint a, QPoint b) {
  if (a.x() == b.x() || a.y() == b.y()) return {};
  return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
               QPoint(std::max(a.x(), b.x()) - 1, std::max(a.y(), b.y()) - 1));
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

std::string PairText(int a, int b) { return std::to_string(a) + "," + std::to_string(b); }

QPoint ArrowStep(int key) {
  switch (key) {
    case Qt::Key_Left: return {-1, 0};
    case Qt::Key_Right: return {1, 0};
    case Qt::Key_Up: return {0, -1};
    default: return {0, 1};
  }
}

}  // namespace

TFrmSelectRegion::TFrmSelectRegion(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                          Qt::WindowStaysOnTopHint) {
  setObjectName("FrmSelectRegion");
  setFocusPolicy(Qt::StrongFocus);

  img1 = new TScreenPicture(this);
  img1->setObjectName("img1");
  img1->OnMouseDown = [this](QPoint at, Qt::MouseButton button) { img1MouseDown(at, button); };
  img1->OnMouseUp = [this](QPoint at, Qt::MouseButton button) { img1MouseUp(at, button); };
  img1->OnMouseMove = [this](QPoint at) { img1MouseMove(at); };

  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPointSize(8);
  font.setBold(true);
  Lbl1 = new QLabel(QString::fromLatin1(kRegionHint), this);
  Lbl1->setObjectName("Lbl1");
  Lbl1->setFont(font);
  Lbl1->setAlignment(Qt::AlignCenter);
  Lbl1->setWordWrap(true);
  Lbl1->setAutoFillBackground(true);
  Lbl1->setFixedWidth(kLabelWidth);
  Lbl1->setFixedHeight(Lbl1->heightForWidth(kLabelWidth));

  LblSize = new QLabel(this);
  LblSize->setObjectName("LblSize");
  LblSize->setFont(font);
  LblSize->setMargin(3);
  LblSize->setAutoFillBackground(true);
  QPalette dark = LblSize->palette();
  dark.setColor(QPalette::Window, QColor(32, 32, 32));
  dark.setColor(QPalette::WindowText, Qt::white);
  LblSize->setPalette(dark);
  LblSize->hide();

  tmr1 = new QTimer(this);
  tmr1->setObjectName("tmr1");
  tmr1->setInterval(1);
  connect(tmr1, &QTimer::timeout, this, [this] { tmr1Timer(); });

  grabRetry_ = new QTimer(this);
  grabRetry_->setInterval(kGrabRetryMs);
  connect(grabRetry_, &QTimer::timeout, this, [this] { GrabInput(); });

  Lbl1->move((PrimaryScreenGeometry().width() - Lbl1->width()) / 2, 0);
}

void TFrmSelectRegion::StartSelection(QImage picture) {
  result_ = {};
  given_ = std::move(picture);
  hide();
  Lbl1->setText(QString::fromLatin1(kRegionHint));
  tmr1->start();
}

void TFrmSelectRegion::tmr1Timer() {
  tmr1->stop();
  phase_ = TPhase::Waiting;
  anchor_ = free_ = {};
  // The picker is hidden here, so the picture shows the desktop without it.
  const qreal scale = devicePixelRatioF();
  QImage shot = given_.isNull() ? DesktopPicture(scale) : std::exchange(given_, QImage());
  const QSize logical(int(std::ceil(shot.width() / scale)), int(std::ceil(shot.height() / scale)));
  img1->SetPicture(std::move(shot));
  LblSize->hide();
  const QRect primary = PrimaryMonitorArea(scale);
  Lbl1->move(primary.x() + (primary.width() - Lbl1->width()) / 2, primary.y());
  if (ToolkitDisplay()) {
    // Placed by us, not by a window manager, at the desktop's origin: picture pixels are desktop
    // pixels.
    setGeometry(QRect(QPoint(0, 0), logical));
    img1->setGeometry(rect());
    show();
  } else {
    // Wayland places no window by its coordinates; full screen starts at the output's corner.
    img1->setGeometry(QRect(QPoint(0, 0), logical));
    showFullScreen();
  }
  raise();
  grabTries_ = 0;
  GrabInput();
}

void TFrmSelectRegion::GrabInput() {
  if (!ToolkitDisplay()) {  // Wayland grants no grabs: the focused full-screen window has the input
    activateWindow();
    grabKeyboard();
    return;
  }
  QWindow* window = windowHandle();
  const bool keyboard = window && window->setKeyboardGrabEnabled(true);
  const bool pointer = window && window->setMouseGrabEnabled(true);
  if (keyboard && pointer) {
    grabRetry_->stop();
    // The toolkit's side: its keys come here even while another of its windows has the focus.
    grabKeyboard();
    return;
  }
  if (++grabTries_ < kGrabTries) {
    grabRetry_->start();
    return;
  }
  grabRetry_->stop();
  GetLogger()->Log(this, llWarning,
                   LogSpeaker("region picker", this) + "another program holds the " + (keyboard ? "pointer" : "keyboard") +
                       "; taking the focus instead");
  activateWindow();
  grabKeyboard();
}

void TFrmSelectRegion::hideEvent(QHideEvent* event) {
  grabRetry_->stop();
  releaseKeyboard();
  if (QWindow* window = windowHandle()) {
    window->setKeyboardGrabEnabled(false);
    window->setMouseGrabEnabled(false);
  }
  QWidget::hideEvent(event);
}

void TFrmSelectRegion::img1MouseDown(QPoint at, Qt::MouseButton button) {
  if (button == Qt::RightButton) {
    Deliver({{}, "Fail", true});
    return;
  }
  switch (phase_) {
    case TPhase::Waiting:
    case TPhase::Adjusting:
      phase_ = TPhase::Pressed;
      MoveBand(at, at);
      break;
    case TPhase::Following:
      Finish(anchor_, at);
      break;
    case TPhase::Pressed:  // another button while the first is down
      break;
  }
}

void TFrmSelectRegion::img1MouseUp(QPoint at, Qt::MouseButton) {
  if (phase_ != TPhase::Pressed) return;
  // Released about where it went down: a click, which sets the first corner.
  const int slack = int(QApplication::startDragDistance() * devicePixelRatioF());
  if ((at - anchor_).manhattanLength() <= slack) {
    phase_ = TPhase::Following;
    MoveBand(anchor_, at);
    return;
  }
  Finish(anchor_, at);
}

void TFrmSelectRegion::img1MouseMove(QPoint at) {
  if (phase_ == TPhase::Pressed || phase_ == TPhase::Following) MoveBand(anchor_, at);
}

void TFrmSelectRegion::MoveBand(QPoint anchor, QPoint free) {
  QImage& picture = img1->Picture();
  // Drawing the old band again takes it off: the pixels come back exactly as they were.
  const QRect erased = InvertFrame(picture, anchor_.x(), anchor_.y(), free_.x(), free_.y());
  anchor_ = anchor;
  free_ = free;
  const QRect drawn = InvertFrame(picture, anchor_.x(), anchor_.y(), free_.x(), free_.y());
  img1->Repaint(OutlineRegion(erased) + OutlineRegion(drawn));
  img1->SetSelection(SpanOf(anchor_, free_));
  Lbl1->setText(QStringLiteral("(%1,%2) - (%3,%4); Width=%5, Height=%6")
                    .arg(anchor_.x())
                    .arg(anchor_.y())
                    .arg(free_.x())
                    .arg(free_.y())
                    .arg(std::abs(free_.x() - anchor_.x()))
                    .arg(std::abs(free_.y() - anchor_.y())));
  ShowSize();
}

void TFrmSelectRegion::ShowSize() {
  const QRect selection = img1->Selection();
  if (selection.isEmpty()) {
    LblSize->hide();
    return;
  }
  LblSize->setText(QStringLiteral("%1 × %2").arg(selection.width()).arg(selection.height()));
  LblSize->adjustSize();
  // Below the selection's bottom-left corner; above its top when that leaves the screen; inside it
  // when neither fits.
  const QRect box = img1->ToLogical(selection);
  int y = box.bottom() + 1 + kSizeGap;
  if (y + LblSize->height() > height()) y = box.top() - kSizeGap - LblSize->height();
  if (y < 0) y = box.bottom() - kSizeGap - LblSize->height();
  const int x = std::clamp(box.left(), 0, std::max(0, width() - LblSize->width()));
  LblSize->move(x, y);
  LblSize->show();
  LblSize->raise();
}

void TFrmSelectRegion::keyPressEvent(QKeyEvent* event) {
  // Every key stays here: none may reach a window behind the picture.
  event->accept();
  switch (event->key()) {
    case Qt::Key_Escape:
      Deliver({{}, "Fail", true});
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (phase_ != TPhase::Waiting && !SpanOf(anchor_, free_).isEmpty()) Finish(anchor_, free_);
      break;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
      Adjust(event->key(), event->modifiers().testFlag(Qt::ShiftModifier));
      break;
    default:
      break;
  }
}

void TFrmSelectRegion::Adjust(int key, bool resize) {
  QRect r = SpanOf(anchor_, free_);
  if (phase_ == TPhase::Waiting || r.isEmpty()) return;
  // From here the keys own the rectangle: the pointer no longer moves it.
  phase_ = TPhase::Adjusting;
  const QPoint step = ArrowStep(key);
  if (resize) r.setBottomRight(r.bottomRight() + step);
  else r.translate(step);
  if (r.width() < 1 || r.height() < 1 || !img1->Picture().rect().contains(r)) return;
  MoveBand(r.topLeft(), r.bottomRight() + QPoint(1, 1));
}

void TFrmSelectRegion::Finish(QPoint a, QPoint b) {
  const int width = std::abs(b.x() - a.x());
  const int height = std::abs(b.y() - a.y());
  if (width == 0 || height == 0) {
    Deliver({{}, "Fail"});
    return;
  }
  Deliver({PairText(std::min(a.x(), b.x()), std::min(a.y(), b.y())), PairText(width, height)});
}

void TFrmSelectRegion::Deliver(TRegionSelection result) {
  phase_ = TPhase::Waiting;
  // The offset is in place before the size: a caller waiting on the size reads both.
  result_ = std::move(result);
  hide();
  emit Selected(QString::fromStdString(result_.Offset), QString::fromStdString(result_.Size));
}

}  // namespace qv
