// The sum of several sources: volumes, the limiter, the levels and the silent microphone.
#include "capture/sound_mix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace qv {
namespace {

constexpr int kRate = 44100;

// A stereo sine of `hz` at `amplitude` of full scale, `frames` long.
std::vector<std::int16_t> Sine(double hz, double amplitude, int frames) {
  std::vector<std::int16_t> samples;
  for (int i = 0; i < frames; ++i) {
    const auto s = static_cast<std::int16_t>(std::lround(amplitude * 32767 * std::sin(2 * M_PI * hz * i / kRate)));
    samples.insert(samples.end(), {s, s});
  }
  return samples;
}

TEST(SoundMix, SourcesAddAtTheirVolumesAndTheSumIsLimitedNotWrapped) {
  struct Case {
    double amplitudeA, amplitudeB;
    int volumeA, volumeB;
    bool mutedB;
    double expectedPeak;  // of the sum, in full scale
    bool limited;
  };
  const Case cases[] = {
      {0.5, 0.25, 80, 120, false, 0.7, false},  // 0.4 + 0.3
      {0.5, 0.5, 100, 100, true, 0.5, false},   // the muted one adds nothing
      {0.9, 0.9, 200, 200, false, 0.97, true},  // 3.6 held at the ceiling
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.volumeA << "% + " << c.volumeB << "%");
    TSoundMixer mixer({{"Microphone", c.volumeA, false, false}, {"Desktop", c.volumeB, c.mutedB, false}}, kRate, 2);
    // Both sines peak together at the first quarter of a 1 kHz period every millisecond.
    const auto a = Sine(1000, c.amplitudeA, kRate), b = Sine(1000, c.amplitudeB, kRate);
    std::vector<std::int16_t> out(a.size());
    mixer.Mix({a.data(), b.data()}, kRate, out.data());
    int peak = 0;
    for (std::int16_t s : out) peak = std::max(peak, std::abs(int(s)));
    EXPECT_NEAR(peak / 32767.0, c.expectedPeak, 0.01);
    EXPECT_EQ(mixer.LimiterOnsets() > 0, c.limited);
    EXPECT_NEAR(mixer.Levels()[0].PeakDb, 20 * std::log10(c.amplitudeA * c.volumeA / 100), 0.1);
    EXPECT_EQ(mixer.Levels()[1].Muted, c.mutedB);
  }
  EXPECT_EQ(SoundLevelsText({{"Microphone", -18.2, -21, false}, {"Desktop", -30, -33, false}, {"Desktop 2", -9, -12, true}}),
            "Microphone \u221218 dB, Desktop \u221230 dB, Desktop 2 muted");
}

TEST(SoundMix, AMicrophoneSilentForTenSecondsIsToldOnce) {
  TSoundMixer mixer({{"Microphone", 100, false, true}, {"Desktop", 100, false, false}}, kRate, 2);
  const auto silence = std::vector<std::int16_t>(kRate * 2, 0), tone = Sine(1000, 0.5, kRate);
  std::vector<std::int16_t> out(tone.size());
  std::vector<std::string> told;
  for (int second = 0; second < 25; ++second) {
    // Sound in the fifth second starts the count again; the desktop plays throughout.
    mixer.Mix({second == 4 ? tone.data() : silence.data(), tone.data()}, kRate, out.data());
    for (const std::string& notice : mixer.TakeSilenceNotices()) told.push_back(std::to_string(second) + ": " + notice);
  }
  EXPECT_EQ(told, std::vector<std::string>{"14: The microphone has been silent for 10 s."});
}

}  // namespace
}  // namespace qv
