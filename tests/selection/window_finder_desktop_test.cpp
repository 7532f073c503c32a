// The window finder driven with real pointer input (xdotool) on a real X server, judged by xwininfo.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLineEdit>
#include <QPalette>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "desktop_support.h"
#include "selection/outline_window.h"
#include "selection/unit_frm_select_window.h"
#include "selection/x11_windows.h"

// Last: Xlib's macros must not meet the headers above.
#include "capture/screen_capture_x11.h"
#include <X11/Xlib.h>
#include <X11/Xutil.h>
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

// True when another client can take the pointer and the keyboard: nobody holds either.
bool InputIsFree() {
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return false;
  const Window root = DefaultRootWindow(dpy);
  const bool pointer = XGrabPointer(dpy, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None,
                                    CurrentTime) == GrabSuccess;
  const bool keyboard = XGrabKeyboard(dpy, root, False, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess;
  XCloseDisplay(dpy);
  return pointer && keyboard;
}

// Watches one screen pixel from its own thread and connection: counts the times it changes and
// comes back, and keeps a picture of the whole screen from the first change.
struct TFlashWatch {
  explicit TFlashWatch(QPoint at) : x(at.x()), y(at.y()) {
    thread = std::thread([this] { Run(); });
    std::unique_lock lock(mutex);
    ready.wait(lock, [this] { return started; });
  }
  void Stop() {
    stop = true;
    if (thread.joinable()) thread.join();
  }
  ~TFlashWatch() { Stop(); }

  int flashes = 0;
  long longestMs = 0;
  bool restored = false;
  QImage shot;

 private:
  void Run() {
    Display* dpy = XOpenDisplay(nullptr);
    const Window root = dpy ? DefaultRootWindow(dpy) : 0;
    const unsigned long normal = dpy ? Pixel(dpy, root) : 0;
    {
      std::lock_guard lock(mutex);
      started = true;
    }
    ready.notify_all();
    if (!dpy) return;
    bool lit = false;
    auto since = std::chrono::steady_clock::now();
    while (!stop) {
      const bool now = Pixel(dpy, root) != normal;
      if (now && !lit) {
        since = std::chrono::steady_clock::now();
        ++flashes;
        if (shot.isNull()) shot = Screen(dpy, root);
      } else if (!now && lit) {
        NoteLitSince(since);
      }
      lit = now;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Still lit when told to stop: the change may not have been drawn yet.
    if (lit) NoteLitSince(since);
    restored = Pixel(dpy, root) == normal;
    XCloseDisplay(dpy);
  }
  void NoteLitSince(std::chrono::steady_clock::time_point since) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
    longestMs = std::max<long>(longestMs, ms);
  }
  unsigned long Pixel(Display* dpy, Window root) const {
    XImage* image = XGetImage(dpy, root, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0;
    const unsigned long value = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return value;
  }
  static QImage Screen(Display* dpy, Window root) {
    XWindowAttributes attrs;
    XGetWindowAttributes(dpy, root, &attrs);
    XImage* image = XGetImage(dpy, root, 0, 0, static_cast<unsigned>(attrs.width),
                              static_cast<unsigned>(attrs.height), AllPlanes, ZPixmap);
    if (!image) return {};
    QImage out;
    if (image->bits_per_pixel == 32) {
      out = QImage(reinterpret_cast<const uchar*>(image->data), image->width, image->height,
                   image->bytes_per_line, QImage::Format_RGB32)
                .copy();
    } else {
      out = QImage(image->width, image->height, QImage::Format_RGB32);
      for (int py = 0; py < image->height; ++py)
        for (int px = 0; px < image->width; ++px) {
          const unsigned long v = XGetPixel(image, px, py);
          out.setPixel(px, py, qRgb(static_cast<int>((v & 0xF800) >> 8), static_cast<int>((v & 0x07E0) >> 3),
                                    static_cast<int>((v & 0x001F) << 3)));
        }
    }
    XDestroyImage(image);
    return out;
  }

  const int x, y;
  std::atomic<bool> stop{false};
  std::thread thread;
  std::mutex mutex;
  std::condition_variable ready;
  bool started = false;
};

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
    Paint(target_, QColor(240, 240, 240));
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
  Display* dpy = OpenCaptureDisplay();
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
  CloseCaptureDisplay(dpy);
}

TEST_F(FinderTest, OutlineIsAnUnmanagedWindowRingingTheRectangleThatClicksGoThrough) {
  Display* dpy = OpenCaptureDisplay();
  ASSERT_NE(dpy, nullptr);
  const QPoint origin = target_->mapToGlobal(QPoint(100, 120));
  const QRect area(origin - QPoint(10, 10), QSize(220, 170));
  const QImage before = GrabArea(area);
  auto outline = std::make_unique<x11::TOutlineWindow>(dpy);
  outline->Show({origin.x(), origin.y(), origin.x() + 200, origin.y() + 150});
  ASSERT_TRUE(WaitFor([&] { return test::XWinInfo(outline->WindowId()).MapState == "IsViewable"; }, 3000));
  Pump(200);
  const QImage during = GrabArea(area);
  const QPoint onEdge(10 + 50, 10), innerEdge(10 + 50, 10 + 3), inside(10 + 100, 10 + 4);
  if (QGuiApplication::primaryScreen()->depth() >= 24) {
    EXPECT_EQ(during.pixel(onEdge) & 0xFFFFFFu, 0xFF0000u);
    EXPECT_EQ(during.pixel(innerEdge) & 0xFFFFFFu, 0xFF0000u) << "the ring is 4 pixels wide";
  } else {
    EXPECT_NE(during.pixel(onEdge), before.pixel(onEdge));
  }
  EXPECT_EQ(during.pixel(inside), before.pixel(inside));
  // Not managed: a compositing manager draws it like any other window, no window manager frames it.
  EXPECT_NE(test::Output("xwininfo -id " + std::to_string(outline->WindowId())).find("Override Redirect State: yes"),
            std::string::npos);
  // The pointer, and the finder's own lookups, see through the ring to the window below.
  EXPECT_EQ(x11::WindowAtPoint(dpy, origin.x() + 50, origin.y() + 1), target_->winId());
  outline.reset();
  XSync(dpy, False);
  Pump(200);
  EXPECT_EQ(GrabArea(area), before);
  CloseCaptureDisplay(dpy);
}

struct TDragOutcome {
  TWindowSelection result;
  int execResult = -1;
  std::string mapStateDuringDrag;
  bool draggingDuringDrag = false;
  unsigned long outlineDuringDrag = 0;
  QImage cursorDuringDrag;
  long longestStallMs = 0;
};

// How the user chooses: press on the finder picture, drag and release over the window; click the
// picture, then click the window; or press, drag and give up with Escape.
enum class TChooseBy { Drag, Click, Escape };

std::string ChooseScript(TChooseBy how, QPoint from, QPoint to) {
  auto move = [](QPoint p) { return "xdotool mousemove " + std::to_string(p.x()) + " " + std::to_string(p.y()); };
  const std::string press = how == TChooseBy::Click ? "xdotool click 1" : "xdotool mousedown 1";
  const std::string end = how == TChooseBy::Drag    ? "xdotool mouseup 1"
                          : how == TChooseBy::Click ? "xdotool click 1"
                                                    : "xdotool key Escape; sleep 0.3; xdotool mouseup 1";
  return move(from) + "; sleep 0.2; " + press + "; sleep 0.3; " + move(from + QPoint(40, 40)) + "; sleep 0.2; " +
         move(to) + "; sleep 2.2; " + end + "; wait";
}

// Chooses the window at `to` while the dialog runs modally as the recording controller runs it,
// and measures the longest time the interface did not answer meanwhile.
TDragOutcome DragFinderTo(QPoint to, TChooseBy how = TChooseBy::Drag) {
  TDragOutcome out;
  TFrmSelectWindow dlg;
  QProcess driver;
  QElapsedTimer sinceTick;
  QTimer ticker;
  ticker.setInterval(10);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    out.longestStallMs = std::max<long>(out.longestStallMs, sinceTick.restart());
  });
  QTimer::singleShot(400, &dlg, [&] {
    driver.start("bash", {"-c", QString::fromStdString(ChooseScript(how, dlg.img1->mapToGlobal(QPoint(16, 16)), to))});
    sinceTick.start();
    ticker.start();
    // Halfway through the choice: the dialog must be gone from the screen.
    QTimer::singleShot(1600, &dlg, [&] {
      out.mapStateDuringDrag = test::XWinInfo(dlg.winId()).MapState;
      out.draggingDuringDrag = dlg.Dragging();
      out.outlineDuringDrag = dlg.OutlineWindow();
      out.cursorDuringDrag = CurrentCursorImage();
    });
  });
  // A choice that never ends must not hang the test.
  QTimer::singleShot(15000, &dlg, [&] { dlg.reject(); });
  out.execResult = dlg.exec();
  ticker.stop();
  driver.waitForFinished(10000);
  out.result = dlg.Result();
  return out;
}

