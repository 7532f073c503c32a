// The region picker driven with real pointer input (xdotool) on a real X server.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "desktop_support.h"
#include "selection/unit_frm_select_region.h"

// Last: Xlib's macros must not meet the headers above.
#include <X11/Xlib.h>

namespace qv {
namespace {

using test::Pump;
using test::Shell;
using test::WaitFor;

// A busy, known desktop under the picker, so its screenshot and the band on it can be compared
// pixel by pixel.
class PatternDesktop : public QWidget {
 public:
  PatternDesktop()
      : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint) {
    const QRect area = QGuiApplication::primaryScreen()->geometry();
    setGeometry(area);
    pattern_ = QImage(area.size(), QImage::Format_RGB32);
    // Light and dark tiles, so the band shows to the eye wherever it runs, with a little noise in
    // the low bits of every pixel so that a pixel put back wrongly does not go unnoticed.
    quint32 seed = 12345;
    for (int y = 0; y < pattern_.height(); ++y) {
      auto* line = reinterpret_cast<quint32*>(pattern_.scanLine(y));
      for (int x = 0; x < pattern_.width(); ++x) {
        seed = seed * 1664525u + 1013904223u;
        const int tx = x / 80, ty = y / 80;
        const bool light = (tx + ty) % 2 == 0;
        const int r = light ? 190 + (tx * 13) % 50 : 20 + (ty * 29) % 60;
        const int g = light ? 200 + (ty * 7) % 40 : 40 + (tx * 17) % 50;
        const int b = light ? 170 + (tx * ty) % 60 : 60 + (tx * 5 + ty) % 70;
        line[x] = qRgb(r ^ (seed >> 29), g ^ ((seed >> 26) & 7), b ^ ((seed >> 23) & 7));
      }
    }
  }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, pattern_); }

 private:
  QImage pattern_;
};

QImage GrabScreen() {
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect g = screen->geometry();
  return screen->grabWindow(0, g.x(), g.y(), g.width(), g.height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

class RegionPickerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::HaveDisplay()) return;
    test::App();
    desktop_ = new PatternDesktop;
    desktop_->show();
    WaitFor([] { return desktop_->isVisible(); }, 3000);
    Pump(300);
    picker_ = new TFrmSelectRegion;
  }
  static void TearDownTestSuite() {
    delete picker_;
    delete desktop_;
    picker_ = nullptr;
    desktop_ = nullptr;
  }
  void SetUp() override {
    if (!test::HaveDisplay()) GTEST_SKIP() << "needs DISPLAY";
  }

  // What the recording controller does, then waits until the picker shows its screenshot.
  static void Begin() {
    picker_->StartSelection();
    ASSERT_TRUE(WaitFor([] { return picker_->isVisible(); }, 3000));
    Pump(300);
  }
  static bool WaitResult() {
    return WaitFor([] { return !picker_->Result().Size.empty(); }, 5000);
  }
  static std::string MapState() { return test::XWinInfo(picker_->winId()).MapState; }

  static inline PatternDesktop* desktop_ = nullptr;
  static inline TFrmSelectRegion* picker_ = nullptr;
};

