// The wall-clock account of the wave device. A sound card whose crystal runs off by a known amount
// cannot be had on demand, so these tests feed the clock the capture times such a card would give,
// late by a random amount as real buffer deliveries are.
#include "capture/wave_capture_clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace qv {
namespace {

struct TRun {
  std::int64_t WallUs = 0;
  std::int64_t Delivered = 0;
  double ActiveUs = 0;  // wall time during which audio was delivered
  TWaveClock Clock{44100};
};

// Feeds `seconds` of 1024-frame buffers from a card running `ppm` fast (positive) against the wall
// clock, with deliveries late by up to `jitterUs`. `paused(t)` drops buffers.
template <typename Paused>
void Feed(TRun& run, double seconds, double ppm, int jitterUs, Paused paused, std::mt19937& rng) {
  std::uniform_int_distribution<int> late(0, jitterUs);
  const double bufferUs = 1024 * 1e6 / 44100 / (1 + ppm * 1e-6);
  const auto end = run.WallUs + std::int64_t(seconds * 1e6);
  double wall = double(run.WallUs);
  while (wall < double(end)) {
    wall += bufferUs;
    const bool drop = paused(wall);
    const TWaveAdjust adjust = run.Clock.Account(1024, std::int64_t(wall) + late(rng), 0, !drop);
    if (!drop) {
      run.Delivered += 1024 + adjust.Silence + adjust.Frames;
      run.ActiveUs += bufferUs;
      EXPECT_LE(std::abs(adjust.Frames), 1024 / TWaveClock::kMaxStepDivisor);
    }
  }
  run.WallUs = end;
}

TEST(WaveClock, DeliveredAudioFollowsTheWallClock) {
  struct Case {
    double ppm;
    int jitterUs;
    bool pauses;
    double seconds = 600;
    double withinUs = 15000;
  };
  // A source 0.1% slow for an hour, as a second source of a mix may be: still within 20 ms.
  const Case cases[] = {
      {0, 30000, false},     {300, 30000, false}, {-300, 30000, false},
      {1000, 5000, false},   {-2000, 20000, true}, {500, 40000, true}, {-1000, 20000, true, 3600, 20000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.ppm << " ppm, jitter " << c.jitterUs << " us, pauses " << c.pauses);
    std::mt19937 rng(7);
    TRun run;
    // Three pauses of two seconds within ten minutes.
    auto paused = [&](double t) {
      if (!c.pauses) return false;
      for (double p : {60e6, 200e6, 400e6})
        if (t >= p && t < p + 2e6) return true;
      return false;
    };
    Feed(run, c.seconds, c.ppm, c.jitterUs, paused, rng);
    const double deliveredUs = run.Delivered * 1e6 / 44100;
    // Uncorrected, 1000 ppm would be 600 ms off after ten minutes.
    EXPECT_NEAR(deliveredUs, run.ActiveUs, c.withinUs);
    if (c.ppm == 0) {
      EXPECT_EQ(run.Clock.InsertedFrames() + run.Clock.DroppedFrames(), 0);
    }
    EXPECT_NEAR(run.Clock.DriftPpm(), -c.ppm, 100.0);  // a fast card means wall time runs slow
  }
}

TEST(WaveClock, NothingChangesBeforeTheEstimateSettles) {
  std::mt19937 rng(1);
  TRun run;
  Feed(run, 9, 5000, 1000, [](double) { return false; }, rng);
  EXPECT_EQ(run.Clock.InsertedFrames() + run.Clock.DroppedFrames(), 0);
  EXPECT_EQ(run.Clock.DriftPpm(), 0.0);
}

TEST(WaveClock, LostAudioBecomesSilenceOnlyWhenDelivered) {
  TWaveClock clock(44100);
  clock.Account(1024, 23220, 0, true);
  TWaveAdjust a = clock.Account(1024, 523220, 22050 - 1024, true);  // half a second lost
  EXPECT_EQ(a.Silence, 22050 - 1024);
  // A loss while paused is counted for the clock but not filled.
  a = clock.Account(1024, 623220, 2000, false);
  EXPECT_EQ(a.Silence, 0);
  EXPECT_EQ(clock.SilenceFrames(), 22050 - 1024);
  // An absurd gap is capped.
  a = clock.Account(1024, 3600000000, 3600 * 44100, true);
  EXPECT_EQ(a.Silence, TWaveClock::kMaxSilenceUs * 44100 / 1000000);
  // A busy machine: every reading of two seconds 60 ms late, the reader never away. Lateness, no loss.
  TWaveClock busy(44100);
  for (std::int64_t i = 1; i <= 40; ++i) {
    const std::int64_t endUs = i * 100000 + (i > 10 && i <= 30 ? 60000 : 0);
    busy.Take(4410, endUs, 0, endUs);
    EXPECT_EQ(busy.Deliver(4410).Silence, 0) << i;
  }
}

TEST(WaveClock, CopyAdjustedFramesSpreadsTheChanges) {
  struct Case {
    int frames;
    int adjust;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {6, 0, {0, 1, 2, 3, 4, 5}},
      {6, -1, {0, 1, 2, 4, 5}},
      {6, -2, {0, 2, 3, 5}},
      {6, 1, {0, 1, 2, 3, 3, 4, 5}},
      {6, 2, {0, 1, 1, 2, 3, 4, 4, 5}},
      {4, -3, {1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.frames << " " << c.adjust);
    std::vector<std::int16_t> src;  // stereo frames (n, -n)
    for (int i = 0; i < c.frames; ++i) {
      src.push_back(std::int16_t(i));
      src.push_back(std::int16_t(-i));
    }
    std::vector<std::int16_t> dst((c.frames + c.adjust) * 2 + 2, 99);
    CopyAdjustedFrames(reinterpret_cast<std::uint8_t*>(dst.data()), reinterpret_cast<const std::uint8_t*>(src.data()),
                       c.frames, 4, c.adjust);
    std::vector<int> got;
    for (int i = 0; i < c.frames + c.adjust; ++i) {
      EXPECT_EQ(dst[i * 2 + 1], -dst[i * 2]);  // frames stay whole
      got.push_back(dst[i * 2]);
    }
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(dst[(c.frames + c.adjust) * 2], 99);  // nothing written past the end
  }
}

}  // namespace
}  // namespace qv
