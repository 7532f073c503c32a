// The H.264 preset following the load, over made-up seconds of observations: when it steps, to what,
// why (the words the log carries), and how long each preset ran.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/encoder_speed.h"

namespace qv {
namespace {

// One second of 25 slots: missed slots, busy share, pictures held inside the encoder (seconds).
TLoadObservation Second(int missed, double busy, double lag = 0.04) {
  TLoadObservation o;
  o.Seconds = 1;
  o.Slots = 25;
  o.MissedSlots = missed;
  o.BusySeconds = busy;
  o.LagSeconds = lag;
  return o;
}

std::vector<TLoadObservation> Repeat(int n, const TLoadObservation& o) { return std::vector<TLoadObservation>(n, o); }

std::vector<TLoadObservation> Join(std::vector<std::vector<TLoadObservation>> parts) {
  std::vector<TLoadObservation> all;
  for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(EncoderSpeed, StepsWithTheLoadAndBackWithHysteresis) {
  struct TCase {
    const char* What;
    const char* Start;
    std::vector<TLoadObservation> Seconds;
    std::vector<std::string> Steps;  // "second: from>to (reason's start)"
    const char* Summary;
  } cases[] = {
      {"everyday content keeps the preset", "veryfast", Repeat(30, Second(0, 0.2)), {}, "veryfast 30.0 s"},
      {"the first key frame's slot or two late is no reason", "veryfast",
       Join({Repeat(1, Second(2, 0.9)), Repeat(9, Second(0, 0.9))}), {}, "veryfast 10.0 s"},
      {"after the start one slot late in 25 is", "veryfast",
       Join({Repeat(1, Second(0, 0.5)), Repeat(1, Second(1, 0.95)), Repeat(2, Second(0, 0.5))}),
       {"2: veryfast>superfast (1 of 25 slots came too late to be coded in the last 1.0 s)"},
       "veryfast 2.0 s, superfast 2.0 s"},
      // A few slots short: superfast, at half veryfast's cost, keeps up.
      {"a little behind: the next preset", "veryfast", Join({Repeat(1, Second(4, 1.0)), Repeat(4, Second(0, 0.6))}),
       {"1: veryfast>superfast (4 of 25 slots came too late to be coded in the last 1.0 s)"},
       "veryfast 1.0 s, superfast 4.0 s"},
      // Half the slots missed: superfast would fall behind too, so it goes to ultrafast at once.
      {"full motion steps at once to what keeps up", "veryfast", Repeat(20, Second(12, 1.0)),
       {"1: veryfast>ultrafast (12 of 25 slots came too late to be coded in the last 1.0 s)"},
       "veryfast 1.0 s, ultrafast 19.0 s"},
      // A little short: one step does.
      {"a step of one where it suffices", "medium", Join({Repeat(1, Second(3, 0.85)), Repeat(9, Second(0, 0.6))}),
       {"1: medium>fast (3 of 25 slots came too late to be coded in the last 1.0 s)"}, "medium 1.0 s, fast 9.0 s"},
      {"pictures held inside the encoder count as behind", "veryfast",
       Join({Repeat(1, Second(0, 0.5, 0.8)), Repeat(2, Second(0, 0.5))}),
       {"1: veryfast>superfast (the pictures inside the encoder are 0.80 s behind)"},
       "veryfast 1.0 s, superfast 2.0 s"},
      // The window of the change itself is left out; the next one behind steps again.
      {"still behind after a step: the next one", "veryfast", Join({Repeat(1, Second(0, 0.5, 0.7)), Repeat(4, Second(5, 1.0))}),
       {"1: veryfast>superfast (the pictures inside the encoder are 0.70 s behind)",
        "3: superfast>ultrafast (5 of 25 slots came too late to be coded in the last 1.0 s)"},
       "veryfast 1.0 s, superfast 2.0 s, ultrafast 2.0 s"},
      {"room for 10 s at a low load: back one step", "veryfast",
       Join({Repeat(1, Second(12, 1.0)), Repeat(12, Second(0, 0.2))}),
       {"1: veryfast>ultrafast (12 of 25 slots came too late to be coded in the last 1.0 s)",
        "12: ultrafast>superfast (no slot missed for 10 s, the coding busy at most 20% of the time)"},
       "veryfast 1.0 s, superfast 1.0 s, ultrafast 11.0 s"},
      {"room, but the slower preset would not keep up: stays", "veryfast",
       Join({Repeat(1, Second(12, 1.0)), Repeat(30, Second(0, 0.45))}),
       {"1: veryfast>ultrafast (12 of 25 slots came too late to be coded in the last 1.0 s)"},
       "veryfast 1.0 s, ultrafast 30.0 s"},
      // Back too soon: the next try waits twice as long.
      {"a step back that fails doubles the wait", "veryfast",
       Join({Repeat(1, Second(12, 1.0)), Repeat(11, Second(0, 0.2)), Repeat(2, Second(10, 1.0)),
             Repeat(21, Second(0, 0.2))}),
       {"1: veryfast>ultrafast (12 of 25 slots came too late to be coded in the last 1.0 s)",
        "12: ultrafast>superfast (no slot missed for 10 s, the coding busy at most 20% of the time)",
        "14: superfast>ultrafast (10 of 25 slots came too late to be coded in the last 1.0 s)",
        "35: ultrafast>superfast (no slot missed for 20 s, the coding busy at most 20% of the time)"},
       "veryfast 1.0 s, superfast 2.0 s, ultrafast 32.0 s"},
      {"ultrafast has nothing faster", "ultrafast", {}, {}, nullptr},
      {"no preset, no stepping", "", {}, {}, nullptr},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    auto speed = TEncoderSpeed::ForX264(c.Start);
    ASSERT_EQ(speed != nullptr, c.Summary != nullptr);
    if (!speed) continue;
    std::vector<std::string> steps;
    for (size_t i = 0; i < c.Seconds.size(); ++i) {
      TSpeedStep step;
      if (speed->Observe(c.Seconds[i], step)) {
        steps.push_back(std::to_string(i + 1) + ": " + step.From + ">" + step.To + " (" + step.Reason + ")");
        EXPECT_EQ(speed->Preset(), step.To);
      }
    }
    EXPECT_EQ(steps, c.Steps);
    EXPECT_EQ(speed->Summary(), c.Summary);
  }
}

}  // namespace
}  // namespace qv