TEST_F(RegionPickerTest, TwoPressesGiveTheNormalisedRegionOrFail) {
  struct Case {
    int x1, y1, button1, x2, y2, button2;
    const char* offset;
    const char* size;
  };
  const Case cases[] = {
      {300, 200, 1, 100, 50, 1, "100,50", "200,150"},   // dragged up and left
      {100, 200, 1, 300, 50, 1, "100,50", "200,150"},   // up and right
      {300, 50, 2, 100, 200, 2, "100,50", "200,150"},   // down and left, the middle button
      {100, 50, 1, 300, 200, 2, "100,50", "200,150"},   // down and right
      {640, 100, 1, 640, 400, 1, "", "Fail"},           // same column
      {100, 333, 2, 700, 333, 1, "", "Fail"},           // same row
      {222, 222, 1, 222, 222, 1, "", "Fail"},           // same spot: arrives as a double click
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "(" << c.x1 << "," << c.y1 << ") -> (" << c.x2 << "," << c.y2 << ")");
    Begin();
    EXPECT_TRUE(picker_->Result().Size.empty());
    EXPECT_EQ(MapState(), "IsViewable");
    const int mx = (c.x1 + c.x2) / 2, my = (c.y1 + c.y2) / 2;
    ASSERT_EQ(Shell("xdotool mousemove " + std::to_string(c.x1) + " " + std::to_string(c.y1) +
                  " click " + std::to_string(c.button1) + " mousemove " + std::to_string(mx) + " " +
                  std::to_string(my) + " mousemove " + std::to_string(c.x2) + " " +
                  std::to_string(c.y2) + " click " + std::to_string(c.button2)),
              0);
    ASSERT_TRUE(WaitResult());
    EXPECT_EQ(picker_->Result().Offset, c.offset);
    EXPECT_EQ(picker_->Result().Size, c.size);
    Pump(200);
    EXPECT_FALSE(picker_->isVisible());
    EXPECT_EQ(MapState(), "IsUnMapped");
  }
}

TEST_F(RegionPickerTest, PressDragReleaseSelectsAndTheLabelsFollow) {
  Begin();
  EXPECT_EQ(picker_->Lbl1->text().toStdString(), kRegionHint);
  EXPECT_EQ(picker_->Lbl1->width(), 353);
  EXPECT_EQ(picker_->Lbl1->y(), 0);
  EXPECT_EQ(picker_->Lbl1->x(), (QGuiApplication::primaryScreen()->geometry().width() - 353) / 2);
  ASSERT_EQ(Shell("xdotool mousemove 300 200 mousedown 1 mousemove 350 260 mousemove 420 290"), 0);
  Pump(400);
  EXPECT_TRUE(picker_->Result().Size.empty());
  EXPECT_EQ(picker_->Lbl1->text().toStdString(), "(300,200) - (420,290); Width=120, Height=90");
  // The size sits just below the selection's bottom-left corner.
  EXPECT_TRUE(picker_->LblSize->isVisible());
  EXPECT_EQ(picker_->LblSize->text().toStdString(), "120 × 90");
  EXPECT_EQ(picker_->LblSize->pos(), QPoint(300, 290 + 4));
  Shell("import -window root '" + (test::ArtifactDir() / "region_picker_selection.png").string() + "'");
  ASSERT_EQ(Shell("xdotool mouseup 1"), 0);
  ASSERT_TRUE(WaitResult());
  EXPECT_EQ(picker_->Result().Offset, "300,200");
  EXPECT_EQ(picker_->Result().Size, "120,90");
  EXPECT_FALSE(picker_->Result().Cancelled);
}

