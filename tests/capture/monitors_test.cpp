// Which part of the desktop a full-screen recording covers, for each way of choosing it.
#include <gtest/gtest.h>

#include "capture/monitors.h"

namespace qv {
namespace {

TEST(Monitors, EachChoiceCoversItsPartOfTheDesktop) {
  // The primary monitor on the right, so that "the first" and "the primary" differ.
  TDesktop desktop{3840, 1200, {{"DP-1", 0, 120, 1920, 1080, false}, {"HDMI-1", 1920, 0, 1920, 1200, true}}};
  struct {
    const char* Choice;
    int PointerX, PointerY;
    const char* Covered;  // DescribeMonitor of the area, or the start of the error
  } cases[] = {
      {"pointer", 100, 500, "DP-1 1920x1080 at 0,120"},
      {"pointer", 3000, 10, "HDMI-1 1920x1200 at 1920,0 (primary)"},
      {"pointer", 100, 20, "HDMI-1 1920x1200 at 1920,0 (primary)"},  // above DP-1: on no monitor
      {"all", 3000, 10, "all 3840x1200 at 0,0"},
      {"DP-1", 3000, 10, "DP-1 1920x1080 at 0,120"},
      {"1", 100, 500, "HDMI-1 1920x1200 at 1920,0 (primary)"},
      {"2", 100, 500, "no monitor \"2\" on this desktop (0: DP-1 1920x1080 at 0,120; 1: HDMI-1"},
      {"dp-1", 100, 500, "no monitor \"dp-1\""},
      {"", 100, 500, "no monitor \"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Choice << " with the pointer at " << c.PointerX << "," << c.PointerY);
    desktop.PointerKnown = true;
    desktop.PointerX = c.PointerX;
    desktop.PointerY = c.PointerY;
    TMonitor area;
    const std::string error = ChooseScreen(desktop, c.Choice, area);
    const std::string covered = error.empty() ? DescribeMonitor(area) : error;
    EXPECT_EQ(covered.rfind(c.Covered, 0), 0u) << covered;
  }
}

}  // namespace
}  // namespace qv
