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

#include <xcb/xcb.h>

#include <cstdlib>
#include <vector>

#include "selection/outline_window.h"
#include "selection/toolkit_display.h"
#include "selection/x11_windows.h"

// Resources of a static library are not pulled in by the linker unless something asks for them.
static void InitSelectionResources() { Q_INIT_RESOURCE(selection); }

namespace qv {

namespace {

constexpr int kClientWidth = 307;
constexpr int kClientHeight = 130;

QImage EyeImage() {
  InitSelectionResources();
  return QImage(QStringLiteral(":/selection/eye.png")).convertToFormat(QImage::Format_ARGB32);
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

std::string PairText(int a, int b) { return std::to_string(a) + "," + std::to_string(b); }

}  // namespace

const QCursor& EyeCursor() {
  static const QCursor cursor = [] {
    const QImage eye = EyeImage();
    return QCursor(QPixmap::fromImage(eye), eye.width() / 2, eye.height() / 2);
  }();
  return cursor;
}

// While our grabs on the root window last, the pointer's and the keyboard's events come to us for
// the root, a window the toolkit does not know; they are picked up here before it drops them.
class TFrmSelectWindow::TRootInputFilter : public QAbstractNativeEventFilter {
 public:
  TRootInputFilter(TFrmSelectWindow* form, unsigned long root) : form_(form), root_(root) {}

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
    if (eventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const auto kind = event->response_type & 0x7F;
    if (kind != XCB_BUTTON_PRESS && kind != XCB_BUTTON_RELEASE && kind != XCB_MOTION_NOTIFY && kind != XCB_KEY_PRESS)
      return false;
    // Key, button and motion events share their layout.
    const auto* input = reinterpret_cast<const xcb_button_release_event_t*>(event);
    if (input->event != root_) return false;
    if (kind == XCB_BUTTON_RELEASE && input->detail == 1) {
      form_->RootRelease(input->root_x, input->root_y);
    } else if ((kind == XCB_BUTTON_PRESS && input->detail == 3) ||
               (kind == XCB_KEY_PRESS && x11::IsEscapeKey(form_->dpy_, input->detail))) {
      form_->Cancel();
    }
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
  img1->OnMouseUp = [this](Qt::MouseButton b) { img1MouseUp(b); };

  // Wrapped, so that a font wider than the one the dialog was laid out for never cuts it short.
  Lbl3 = new QLabel(QStringLiteral("Or click the Finder Tool, then the window. Esc cancels."), this);
  Lbl3->setObjectName("Lbl3");
  Lbl3->setWordWrap(true);
  Lbl3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Lbl3->setGeometry(10, 94, 287, 32);

  FormCreate();
}

TFrmSelectWindow::~TFrmSelectWindow() {
  EndGrabs();
  probe_.reset();
}

unsigned long TFrmSelectWindow::OutlineWindow() const {
  return outline_ && outline_->Shown() ? outline_->WindowId() : 0;
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
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
}

void TFrmSelectWindow::img1MouseDown(Qt::MouseButton button) {
  if (button != Qt::LeftButton || step_ != TStep::Idle || !dpy_) return;
  probe_ = std::make_unique<TWindowProbe>([this](const TWindowProbe::TFound& found) {
    QMetaObject::invokeMethod(this, [this, found] { ProbeFound(found); }, Qt::QueuedConnection);
  });
  if (!probe_->Connected() || !x11::PointerPosition(dpy_, pressX_, pressY_)) {
    probe_.reset();
    return;
  }
  step_ = TStep::Dragging;
  if (!outline_) outline_ = std::make_unique<x11::TOutlineWindow>(dpy_);
  QApplication::setOverrideCursor(EyeCursor());
  // The press gave us the pointer, but only until our window goes away; grabs on the root window
  // keep the release (and Escape) coming to us wherever it happens. They need the toolkit's own
  // connection, the one that holds the pointer now.
  if (x11::GrabPointerOnRoot(dpy_, RootEyeCursor(dpy_))) {
    grabbed_ = true;
    x11::GrabKeyboardOnRoot(dpy_);
    filter_ = std::make_unique<TRootInputFilter>(this, x11::RootWindowId(dpy_));
    qApp->installNativeEventFilter(filter_.get());
    // Hidden behind Qt's back: hiding a dialog the Qt way would end its modal loop.
    x11::UnmapWindow(dpy_, winId());
  }
}

void TFrmSelectWindow::img1MouseUp(Qt::MouseButton button) {
  // Only without our grab does the release reach the picture; the pointer is where it ended.
  int x = 0, y = 0;
  if (button == Qt::LeftButton && step_ == TStep::Dragging && !grabbed_ && x11::PointerPosition(dpy_, x, y))
    PickAt(x, y);
}

void TFrmSelectWindow::RootRelease(int x, int y) {
  const int slack = int(QApplication::startDragDistance() * devicePixelRatioF());
  if (step_ == TStep::Dragging && std::abs(x - pressX_) + std::abs(y - pressY_) <= slack) {
    step_ = TStep::Clicking;
    return;
  }
  if (step_ == TStep::Dragging || step_ == TStep::Clicking) PickAt(x, y);
}

void TFrmSelectWindow::PickAt(int x, int y) {
  EndGrabs();
  step_ = TStep::Picking;
  probe_->Pick(x, y);
}

void TFrmSelectWindow::Cancel() {
  EndGrabs();
  step_ = TStep::Idle;
  probe_.reset();
  reject();
}

void TFrmSelectWindow::ProbeFound(const TWindowProbe::TFound& found) {
  if (!found.Picked) {
    if (!Dragging()) return;  // posted before the choice ended
    if (found.Window) outline_->Show(found.Rect);
    else outline_->Hide();
    return;
  }
  if (step_ != TStep::Picking) return;
  step_ = TStep::Idle;
  if (!found.Window) {
    // The window went away under the pointer; the dialog must not stay open while unseen.
    reject();
    return;
  }
  const x11::TScreenRect& r = found.Rect;
  result_.Window = found.Window;
  result_.Offset = PairText(r.Left, r.Top);
  result_.Size = PairText(std::abs(r.Right - r.Left), std::abs(r.Bottom - r.Top));
  accept();
}

void TFrmSelectWindow::EndGrabs() {
  if (step_ != TStep::Dragging && step_ != TStep::Clicking) return;
  QApplication::restoreOverrideCursor();
  if (outline_) outline_->Hide();
  if (filter_) {
    qApp->removeNativeEventFilter(filter_.get());
    filter_.reset();
  }
  if (grabbed_) {
    grabbed_ = false;
    x11::UngrabKeyboard(dpy_);
    x11::UngrabPointer(dpy_);
  }
}

}  // namespace qv
