#include "capture/sound_mix.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <utility>

namespace qv {

namespace {

constexpr double kFullScale = 32768.0;
// The limiter keeps the sum just under full scale, and lets go over a tenth of a second: quick
// enough that a loud moment does not duck what follows, slow enough not to ripple with the wave.
constexpr double kCeiling = 0.97 * 32767.0;
constexpr double kReleaseSeconds = 0.1;

double ToDb(double value) { return value > 0 ? std::max(kSilentDb, 20.0 * std::log10(value / kFullScale)) : kSilentDb; }

std::string LevelText(const TSoundLevel& level) {
  if (level.Muted) return level.Label + " muted";
  if (level.PeakDb <= kSilentDb) return level.Label + " silent";
  const long db = std::lround(level.PeakDb);
  // A true minus sign, as meters print it.
  return level.Label + " " + (db < 0 ? "\u2212" : "") + std::to_string(std::labs(db)) + " dB";
}

std::string Lowered(std::string text) {
  if (!text.empty()) text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

}  // namespace

std::string SoundLevelsText(const std::vector<TSoundLevel>& levels) {
  std::string text;
  for (const TSoundLevel& level : levels) text += (text.empty() ? "" : ", ") + LevelText(level);
  return text;
}

void MeasureLevel(const std::int16_t* samples, std::size_t count, double gain, double& peakDb, double& rmsDb) {
  int peak = 0;
  double squares = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const int s = samples[i];
    peak = std::max(peak, std::abs(s));
    squares += double(s) * s;
  }
  peakDb = ToDb(peak * gain);
  rmsDb = count ? ToDb(std::sqrt(squares / double(count)) * gain) : kSilentDb;
}

TSoundMixer::TSoundMixer(std::vector<TMixInput> inputs, int sampleRate, int channels)
    : Inputs(std::move(inputs)), Rate(std::max(1, sampleRate)), Channels(std::max(1, channels)),
      SilentFrames(Inputs.size(), 0), SilenceTold(Inputs.size(), false),
      Release(std::exp(-1.0 / (kReleaseSeconds * Rate))) {
  for (const TMixInput& input : Inputs) Meter.push_back({input.Label, kSilentDb, kSilentDb, input.Muted});
}

void TSoundMixer::Mix(const std::vector<const std::int16_t*>& in, std::int64_t frames, std::int16_t* out) {
  const auto samples = static_cast<std::size_t>(frames * Channels);
  Sum.assign(samples, 0.0f);
  for (std::size_t i = 0; i < Inputs.size() && i < in.size(); ++i) {
    const TMixInput& input = Inputs[i];
    const float gain = input.Muted ? 0.0f : float(std::clamp(input.VolumePercent, 0, 200)) / 100.0f;
    MeasureLevel(in[i], samples, gain, Meter[i].PeakDb, Meter[i].RmsDb);
    WatchSilence(i, in[i], frames);
    if (gain == 0.0f) continue;
    for (std::size_t k = 0; k < samples; ++k) Sum[k] += gain * float(in[i][k]);
  }
  Limit(Sum.data(), frames, out);
  Mixed += frames;
}

// Judged on what the source itself delivers, before its volume: a microphone turned down here is
// still heard, and one muted here was muted on purpose.
void TSoundMixer::WatchSilence(std::size_t input, const std::int16_t* samples, std::int64_t frames) {
  if (!Inputs[input].WatchSilence || Inputs[input].Muted || SilenceTold[input]) return;
  double peakDb = 0, rmsDb = 0;
  MeasureLevel(samples, static_cast<std::size_t>(frames * Channels), 1.0, peakDb, rmsDb);
  SilentFrames[input] = peakDb < kQuietDb ? SilentFrames[input] + frames : 0;
  if (SilentFrames[input] * 1000000 < kSilenceNoticeUs * Rate) return;
  SilenceTold[input] = true;
  Notices.push_back("The " + Lowered(Inputs[input].Label) + " has been silent for " +
                    std::to_string(kSilenceNoticeUs / 1000000) + " s.");
}

std::vector<std::string> TSoundMixer::TakeSilenceNotices() { return std::exchange(Notices, {}); }

// A frame whose sum would pass the ceiling lowers the gain at once, just enough, for every channel
// alike (the stereo image stays); the gain then rises back smoothly. Nothing wraps around and no
// wave is cut flat, as plain clamping would.
void TSoundMixer::Limit(float* sum, std::int64_t frames, std::int16_t* out) {
  for (std::int64_t f = 0; f < frames; ++f) {
    float* frame = sum + f * Channels;
    double peak = 0;
    for (int c = 0; c < Channels; ++c) peak = std::max(peak, double(std::fabs(frame[c])));
    if (peak * Gain > kCeiling) {
      Gain = kCeiling / peak;
      if (!Acting) ++Onsets;
      Acting = true;
    } else if (Gain < 1.0) {
      Gain = 1.0 - (1.0 - Gain) * Release;
      if (Gain > 0.9999) {
        Gain = 1.0;
        Acting = false;
      }
    }
    if (Gain < 1.0) ++Limited;
    for (int c = 0; c < Channels; ++c)
      out[f * Channels + c] = static_cast<std::int16_t>(std::lround(std::clamp(frame[c] * Gain, -32768.0, 32767.0)));
  }
}

}  // namespace qv