TEST_F(RegionPickerTest, EscapeOrARightClickCancelsAndLeavesNothingOnScreen) {
  const struct {
    const char* what;
    const char* input;
  } cases[] = {
      {"Escape at once", "key Escape"},
      {"Escape with a band", "mousemove 200 200 click 1 mousemove 500 400 key Escape"},
      {"right click with a band", "mousemove 200 200 click 1 mousemove 500 400 click 3"},
      {"Escape while dragging", "mousemove 200 200 mousedown 1 mousemove 500 400 key Escape mouseup 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Begin();
    ASSERT_EQ(Shell(std::string("xdotool ") + c.input), 0);
    ASSERT_TRUE(WaitResult());
    EXPECT_TRUE(picker_->Result().Cancelled);
    EXPECT_EQ(picker_->Result().Size, "Fail");
    EXPECT_EQ(picker_->Result().Offset, "");
    Pump(200);
    EXPECT_EQ(MapState(), "IsUnMapped");
  }
}

// Another program's window with the keyboard focus, counting the key presses it is given.
class KeyWitness {
 public:
  KeyWitness() : dpy_(XOpenDisplay(nullptr)) {
    if (!dpy_) return;
    win_ = XCreateSimpleWindow(dpy_, DefaultRootWindow(dpy_), 600, 650, 300, 200, 0, 0, 0xFFFFFF);
    XSelectInput(dpy_, win_, KeyPressMask);
    XMapRaised(dpy_, win_);
    XSync(dpy_, False);
  }
  ~KeyWitness() {
    if (dpy_) XCloseDisplay(dpy_);
  }
  bool TakeFocus() {
    return WaitFor([this] {
      XSetInputFocus(dpy_, win_, RevertToParent, CurrentTime);
      ::Window focus = 0;
      int revert = 0;
      XGetInputFocus(dpy_, &focus, &revert);
      return focus == win_;
    }, 3000);
  }
  int Presses() {
    XSync(dpy_, False);
    while (XPending(dpy_)) {
      XEvent event;
      XNextEvent(dpy_, &event);
      if (event.type == KeyPress) ++presses_;
    }
    return presses_;
  }

 private:
  Display* dpy_;
  ::Window win_ = 0;
  int presses_ = 0;
};

TEST_F(RegionPickerTest, TheKeyboardDoesNotReachTheWindowBehind) {
  KeyWitness witness;
  ASSERT_TRUE(witness.TakeFocus());
  Begin();
  ASSERT_EQ(Shell("xdotool key a b Return space Escape"), 0);
  ASSERT_TRUE(WaitResult());
  EXPECT_TRUE(picker_->Result().Cancelled);
  EXPECT_EQ(witness.Presses(), 0);
  // Once the picker is gone the keys go where they went before.
  ASSERT_EQ(Shell("xdotool key c"), 0);
  EXPECT_TRUE(WaitFor([&] { return witness.Presses() == 1; }, 3000));
}

TEST_F(RegionPickerTest, ArrowsMoveShiftArrowsResizeAndEnterTakesTheRegion) {
  Begin();
  ASSERT_EQ(Shell("xdotool mousemove 100 100 click 1 mousemove 300 200"), 0);
  Pump(300);
  // Once the keys have the rectangle, the pointer no longer moves it.
  ASSERT_EQ(Shell("xdotool key Right Right Down shift+Right shift+Right shift+Up mousemove 600 600"), 0);
  Pump(400);
  EXPECT_TRUE(picker_->Result().Size.empty());
  EXPECT_EQ(picker_->LblSize->text().toStdString(), "202 × 99");
  ASSERT_EQ(Shell("xdotool key Return"), 0);
  ASSERT_TRUE(WaitResult());
  EXPECT_EQ(picker_->Result().Offset, "102,101");
  EXPECT_EQ(picker_->Result().Size, "202,99");
}

QRgb Dim(QRgb pixel) { return qRgb(qRed(pixel) / 2, qGreen(pixel) / 2, qBlue(pixel) / 2); }

// The same colour; with fewer bits per colour on the screen than in a picture, the nearest one
// the screen can show.
bool SameColour(QRgb expected, QRgb shown) {
  if (QGuiApplication::primaryScreen()->depth() >= 24) return (expected & 0xFFFFFFu) == (shown & 0xFFFFFFu);
  return std::abs(qRed(expected) - qRed(shown)) <= 8 && std::abs(qGreen(expected) - qGreen(shown)) <= 8 &&
         std::abs(qBlue(expected) - qBlue(shown)) <= 8;
}

// Every pixel outside the labels must be the screenshot's: inverted on the band's outline, as it
// was inside the band, dimmed outside it.
void ExpectScreenIsPictureWithBand(const QImage& before, const QImage& screen, const QRegion& labels,
                                   int x1, int y1, int x2, int y2) {
  ASSERT_EQ(before.size(), screen.size());
  const int l = std::min(x1, x2), r = std::max(x1, x2) - 1;
  const int t = std::min(y1, y2), b = std::max(y1, y2) - 1;
  long wrong = 0, inverted = 0;
  for (int y = 0; y < screen.height(); ++y) {
    const auto* was = reinterpret_cast<const quint32*>(before.constScanLine(y));
    const auto* now = reinterpret_cast<const quint32*>(screen.constScanLine(y));
    for (int x = 0; x < screen.width(); ++x) {
      if (labels.contains(QPoint(x, y))) continue;
      const bool inside = r >= l && b >= t && x >= l && x <= r && y >= t && y <= b;
      const bool onBand = inside && (x == l || x == r || y == t || y == b);
      const quint32 expected = onBand ? ~was[x] : inside ? was[x] : Dim(was[x]);
      if (!SameColour(expected, now[x])) ++wrong;
      if (onBand) ++inverted;
    }
  }
  EXPECT_EQ(wrong, 0) << "pixels differing from the picture with the band (" << inverted
                      << " band pixels)";
}

TEST_F(RegionPickerTest, OutsideTheBandIsDimmedAndTheBandInvertsPixelsUntilItMoves) {
  Begin();
  const QImage before = picker_->img1->Picture().copy();
  auto labels = [] { return QRegion(picker_->Lbl1->geometry()) + picker_->LblSize->geometry(); };
  ASSERT_EQ(Shell("xdotool mousemove 400 300 mousedown 1 mouseup 1 mousemove 700 600"), 0);
  Pump(400);
  ExpectScreenIsPictureWithBand(before, GrabScreen(), labels(), 400, 300, 700, 600);

  // Shrinking the band past its old edges: the old outline must come back exactly.
  ASSERT_EQ(Shell("xdotool mousemove 520 360"), 0);
  Pump(400);
  ExpectScreenIsPictureWithBand(before, GrabScreen(), labels(), 400, 300, 520, 360);

  // Back on the first corner the band is empty and the whole picture is dimmed.
  ASSERT_EQ(Shell("xdotool mousemove 400 300"), 0);
  Pump(400);
  EXPECT_FALSE(picker_->LblSize->isVisible());
  ExpectScreenIsPictureWithBand(before, GrabScreen(), labels(), 400, 300, 400, 300);

  ASSERT_EQ(Shell("xdotool mousemove 401 301 click 1"), 0);
  ASSERT_TRUE(WaitResult());
  EXPECT_EQ(picker_->Result().Size, "1,1");
}

TEST_F(RegionPickerTest, ScreenshotShowsTheDesktopWithoutThePicker) {
  // After a selection the picker still holds its band and label; the next picture must be the
  // desktop alone, pixel for pixel.
  Begin();
  ASSERT_EQ(Shell("xdotool mousemove 50 500 click 1 mousemove 900 900 click 1"), 0);
  ASSERT_TRUE(WaitResult());
  Begin();
  const QImage desktop = desktop_->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage& picture = picker_->img1->Picture();
  ASSERT_EQ(desktop.size(), picture.size());
  long differing = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      if (!SameColour(desktop.pixel(x, y), picture.pixel(x, y))) ++differing;
  EXPECT_EQ(differing, 0);
  ASSERT_EQ(Shell("xdotool mousemove 10 10 click 1 click 1"), 0);
  ASSERT_TRUE(WaitResult());
  EXPECT_EQ(picker_->Result().Size, "Fail");
}

// The scale factor is read once, when the toolkit starts: the test runs again in a process of its
// own with a factor of 2, where a logical pixel is two desktop pixels.
TEST(ScaledRegionPickerTest, ARegionPickedAtScaleFactorTwoIsGivenInDesktopPixels) {
  if (!test::HaveDisplay()) GTEST_SKIP() << "needs DISPLAY";
  if (!std::getenv("QV_SCALED_CHILD")) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(Shell("QT_SCALE_FACTOR=2 QV_SCALED_CHILD=1 '" + self +
                    "' --gtest_filter=ScaledRegionPickerTest.*"),
              0);
    return;
  }
  test::App();
  TFrmSelectRegion picker;
  ASSERT_EQ(picker.devicePixelRatioF(), 2.0);
  picker.StartSelection();
  ASSERT_TRUE(WaitFor([&] { return picker.isVisible(); }, 3000));
  Pump(300);
  // The picture and the window cover the desktop pixel for pixel.
  const test::TXWinInfo info = test::XWinInfo(picker.winId());
  EXPECT_EQ(QSize(int(info.Width), int(info.Height)), picker.img1->Picture().size());
  EXPECT_EQ(picker.img1->Picture().width(), 2 * QGuiApplication::primaryScreen()->geometry().width());
  ASSERT_EQ(Shell("xdotool mousemove 301 201 mousedown 1 mousemove 500 300 mousemove 701 451 mouseup 1"), 0);
  ASSERT_TRUE(WaitFor([&] { return !picker.Result().Size.empty(); }, 5000));
  EXPECT_EQ(picker.Result().Offset, "301,201");
  EXPECT_EQ(picker.Result().Size, "400,250");
}

