// The window finder driven with real pointer input (xdotool) on a real X server, judged by xwininfo.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLineEdit>
#include <QPalette>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <memory>

#include "desktop_support.h"
#include "selection/unit_frm_select_window.h"
#include "selection/x11_windows.h"

// Last: Xlib's macros must not meet the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

namespace qv {
namespace {

using test::Pump;
using test::Shell;
using test::WaitFor;

QImage GrabArea(const QRect& r) {
  return QGuiApplication::primaryScreen()
      ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

void Paint(QWidget* w, const QColor& colour) {
  QPalette palette = w->palette();
  palette.setColor(QPalette::Window, colour);
  w->setPalette(palette);
  w->setAutoFillBackground(true);
}

// The pointer's picture as the X server shows it now.
QImage CurrentCursorImage() {
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return {};
  QImage image;
  if (XFixesCursorImage* cursor = XFixesGetCursorImage(dpy)) {
    image = QImage(cursor->width, cursor->height, QImage::Format_ARGB32);
    for (int y = 0; y < cursor->height; ++y)
      for (int x = 0; x < cursor->width; ++x)
        image.setPixel(x, y, static_cast<QRgb>(cursor->pixels[y * cursor->width + x]));
    XFree(cursor);
  }
  XCloseDisplay(dpy);
  return image;
}

unsigned long RootId() {
  Display* dpy = XOpenDisplay(nullptr);
  const unsigned long root = dpy ? DefaultRootWindow(dpy) : 0;
  if (dpy) XCloseDisplay(dpy);
  return root;
}

// Pixels where the two pictures differ in being shown, or in being dark or light.
long CursorDifference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return -1;
  long differing = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      const bool shownP = qAlpha(p) >= 128, shownQ = qAlpha(q) >= 128;
      if (shownP != shownQ || (shownP && (qGray(p) < 128) != (qGray(q) < 128))) ++differing;
    }
  return differing;
}

// A managed top-level window with a text box that has an X window of its own, and a window that
// sticks out over the screen's top-left corner (no window manager moves it back).
class FinderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::HaveDisplay()) return;
    test::App();
    target_ = new QWidget;
    target_->setWindowTitle("finder target");
    target_->setGeometry(700, 300, 400, 300);
    Paint(target_, QColor(200, 180, 40));
    textBox_ = new QLineEdit(target_);
    textBox_->setAttribute(Qt::WA_NativeWindow);
    textBox_->setGeometry(50, 60, 160, 30);
    target_->show();
    corner_ = new QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    corner_->setGeometry(-8, -8, 300, 200);
    Paint(corner_, QColor(60, 120, 200));
    corner_->show();
    WaitFor([] { return test::XWinInfo(target_->winId()).MapState == "IsViewable"; }, 5000);
    Pump(500);
  }
  static void TearDownTestSuite() {
    delete target_;
    delete corner_;
    target_ = corner_ = nullptr;
  }
  void SetUp() override {
    if (!test::HaveDisplay()) GTEST_SKIP() << "needs DISPLAY";
  }

  static QPoint FinderPoint(const TFrmSelectWindow& dlg) { return dlg.img1->mapToGlobal(QPoint(16, 16)); }

  static inline QWidget* target_ = nullptr;
  static inline QLineEdit* textBox_ = nullptr;
  static inline QWidget* corner_ = nullptr;
};

TEST_F(FinderTest, WindowUnderAPointIsTheClientOrItsDirectChild) {
  _XDisplay* dpy = x11::OpenDisplay();
  ASSERT_NE(dpy, nullptr);
  const QPoint client = target_->mapToGlobal(QPoint(300, 200));
  const QPoint text = textBox_->mapToGlobal(QPoint(10, 10));
  struct Case {
    QPoint at;
    unsigned long expected;
  };
  const Case cases[] = {
      {client, target_->winId()},
      {text, textBox_->winId()},
      {QPoint(100, 100), corner_->winId()},
      {QPoint(QGuiApplication::primaryScreen()->geometry().width() - 30,
              QGuiApplication::primaryScreen()->geometry().height() / 2),
       x11::RootWindowId(dpy)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.at.x() << "," << c.at.y());
    EXPECT_EQ(x11::WindowAtPoint(dpy, c.at.x(), c.at.y()), c.expected);
  }
  x11::CloseDisplay(dpy);
}

TEST_F(FinderTest, OutlineIsDrawnOverWindowsAndTheSecondDrawRestoresTheScreen) {
  _XDisplay* dpy = x11::OpenDisplay();
  ASSERT_NE(dpy, nullptr);
  const QPoint origin = target_->mapToGlobal(QPoint(100, 120));
  const x11::TScreenRect r{origin.x(), origin.y(), origin.x() + 200, origin.y() + 150};
  const QRect area(origin - QPoint(10, 10), QSize(220, 170));
  const QImage before = GrabArea(area);
  x11::DrawInvertedOutline(dpy, r);
  x11::Sync(dpy);
  const QImage during = GrabArea(area);
  x11::DrawInvertedOutline(dpy, r);
  x11::Sync(dpy);
  const QImage after = GrabArea(area);
  // On the edge: not-xor with pure red turns the yellow-brown window into (200,75,215).
  const QPoint onEdge(10 + 50, 10), inside(10 + 100, 10 + 75);
  EXPECT_EQ(before.pixel(onEdge) & 0xFFFFFFu, 0xC8B428u);
  EXPECT_EQ(during.pixel(onEdge) & 0xFFFFFFu, 0xC84BD7u);
  EXPECT_EQ(during.pixel(QPoint(10 + 50, 10 + 1)) & 0xFFFFFFu, 0xC84BD7u) << "the pen is 4 pixels wide";
  EXPECT_EQ(during.pixel(inside), before.pixel(inside));
  EXPECT_NE(during, before);
  EXPECT_EQ(after, before);
  x11::CloseDisplay(dpy);
}

