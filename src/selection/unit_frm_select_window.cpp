#include "selection/unit_frm_select_window.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <vector>

#include "selection/x11_windows.h"

// Resources of a static library are not pulled in by the linker unless something asks for them.
static void InitSelectionResources() { Q_INIT_RESOURCE(selection); }

namespace qv {

namespace {

constexpr int kClientWidth = 307;
constexpr int kClientHeight = 130;
constexpr int kHighlightMs = 400;
constexpr int kHighlightIntervalMs = 1000;

QImage EyeImage() {
  InitSelectionResources();
  return QImage(QStringLiteral(":/selection/eye.png")).convertToFormat(QImage::Format_ARGB32);
}

_XDisplay* ToolkitDisplay() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->display() : nullptr;
}

// The eye as a two-colour X cursor: a pointer grab shows an X cursor, not a Qt one. Made once for
// the toolkit's display and kept, like the Qt cursor.
unsigned long RootEyeCursor(_XDisplay* dpy) {
  static _XDisplay* madeFor = nullptr;
  static unsigned long cursor = 0;
  if (madeFor == dpy) return cursor;
  const QImage eye = EyeImage();
  if (eye.isNull()) return 0;
  const int w = eye.width(), h = eye.height(), stride = (w + 7) / 8;
  std::vector<std::uint8_t> source(static_cast<size_t>(stride * h)), mask(source.size());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const QRgb px = eye.pixel(x, y);
      if (qAlpha(px) < 128) continue;
      const auto bit = static_cast<std::uint8_t>(1u << (x % 8));
      mask[static_cast<size_t>(y * stride + x / 8)] |= bit;
      if (qGray(px) < 128) source[static_cast<size_t>(y * stride + x / 8)] |= bit;
    }
  }
  cursor = x11::CreateBitmapCursor(dpy, w, h, source.data(), mask.data(), w / 2, h / 2);
  madeFor = dpy;
  return cursor;
}

}  // namespace

const QCursor& EyeCursor() {
  static const QCursor cursor = [] {
    const QImage eye = EyeImage();
    return QCursor(QPixmap::fromImage(eye), eye.width() / 2, eye.height() / 2);
  }();
  return cursor;
}

// While our pointer grab on the root window lasts, the pointer's events come to us for the root,
// a window the toolkit does not know; they are picked up here before it drops them.
class TFrmSelectWindow::TRootPointerFilter : public QAbstractNativeEventFilter {
 public:
  TRootPointerFilter(TFrmSelectWindow* form, unsigned long root) : form_(form), root_(root) {}

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
    if (eventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const auto kind = event->response_type & 0x7F;
    if (kind != XCB_BUTTON_PRESS && kind != XCB_BUTTON_RELEASE && kind != XCB_MOTION_NOTIFY)
      return false;
    // Press, release and motion events share their layout.
    const auto* pointer = reinterpret_cast<const xcb_button_release_event_t*>(event);
    if (pointer->event != root_) return false;
    if (kind == XCB_BUTTON_RELEASE && pointer->detail == 1)
      form_->img1MouseUp(Qt::LeftButton, true, pointer->root_x, pointer->root_y);
    return true;
  }

 private:
  TFrmSelectWindow* form_;
  unsigned long root_;
};

TFrmSelectWindow::TFrmSelectWindow(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint) {
  InitSelectionResources();
  setObjectName("FrmSelectWindow");
  setFixedSize(kClientWidth, kClientHeight);

  QFont plain(QStringLiteral("MS Sans Serif"));
  plain.setPointSize(8);
  setFont(plain);
  QFont bold = plain;
  bold.setBold(true);

  Lbl1 = new QLabel(QStringLiteral("Specify the window by dragging the Finder Tool  over a window to "
                                   "select it, then releasing the mouse button."),
                    this);
  Lbl1->setObjectName("Lbl1");
  Lbl1->setFont(bold);
  Lbl1->setWordWrap(true);
  Lbl1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Lbl1->setGeometry(10, 8, 287, 44);

  Lbl2 = new QLabel(QStringLiteral("Finder Tool:"), this);
  Lbl2->setObjectName("Lbl2");
  Lbl2->setFont(bold);
  Lbl2->setGeometry(10, 60, 90, 20);

  img1 = new TFinderPicture(this);
  img1->setObjectName("img1");
  img1->setPixmap(QPixmap(QStringLiteral(":/selection/finder_tool.png")));
  img1->setGeometry(104, 54, 32, 32);
  img1->OnMouseDown = [this](Qt::MouseButton b) { img1MouseDown(b); };
  img1->OnMouseUp = [this](Qt::MouseButton b) { img1MouseUp(b, false, 0, 0); };

  // Wrapped, so that a font wider than the one the dialog was laid out for never cuts it short.
  Lbl3 = new QLabel(QStringLiteral("This window will hide wen you start to select a window"), this);
  Lbl3->setObjectName("Lbl3");
  Lbl3->setWordWrap(true);
  Lbl3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Lbl3->setGeometry(10, 94, 287, 32);

  tmr1 = new QTimer(this);
  tmr1->setObjectName("tmr1");
  tmr1->setInterval(kHighlightIntervalMs);
  connect(tmr1, &QTimer::timeout, this, [this] { tmr1Timer(); });

  FormCreate();
}