TEST_F(FinderTest, DragAndReleaseOrTwoClicksPickTheWindowUnderThePointer) {
  struct Case {
    const char* what;
    QPoint at;
    unsigned long window;
    TChooseBy how;
  };
  const Case cases[] = {
      {"client area", target_->mapToGlobal(QPoint(300, 200)), target_->winId(), TChooseBy::Drag},
      {"text box", textBox_->mapToGlobal(QPoint(20, 10)), textBox_->winId(), TChooseBy::Drag},
      {"window off the corner", QPoint(150, 120), corner_->winId(), TChooseBy::Drag},
      // Bare desktop is taken too; here only our grab can show the eye, no window of ours is below.
      {"desktop", QPoint(QGuiApplication::primaryScreen()->geometry().width() - 30,
                         QGuiApplication::primaryScreen()->geometry().height() / 2),
       RootId(), TChooseBy::Drag},
      {"client area, by two clicks", target_->mapToGlobal(QPoint(300, 200)), target_->winId(), TChooseBy::Click},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TDragOutcome out = DragFinderTo(c.at, c.how);
    EXPECT_EQ(out.execResult, QDialog::Accepted);
    EXPECT_EQ(out.mapStateDuringDrag, "IsUnMapped");
    EXPECT_TRUE(out.draggingDuringDrag);
    EXPECT_NE(out.outlineDuringDrag, 0u);
    EXPECT_LT(out.longestStallMs, 100) << "the interface answers while the user chooses";
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

TEST_F(FinderTest, EscapeCancelsTheChoiceAndLetsGoOfTheInput) {
  const TDragOutcome out = DragFinderTo(target_->mapToGlobal(QPoint(300, 200)), TChooseBy::Escape);
  EXPECT_NE(out.outlineDuringDrag, 0u);
  EXPECT_EQ(out.execResult, QDialog::Rejected);
  EXPECT_EQ(out.result.Window, 0u);
  EXPECT_TRUE(out.result.Offset.empty());
  EXPECT_EQ(test::XWinInfo(out.outlineDuringDrag).MapState, "") << "the outline window is gone";
  EXPECT_TRUE(InputIsFree());
}

TEST_F(FinderTest, ClicksStillReachTheProgramAfterADrag) {
  // The release of the drag goes to our root grab, not to Qt; Qt must not be left thinking the
  // button is still down.
  const TDragOutcome out = DragFinderTo(target_->mapToGlobal(QPoint(300, 200)));
  ASSERT_EQ(out.result.Window, target_->winId());
  QPushButton button("after the drag");
  button.setGeometry(200, 600, 200, 60);
  int clicks = 0;
  QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });
  button.show();
  ASSERT_TRUE(WaitFor([&] { return test::XWinInfo(button.winId()).MapState == "IsViewable"; }, 5000));
  Pump(300);
  const QPoint at = button.mapToGlobal(QPoint(100, 30));
  ASSERT_EQ(Shell("xdotool mousemove " + std::to_string(at.x()) + " " + std::to_string(at.y()) +
                  " click 1 sleep 0.6 click 1"),
            0);
  EXPECT_TRUE(WaitFor([&] { return clicks == 2; }, 3000)) << clicks << " clicks arrived";
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
  EXPECT_EQ(dlg.OutlineWindow(), 0u);
  EXPECT_EQ(test::XWinInfo(dlg.winId()).MapState, "IsViewable");
  ASSERT_EQ(Shell("xdotool mouseup 3"), 0);
  Pump(300);
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(dlg.Result().Window, 0u);
  EXPECT_TRUE(dlg.Result().Offset.empty());
}

