#include "app/countdown_window.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QPainter>
#include <QTimer>
#include <algorithm>

#include "app/hotkey_grabber.h"
#include "selection/toolkit_display.h"

// Xlib after Qt: its macros clash with Qt's names.
#include <X11/Xlib.h>

namespace qv {

namespace {

// The digits' square: a third of the area's shorter side, within bounds that stay readable and
// leave most of a small area visible.
QRect DigitBox(const QRect& area) {
  const int side = std::clamp(std::min(area.width(), area.height()) / 3, 96, 360);
  return QRect(area.center().x() - side / 2, area.center().y() - side / 2, side, side);
}

// The toolkit's coordinates are the desktop's pixels divided by its scale factor.
QRect InToolkitUnits(const QRect& pixels) {
  const qreal scale = qApp ? qApp->devicePixelRatio() : 1.0;
  return QRect(qRound(pixels.x() / scale), qRound(pixels.y() / scale), qRound(pixels.width() / scale),
               qRound(pixels.height() / scale));
}

}  // namespace

TCountdownWindow::TCountdownWindow(const QRect& area, int seconds)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus | Qt::Tool),
      Left(seconds), Timer(std::make_unique<QTimer>()), Escape(std::make_unique<THotkeyGrabber>()) {
  setObjectName("FrmCountdown");
  setAttribute(Qt::WA_ShowWithoutActivating);
  setGeometry(InToolkitUnits(DigitBox(area)));
  Timer->setTimerType(Qt::PreciseTimer);  // a coarse timer may end each second early
  Timer->setInterval(1000);
  QObject::connect(Timer.get(), &QTimer::timeout, this, [this] { Tick(); });
  const long escape = Escape->AddAtom("Quorvane_CountdownEscape");
  Escape->OnHotkey = [this](long) {
    // Out of the event filter first.
    QMetaObject::invokeMethod(this, [this] { Cancel(); }, Qt::QueuedConnection);
  };
  // Another program may hold Escape; the stop command still calls the count off then.
  Escape->Register(escape, THotkey{0, kVkEscape});
}

TCountdownWindow::~TCountdownWindow() = default;

bool TCountdownWindow::Run() {
  if (Left <= 0) return true;
  show();
  raise();
  Timer->start();
  QEventLoop loop;
  Loop = &loop;
  const bool ranOut = loop.exec() == 0;
  Loop = nullptr;
  Timer->stop();
  Escape->UnregisterAll();
  TakeOffScreen();
  return ranOut && Left == 0;
}

void TCountdownWindow::Cancel() {
  if (Loop) Loop->exit(1);
}

void TCountdownWindow::Tick() {
  if (--Left <= 0) {
    if (Loop) Loop->exit(0);
    return;
  }
  update();
}

// Unmapped and the server told so before the capture may start: the digits must never be grabbed.
void TCountdownWindow::TakeOffScreen() {
  hide();
  if (_XDisplay* dpy = ToolkitDisplay()) XSync(dpy, False);
}

void TCountdownWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(rect(), QColor(32, 32, 32));
  painter.setPen(QPen(QColor(240, 240, 240), std::max(2, width() / 48)));
  const int inset = width() / 12;
  painter.drawEllipse(rect().adjusted(inset, inset, -inset, -inset));
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(height() / 2);
  painter.setFont(font);
  painter.drawText(rect(), Qt::AlignCenter, QString::number(Left));
}

}  // namespace qv