// Two monitors side by side, in a desktop of their own, at scale factors 1 and 2: the picker covers
// both, its hint sits on the primary one, and a region dragged across the seam comes back in
// desktop pixels.
TEST(TwoMonitorRegionPickerTest, ThePickerCoversBothMonitorsAndARegionMaySpanThem) {
  if (!test::HaveDisplay()) GTEST_SKIP() << "needs DISPLAY";
  if (std::string(std::getenv("QV_RIG_MONITORS") ? std::getenv("QV_RIG_MONITORS") : "") != "2") {
    if (geteuid() != 0) GTEST_SKIP() << "the two-monitor desktop needs root";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    for (const char* scale : {"1", "2"})
      EXPECT_EQ(Shell(std::string("'" QV_TEST_SOURCE_DIR "/../scripts/desktop-rig.sh' --monitors 2 --no-sound ") +
                      "--scale " + scale + " -- '" + self + "' --gtest_filter=TwoMonitorRegionPickerTest.*"),
                0)
          << "at scale factor " << scale;
    return;
  }
  // A desktop whose halves tell the monitors apart in the screenshot.
  const std::string wallpaper = (test::ArtifactDir() / "two_monitor_wallpaper.png").string();
  Shell("convert -size 1920x1080 -pointsize 240 -gravity center '(' xc:'#3a6ea5' -annotate 0 LEFT ')' "
        "'(' xc:'#a5713a' -annotate 0 RIGHT ')' +append '" + wallpaper + "' && display -window root '" +
        wallpaper + "'");
  test::App();
  TFrmSelectRegion picker;
  picker.StartSelection();
  ASSERT_TRUE(WaitFor([&] { return picker.isVisible(); }, 3000));
  Pump(300);
  const test::TXWinInfo info = test::XWinInfo(picker.winId());
  EXPECT_EQ(QRect(int(info.X), int(info.Y), int(info.Width), int(info.Height)), QRect(0, 0, 3840, 1080));
  EXPECT_EQ(picker.img1->Picture().size(), QSize(3840, 1080));
  const qreal scale = picker.devicePixelRatioF();
  // The hint in the middle of LEFT, not on the seam.
  EXPECT_NEAR((picker.Lbl1->x() + picker.Lbl1->width() / 2.0) * scale, 960.0, scale);
  ASSERT_EQ(Shell("xdotool mousemove 1700 301 mousedown 1 mousemove 1900 400 mousemove 2101 451"), 0);
  Pump(400);
  Shell("import -window root '" +
        (test::ArtifactDir() / ("region_picker_two_monitors_scale" + std::to_string(int(scale)) + ".png")).string() +
        "'");
  ASSERT_EQ(Shell("xdotool mouseup 1"), 0);
  ASSERT_TRUE(WaitFor([&] { return !picker.Result().Size.empty(); }, 5000));
  EXPECT_EQ(picker.Result().Offset, "1700,301");
  EXPECT_EQ(picker.Result().Size, "401,150");
}

}  // namespace
}  // namespace qv