struct TDragOutcome {
  TWindowSelection result;
  int execResult = -1;
  std::string mapStateDuringDrag;
  bool draggingDuringDrag = false;
  QImage cursorDuringDrag;
};

// Presses on the finder picture, drags onto `to` and releases there, while the dialog runs modally
// as the recording controller runs it. Optionally takes a screenshot while the outline flashes.
TDragOutcome DragFinderTo(QPoint to, const std::string& screenshot = {}) {
  TDragOutcome out;
  TFrmSelectWindow dlg;
  QProcess driver;
  QTimer::singleShot(400, &dlg, [&] {
    const QPoint from = dlg.img1->mapToGlobal(QPoint(16, 16));
    const std::string shot =
        screenshot.empty() ? "" : "(sleep 2.05; import -window root '" + screenshot + "') & ";
    const std::string script =
        "xdotool mousemove " + std::to_string(from.x()) + " " + std::to_string(from.y()) +
        "; sleep 0.2; xdotool mousedown 1; " + shot + "sleep 0.3; xdotool mousemove " +
        std::to_string(from.x() + 40) + " " + std::to_string(from.y() + 40) + "; sleep 0.2; xdotool mousemove " +
        std::to_string(to.x()) + " " + std::to_string(to.y()) + "; sleep 2.2; xdotool mouseup 1; wait";
    driver.start("bash", {"-c", QString::fromStdString(script)});
    // Halfway through the drag: the dialog must be gone from the screen.
    QTimer::singleShot(1600, &dlg, [&] {
      out.mapStateDuringDrag = test::XWinInfo(dlg.winId()).MapState;
      out.draggingDuringDrag = dlg.Dragging();
      out.cursorDuringDrag = CurrentCursorImage();
    });
  });
  // A drag that never ends must not hang the test.
  QTimer::singleShot(15000, &dlg, [&] { dlg.reject(); });
  out.execResult = dlg.exec();
  driver.waitForFinished(10000);
  out.result = dlg.Result();
  return out;
}

TEST_F(FinderTest, DragAndReleasePicksTheWindowUnderThePointer) {
  struct Case {
    const char* what;
    QPoint at;
    unsigned long window;
  };
  const Case cases[] = {
      {"client area", target_->mapToGlobal(QPoint(300, 200)), target_->winId()},
      {"text box", textBox_->mapToGlobal(QPoint(20, 10)), textBox_->winId()},
      {"window off the corner", QPoint(150, 120), corner_->winId()},
      // Bare desktop is taken too; here only our grab can show the eye, no window of ours is below.
      {"desktop", QPoint(QGuiApplication::primaryScreen()->geometry().width() - 30,
                         QGuiApplication::primaryScreen()->geometry().height() / 2),
       RootId()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TDragOutcome out = DragFinderTo(c.at);
    EXPECT_EQ(out.execResult, QDialog::Accepted);
    EXPECT_EQ(out.mapStateDuringDrag, "IsUnMapped");
    EXPECT_TRUE(out.draggingDuringDrag);
    EXPECT_EQ(CursorDifference(out.cursorDuringDrag, EyeCursor().pixmap().toImage()), 0)
        << "the pointer shows the eye while dragging";
    EXPECT_EQ(out.result.Window, c.window);
    const test::TXWinInfo info = test::XWinInfo(c.window);
    ASSERT_TRUE(info.Valid);
    EXPECT_EQ(out.result.Offset, std::to_string(info.X) + "," + std::to_string(info.Y));
    EXPECT_EQ(out.result.Size, std::to_string(info.Width) + "," + std::to_string(info.Height));
  }
  // Not clamped to the screen.
  EXPECT_EQ(test::XWinInfo(corner_->winId()).X, -8);
}

TEST_F(FinderTest, RightButtonDoesNothing) {
  TFrmSelectWindow dlg;
  dlg.show();
  ASSERT_TRUE(WaitFor([&] { return test::XWinInfo(dlg.winId()).MapState == "IsViewable"; }, 5000));
  Pump(300);
  Shell("import -window root '" + (test::ArtifactDir() / "window_finder.png").string() + "'");
  const QPoint at = FinderPoint(dlg);
  ASSERT_EQ(Shell("xdotool mousemove " + std::to_string(at.x()) + " " + std::to_string(at.y()) +
                " mousedown 3 sleep 0.3 mousemove " + std::to_string(at.x() + 200) + " " +
                std::to_string(at.y() + 150)),
            0);
  Pump(1500);
  EXPECT_FALSE(dlg.Dragging());
  EXPECT_FALSE(dlg.tmr1->isActive());
  EXPECT_EQ(test::XWinInfo(dlg.winId()).MapState, "IsViewable");
  ASSERT_EQ(Shell("xdotool mouseup 3"), 0);
  Pump(300);
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(dlg.Result().Window, 0u);
  EXPECT_TRUE(dlg.Result().Offset.empty());
}

TEST_F(FinderTest, OutlineFlashesWhileDragging) {
  const std::string shot = (test::ArtifactDir() / "window_finder_dragging.png").string();
  const TDragOutcome out = DragFinderTo(target_->mapToGlobal(QPoint(200, 250)), shot);
  EXPECT_EQ(out.result.Window, target_->winId());
  const QImage picture(QString::fromStdString(shot));
  ASSERT_FALSE(picture.isNull());
  // The screenshot falls inside the second flash: the target's top edge is outlined.
  const QPoint edge = target_->mapToGlobal(QPoint(200, 0));
  EXPECT_EQ(picture.pixel(edge) & 0xFFFFFFu, 0xC84BD7u);
}

}  // namespace
}  // namespace qv
