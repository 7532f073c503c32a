#include "app/frm_control.h"

#include <QAction>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <functional>
#include <optional>
#include <utility>

#include "app/frm_main.h"
#include "app/notices.h"

// Last: Xlib's macros must not meet the Qt headers.
#include <X11/Xlib.h>

namespace qv {

namespace {

// Room left between the window and the area, whose blinking frame is drawn just outside it.
constexpr int kGap = 8;
constexpr int kWindowManagerMs = 1000;

// `area` (desktop pixels) in the toolkit's pixels: a screen keeps its origin and divides what lies
// beyond it by its scale factor.
QRect ToolkitRect(const QRect& area) {
  for (const QScreen* screen : QGuiApplication::screens()) {
    const qreal ratio = screen->devicePixelRatio();
    const QRect native(screen->geometry().topLeft(), screen->geometry().size() * ratio);
    if (!native.contains(area.center())) continue;
    const QPointF offset = QPointF(area.topLeft() - native.topLeft()) / ratio;
    return {native.topLeft() + offset.toPoint(), (QSizeF(area.size()) / ratio).toSize()};
  }
  return area;
}

// Where a frame like `frame` can stand on a screen beside `area` (the toolkit's pixels), as near to
// where it is as there is room; none when the area leaves no room on any screen.
std::optional<QPoint> PlaceBeside(const QRect& frame, const QRect& area) {
  const QRect keepOff = area.adjusted(-kGap, -kGap, kGap, kGap);
  std::optional<QPoint> best;
  int nearest = INT_MAX;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect room = screen->availableGeometry();
    if (frame.width() > room.width() || frame.height() > room.height()) continue;
    const int x = std::clamp(frame.x(), room.left(), room.right() + 1 - frame.width());
    const int y = std::clamp(frame.y(), room.top(), room.bottom() + 1 - frame.height());
    const QPoint candidates[] = {{keepOff.left() - frame.width(), y},
                                 {keepOff.right() + 1, y},
                                 {x, keepOff.top() - frame.height()},
                                 {x, keepOff.bottom() + 1}};
    for (const QPoint& at : candidates) {
      const QRect there(at, frame.size());
      const int distance = (at - frame.topLeft()).manhattanLength();
      if (!room.contains(there) || there.intersects(keepOff) || distance >= nearest) continue;
      best = at;
      nearest = distance;
    }
  }
  return best;
}

// Where the X server has the window now, in desktop pixels; empty while it is not on the screen.
QRect OnScreen(const QWidget& window) {
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  Display* dpy = x11 ? x11->display() : nullptr;
  if (!dpy) return {};
  const ::Window id = static_cast<::Window>(window.winId());
  XWindowAttributes attributes{};
  ::Window child = 0;
  int x = 0, y = 0;
  if (!XGetWindowAttributes(dpy, id, &attributes) || attributes.map_state != IsViewable ||
      !XTranslateCoordinates(dpy, id, attributes.root, 0, 0, &x, &y, &child))
    return {};
  return {x, y, attributes.width, attributes.height};
}

}  // namespace

const char* const TFrmControl::kReason =
    "This desktop has no system tray, so Quorvane shows this window instead of a tray icon. "
    "Closing it only minimises it; \"Exit\" ends Quorvane.";

TFrmControl::TFrmControl(TFrmMain& form) : QWidget(nullptr, Qt::Window), Form(form) {
  setObjectName("FrmControl");
  setWindowTitle("Quorvane");
  setWindowIcon(form.windowIcon());
  auto* root = new QVBoxLayout(this);
  LblReason = new QLabel(QString::fromLatin1(kReason));
  LblReason->setObjectName("LblReason");
  LblReason->setWordWrap(true);
  LblStatus = new QLabel;
  LblStatus->setObjectName("LblStatus");
  QFont bold = LblStatus->font();
  bold.setBold(true);
  LblStatus->setFont(bold);
  // The last notice, where a tray would have shown a balloon, with what can be done about it.
  LblNotice = new QLabel;
  LblNotice->setObjectName("LblNotice");
  LblNotice->setWordWrap(true);
  LblNotice->setTextInteractionFlags(Qt::TextSelectableByMouse);
  LblNotice->hide();
  NoticeActions = new QHBoxLayout;
  NoticeActions->addStretch(1);
  root->addWidget(LblReason);
  root->addWidget(LblStatus);
  root->addWidget(LblNotice);
  root->addLayout(NoticeActions);

  auto* buttons = new QGridLayout;
  // Alt+letter works each button from the keyboard.
  BtnStart = Mirror("BtnStart", "&Start", form.MnuStartRecord);
  BtnStop = Mirror("BtnStop", "S&top", form.MnuStopRecord);
  BtnPause = Mirror("BtnPause", "&Pause", form.MnuPauseRecord);
  BtnResume = Mirror("BtnResume", "&Resume", form.MnuResumeRecord);
  BtnRecent = Mirror("BtnRecent", "Re&cent...", form.MnuRecent);
  BtnOptions = Mirror("BtnOptions", "&Options...", form.MnuOptions);
  BtnExit = Mirror("BtnExit", "E&xit", form.MnuExit);
  QPushButton* order[] = {BtnStart, BtnStop, BtnPause, BtnResume, BtnOptions, BtnExit};
  for (int i = 0; i < 6; ++i) buttons->addWidget(order[i], i / 4, i % 4);
  root->addLayout(buttons);

  connect(form.MnuStatus, &QAction::changed, this, [this] { ShowStatus(); });
  connect(&form, &TFrmMain::RecordingArea, this, [this](const QRect& area) { KeepOutOf(area); });
  form.Notices().SetWindowSink([this](const TNotice& notice) { ShowNotice(notice); });
  ShowStatus();
  setFixedWidth(420);
  FitHeight();
}