TEST_F(FinderTest, OutlineStaysOnTheWindowUnderThePointerAndGoesWithTheDrag) {
  // Watched from a connection of our own.
  const QPoint edge = target_->mapToGlobal(QPoint(200, 0));
  TFlashWatch watch(edge);
  const TDragOutcome out = DragFinderTo(target_->mapToGlobal(QPoint(200, 250)));
  watch.Stop();
  EXPECT_EQ(out.result.Window, target_->winId());
  // The drag rests over the target for over two seconds: one steady outline, not a blink.
  EXPECT_EQ(watch.flashes, 1);
  EXPECT_GE(watch.longestMs, 1500);
  EXPECT_TRUE(watch.restored) << "the outline is gone after the drag";
  ASSERT_FALSE(watch.shot.isNull());
  if (QGuiApplication::primaryScreen()->depth() >= 24) {
    EXPECT_EQ(watch.shot.pixel(edge) & 0xFFFFFFu, 0xFF0000u);
  }
  EXPECT_TRUE(watch.shot.save(QString::fromStdString((test::ArtifactDir() / "window_finder_dragging.png").string())));
}

// The root's child that holds `window`: the window manager's frame around a client.
unsigned long FrameOf(Display* dpy, unsigned long window) {
  Window w = window;
  for (;;) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(dpy, w, &root, &parent, &children, &count)) return 0;
    if (children) XFree(children);
    if (parent == root || parent == 0) return w;
    w = parent;
  }
}

