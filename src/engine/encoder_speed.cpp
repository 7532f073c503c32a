#include "engine/encoder_speed.h"

#include <algorithm>
#include <cstdio>

namespace qv {

namespace {

// x264's presets, fastest first, with the processor time each took for the same 1080p pictures
// of a screen in full motion (moving bars and blocks, crf 23, two frame threads), ultrafast as 1.
// superfast codes such pictures at half veryfast's cost into a file 1.03x as large; ultrafast
// saves four tenths more but writes 3.7x, so it is the last resort. (On noise superfast saves
// nothing over veryfast: there the prediction falls short and the next half second steps again.)
struct TX264Preset {
  const char* Name;
  double Cost;
};
constexpr TX264Preset kX264Presets[] = {{"ultrafast", 1.0}, {"superfast", 1.7}, {"veryfast", 3.2},
                                        {"faster", 4.5},    {"fast", 6.0},      {"medium", 7.5},
                                        {"slow", 11.0},     {"slower", 25.0},   {"veryslow", 50.0}};

// Behind: more than one slot in fifty missed, or the pictures inside the encoder half a second late.
// A recording's first key frame can cost a slot or two at 1080p: that alone is no reason (the
// window of a step's key frame is not judged at all).
constexpr int kMissedShare = 50;
constexpr int kFirstKeyFrameMisses = 2;
constexpr double kMaxLagSeconds = 0.5;
// A faster preset is chosen so that the worker would be busy at most this share of the time.
constexpr double kFasterTarget = 0.9;
// A slower one only when the busiest window since the room began, at its cost, stays under this.
constexpr double kSlowerTarget = 0.7;
constexpr double kMaxRoomNeeded = 160;

}  // namespace

std::unique_ptr<TEncoderSpeed> TEncoderSpeed::ForX264(const std::string& start) {
  std::vector<std::string> presets;
  std::vector<double> costs;
  for (const TX264Preset& p : kX264Presets) {
    presets.insert(presets.begin(), p.Name);
    costs.insert(costs.begin(), p.Cost);
    if (start == p.Name) {
      if (presets.size() == 1) return nullptr;
      return std::make_unique<TEncoderSpeed>(std::move(presets), std::move(costs));
    }
  }
  return nullptr;
}

TEncoderSpeed::TEncoderSpeed(std::vector<std::string> presets, std::vector<double> costs)
    : Presets(std::move(presets)), Costs(std::move(costs)), SecondsRun(Presets.size(), 0.0) {}

bool TEncoderSpeed::Missing(const TLoadObservation& o) const {
  return o.MissedSlots > (Clock == o.Seconds ? kFirstKeyFrameMisses : 0) && o.MissedSlots * kMissedShare > o.Slots;
}

bool TEncoderSpeed::Behind(const TLoadObservation& o) const { return Missing(o) || o.LagSeconds > kMaxLagSeconds; }

bool TEncoderSpeed::Observe(const TLoadObservation& o, TSpeedStep& step) {
  // The window in which the preset changed carries the old encoder's drain and the new one's key
  // frame: it says nothing about the new preset.
  const bool settled = LastChange < Clock;
  Clock += o.Seconds;
  SecondsRun[Current] += o.Seconds;
  if (!settled) {
    RoomSince = Clock;
    PeakBusy = 0;
    return false;
  }
  if (Behind(o)) {
    if (Clock - WentSlowerAt <= RoomNeeded) RoomNeeded = std::min(2 * RoomNeeded, kMaxRoomNeeded);
    RoomSince = Clock;
    PeakBusy = 0;
    return StepFaster(o, step);
  }
  if (o.Seconds > 0) PeakBusy = std::max(PeakBusy, o.BusySeconds / o.Seconds);
  return Clock - RoomSince >= RoomNeeded && StepSlower(step);
}

bool TEncoderSpeed::StepFaster(const TLoadObservation& o, TSpeedStep& step) {
  if (Current + 1 >= Presets.size()) return false;
  // Falling behind, the worker is busy all the time; what it would need is that much more again
  // for the slots it missed.
  const double share = o.Seconds > 0 ? std::min(1.0, o.BusySeconds / o.Seconds) : 1.0;
  const double demand = share * o.Slots / std::max(1, o.Slots - o.MissedSlots);
  size_t target = Current + 1;
  while (target + 1 < Presets.size() && demand * Costs[target] / Costs[Current] > kFasterTarget) ++target;
  char reason[160];
  if (Missing(o))
    std::snprintf(reason, sizeof(reason), "%d of %d slots came too late to be coded in the last %.1f s",
                  o.MissedSlots, o.Slots, o.Seconds);
  else
    std::snprintf(reason, sizeof(reason), "the pictures inside the encoder are %.2f s behind", o.LagSeconds);
  step = {Presets[Current], Presets[target], reason};
  MoveTo(target);
  return true;
}

bool TEncoderSpeed::StepSlower(TSpeedStep& step) {
  if (Current == 0) return false;
  const double predicted = PeakBusy * Costs[Current - 1] / Costs[Current];
  if (predicted >= kSlowerTarget) return false;
  char reason[160];
  std::snprintf(reason, sizeof(reason), "no slot missed for %.0f s, the coding busy at most %.0f%% of the time",
                Clock - RoomSince, 100 * PeakBusy);
  step = {Presets[Current], Presets[Current - 1], reason};
  MoveTo(Current - 1);
  WentSlowerAt = Clock;
  return true;
}

void TEncoderSpeed::MoveTo(size_t preset) {
  Current = preset;
  LastChange = Clock;
  RoomSince = Clock;
  PeakBusy = 0;
}

std::string TEncoderSpeed::Summary() const {
  std::string text;
  for (size_t i = 0; i < Presets.size(); ++i) {
    if (SecondsRun[i] <= 0 && i != Current) continue;
    char one[64];
    std::snprintf(one, sizeof(one), "%s%s %.1f s", text.empty() ? "" : ", ", Presets[i].c_str(), SecondsRun[i]);
    text += one;
  }
  return text;
}

}  // namespace qv