TFrmSelectWindow::~TFrmSelectWindow() {
  EndDrag();
  if (ownDisplay_) x11::CloseDisplay(dpy_);
}

void TFrmSelectWindow::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  // The window manager draws no title bar and no border for this dialog; a thin raised edge of
  // its own keeps it from melting into the window behind.
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::Shadow));
  painter.drawRect(0, 0, width() - 1, height() - 1);
  painter.setPen(palette().color(QPalette::Light));
  painter.drawLine(1, 1, width() - 3, 1);
  painter.drawLine(1, 1, 1, height() - 3);
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawLine(width() - 2, 1, width() - 2, height() - 2);
  painter.drawLine(1, height() - 2, width() - 2, height() - 2);
}

void TFrmSelectWindow::FormCreate() {
  (void)EyeCursor();
  dpy_ = ToolkitDisplay();
  if (!dpy_) {
    dpy_ = x11::OpenDisplay();
    ownDisplay_ = dpy_ != nullptr;
  }
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
}

void TFrmSelectWindow::img1MouseDown(Qt::MouseButton button) {
  if (button != Qt::LeftButton || dragging_ || !dpy_) return;
  dragging_ = true;
  tmr1->start();
  QApplication::setOverrideCursor(EyeCursor());
  // The press gave us the pointer, but only until our window goes away; a grab on the root window
  // keeps the release coming to us wherever it happens. It needs the toolkit's own connection, the
  // one that holds the pointer now.
  if (!ownDisplay_ && x11::GrabPointerOnRoot(dpy_, RootEyeCursor(dpy_))) {
    grabbed_ = true;
    filter_ = std::make_unique<TRootPointerFilter>(this, x11::RootWindowId(dpy_));
    qApp->installNativeEventFilter(filter_.get());
    // Hidden behind Qt's back: hiding a dialog the Qt way would end its modal loop.
    x11::UnmapWindow(dpy_, winId());
  }
}

void TFrmSelectWindow::tmr1Timer() {
  int x = 0, y = 0;
  if (!x11::PointerPosition(dpy_, x, y)) return;
  x11::TScreenRect r;
  if (!x11::GetWindowRect(dpy_, x11::WindowAtPoint(dpy_, x, y), r)) return;
  // A maximised window may start off the screen; its outline is kept on it.
  if (r.Left < 0) r.Left = 0;
  if (r.Top < 0) r.Top = 0;
  x11::DrawInvertedOutline(dpy_, r);
  x11::Sync(dpy_);
  QThread::msleep(kHighlightMs);
  x11::DrawInvertedOutline(dpy_, r);
  x11::Sync(dpy_);
}

void TFrmSelectWindow::img1MouseUp(Qt::MouseButton button, bool havePoint, int x, int y) {
  if (button != Qt::LeftButton || !dragging_) return;
  EndDrag();
  x11::XWindowId window = 0;
  x11::TScreenRect r;
  if (havePoint || x11::PointerPosition(dpy_, x, y)) window = x11::WindowAtPoint(dpy_, x, y);
  if (!window || !x11::GetWindowRect(dpy_, window, r)) {
    // The window went away under the pointer; the dialog must not stay open while unseen.
    reject();
    return;
  }
  result_.Window = window;
  result_.Offset = std::to_string(r.Left) + "," + std::to_string(r.Top);
  result_.Size = std::to_string(std::abs(r.Right - r.Left)) + "," + std::to_string(std::abs(r.Bottom - r.Top));
  accept();
}

void TFrmSelectWindow::EndDrag() {
  if (!dragging_) return;
  dragging_ = false;
  QApplication::restoreOverrideCursor();
  tmr1->stop();
  if (filter_) {
    qApp->removeNativeEventFilter(filter_.get());
    filter_.reset();
  }
  if (grabbed_) {
    grabbed_ = false;
    x11::UngrabPointer(dpy_);
  }
}

}  // namespace qv