void TFrmControl::FitHeight() { setFixedHeight(layout()->totalHeightForWidth(width())); }

TFrmControl::~TFrmControl() { Form.Notices().SetWindowSink(nullptr); }

QPushButton* TFrmControl::Mirror(const char* name, const char* caption, QAction* item) {
  auto* button = new QPushButton(QString::fromLatin1(caption));
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  button->setEnabled(item->isEnabled());
  connect(item, &QAction::changed, button, [button, item] { button->setEnabled(item->isEnabled()); });
  connect(button, &QPushButton::clicked, item, &QAction::trigger);
  return button;
}

void TFrmControl::ShowStatus() {
  const QString levels = Form.SoundLevels();
  LblStatus->setText(Form.MnuStatus->text() + (levels.isEmpty() ? QString() : "\n" + levels));
}

void TFrmControl::ShowNotice(const TNotice& notice) {
  LblNotice->setText(QString::fromStdString(notice.Text));
  LblNotice->show();
  while (NoticeActions->count() > 1) delete NoticeActions->takeAt(1)->widget();
  for (const TNoticeAction& action : notice.Actions) {
    auto* button = new QPushButton(QString::fromStdString(action.Caption));
    std::string key = action.Key;
    if (!key.empty()) key[0] = char(std::toupper(static_cast<unsigned char>(key[0])));
    button->setObjectName(QString::fromStdString("BtnNotice" + key));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [run = action.Run] {
      if (run) run();
    });
    NoticeActions->addWidget(button);
    button->show();  // now, not once the layout gets to it: the height counts it
  }
  FitHeight();
}

void TFrmControl::KeepOutOf(const QRect& area) {
  if (area.isEmpty()) {
    ComeBack();
    return;
  }
  // Where the window really is, from the X server: the toolkit's own idea of a framed window's place
  // may be off by the frame (it depends on how the window manager took the last move).
  const QRect real = OnScreen(*this);
  const QPoint drift = real.isEmpty() ? QPoint() : ToolkitRect(real).topLeft() - geometry().topLeft();
  const QRect frame = frameGeometry().translated(drift), at = ToolkitRect(area);
  if (!isVisible() || isMinimized() || Away != TAway::No || !frame.intersects(at.adjusted(-kGap, -kGap, kGap, kGap)))
    return;
  Home = geometry().topLeft();
  const bool onX = qApp->nativeInterface<QNativeInterface::QX11Application>() != nullptr;
  if (const std::optional<QPoint> place = onX ? PlaceBeside(frame, at) : std::nullopt) {
    Away = TAway::Moved;
    setGeometry(QRect(*place + (geometry().topLeft() - frameGeometry().topLeft()) - drift, size()));
    WaitForWindowManager([this, area] { return !OnScreen(*this).intersects(area); });
  } else {
    Away = TAway::Minimised;
    showMinimized();
    WaitForWindowManager([this, onX] { return !onX || OnScreen(*this).isEmpty(); });
  }
}

void TFrmControl::ComeBack() {
  switch (std::exchange(Away, TAway::No)) {
    case TAway::Moved:
      setGeometry(QRect(Home, size()));
      break;
    case TAway::Minimised:
      showNormal();
      raise();
      break;
    case TAway::No:
      break;
  }
}

void TFrmControl::WaitForWindowManager(const std::function<bool()>& done) {
  QElapsedTimer waited;
  waited.start();
  while (!done() && waited.elapsed() < kWindowManagerMs) {
    QEventLoop tick;
    QTimer::singleShot(20, &tick, &QEventLoop::quit);
    tick.exec();
  }
}

void TFrmControl::closeEvent(QCloseEvent* event) {
  // The window is the program's only presence: closing it must not leave the user without a way
  // back. Exit is the way out.
  if (Form.Closed()) {
    event->accept();
    return;
  }
  event->ignore();
  showMinimized();
}

}  // namespace qv