// PSNR (dB) of the recording's first picture against a picture of the same size; -1 when ffmpeg
// could not compare them.
double FirstPicturePsnr(const std::string& recording, const std::string& picture) {
  const std::string out = test::Output("ffmpeg -nostdin -hide_banner -i '" + recording + "' -i '" + picture +
                                       "' -lavfi '[0:v]trim=end_frame=1[a];[1:v]format=yuv420p[b];[a][b]psnr' "
                                       "-f null - 2>&1 | grep -o 'average:[0-9.inf]*' | tail -1");
  if (out.rfind("average:", 0) != 0) return -1;
  return out.compare(8, 3, "inf") == 0 ? 99 : std::atof(out.c_str() + 8);
}

// A window with a known picture under openbox, then under IceWM, whose frames and title bars differ:
// the finder takes the client over its title bar too, and the client recorded by its own id or its
// frame's (quorvane-rec plans the same device string as the tray program) equals a screenshot of
// the client's own pixels.
TEST(WindowManagerTest, APickedWindowIsRecordedAsItsClientAreaUnderEitherWindowManager) {
  if (!test::HaveDisplay()) GTEST_SKIP() << "needs DISPLAY";
  const char* rigWm = std::getenv("QV_RIG_WM");
  const std::string wm = rigWm && *rigWm ? rigWm : "openbox";
  if (wm != "icewm") {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(Shell("'" QV_TEST_SOURCE_DIR "/../scripts/desktop-rig.sh' --wm icewm --no-sound --no-tray -- '" +
                    self + "' --gtest_filter=WindowManagerTest.*"),
              0)
        << "under IceWM";
  }
  const std::string dir = (test::ArtifactDir() / ("window_manager_" + wm)).string();
  std::filesystem::create_directories(dir);
  const std::string pattern = dir + "/pattern.png", shot = dir + "/client.png", tag = std::to_string(getpid());
  ASSERT_EQ(Shell("convert -size 640x480 gradient:'#ff4040-#4040ff' '(' -size 640x480 pattern:checkerboard ')' "
                  "-compose multiply -composite '" + pattern + "'"),
            0);
  ASSERT_EQ(Shell("display -title qv-wm-" + tag + " -geometry +101+170 '" + pattern + "' & echo $! >'" + dir +
                  "/pid'"),
            0);
  struct TViewer {
    std::string pidFile;
    ~TViewer() { Shell("kill $(cat '" + pidFile + "') 2>/dev/null"); }
  } viewer{dir + "/pid"};
  const unsigned long client =
      std::strtoul(test::Output("timeout 10 xdotool search --sync --onlyvisible --name qv-wm-" + tag).c_str(),
                   nullptr, 10);
  ASSERT_NE(client, 0u) << "the window did not appear";
  Shell("sleep 1; xdotool mousemove 1910 1070; import -window " + std::to_string(client) + " '" + shot + "'");
  Display* dpy = OpenCaptureDisplay();
  ASSERT_NE(dpy, nullptr);
  const unsigned long frame = FrameOf(dpy, client);
  const test::TXWinInfo inside = test::XWinInfo(client), outside = test::XWinInfo(frame);
  ASSERT_NE(frame, client) << "the window manager framed the window";
  ASSERT_GT(inside.Y, outside.Y) << "a title bar above the client";
  EXPECT_EQ(x11::WindowAtPoint(dpy, int(inside.X + 320), int(inside.Y + 240)), client);
  EXPECT_EQ(x11::WindowAtPoint(dpy, int(inside.X + 320), int(outside.Y + inside.Y) / 2), client) << "the title bar";
  CloseCaptureDisplay(dpy);
  for (const unsigned long named : {client, frame}) {
    const std::string file = dir + "/" + (named == client ? "client" : "frame") + ".avi";
    SCOPED_TRACE(file);
    std::filesystem::remove(file);
    ASSERT_EQ(Shell("'" QV_BIN_DIR "/quorvane-rec' --no-audio --vb 20000 --duration 1 --window " +
                    std::to_string(named) + " '" + file + "' 2>'" + file + ".log'"),
              0);
    EXPECT_EQ(test::Output("ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x '" +
                           file + "'"),
              "640x480\n");
    const double psnr = FirstPicturePsnr(file, shot);
    std::printf("%s, window %s: PSNR %.2f dB\n", wm.c_str(),
                named == client ? "by its own id" : "by its frame's", psnr);
    EXPECT_GT(psnr, 40.0);
  }
}

}  // namespace
}  // namespace qv
