#include "capture/wave_capture_clock.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace qv {

std::int64_t TWaveClock::Take(std::int64_t frames, std::int64_t endUs, std::int64_t lostFrames,
                              std::int64_t takenUs) {
  TakenFrames = std::max<std::int64_t>(frames, 0);
  TakenLost = 0;
  if (frames <= 0) return endUs;
  if (!Anchored) {
    Anchored = true;
    AnchorUs = endUs - frames * 1000000 / Rate;
    lostFrames = 0;  // nothing before the anchor counts
  } else if (takenUs - LastTakenUs > kHeldOffUs) {
    LossArmedUntilUs = takenUs + kLossArmedUs;
  }
  LastTakenUs = takenUs;
  lostFrames = std::clamp<std::int64_t>(lostFrames, 0, kMaxSilenceUs * Rate / 1000000);
  Card += lostFrames + frames;

  std::int64_t cardUs = Card * 1000000 / Rate;
  std::int64_t offset = (endUs - AnchorUs) - cardUs;
  if (const std::int64_t unreported = UnreportedLoss(offset, cardUs, takenUs); unreported > 0) {
    lostFrames += unreported;
    Card += unreported;
    cardUs = Card * 1000000 / Rate;
    offset = (endUs - AnchorUs) - cardUs;
  }
  TakenLost = lostFrames;
  const std::int64_t window = cardUs / kWindowUs;
  if (window != CurWindow) {
    PrevMin = CurMin;
    PrevAt = CurAt;
    CurMin = INT64_MAX;
    CurWindow = window;
  }
  if (offset < CurMin) {
    CurMin = offset;
    CurAt = cardUs;
  }
  if (window == 0 && offset < BaseMin) {
    BaseMin = offset;
    BaseAt = cardUs;
  }
  return AnchorUs + cardUs + FloorOffset(offset, cardUs);
}

TWaveAdjust TWaveClock::Deliver(std::int64_t kept) {
  TWaveAdjust adjust;
  kept = std::clamp<std::int64_t>(kept, 0, TakenFrames);
  if (kept == 0) return adjust;
  const std::int64_t lostFrames = std::exchange(TakenLost, 0);
  adjust.Silence = lostFrames;
  Silence += lostFrames;
  DeliveredCard += lostFrames + kept;
  Delivered += lostFrames;
  const std::int64_t cardUs = Card * 1000000 / Rate;
  if (cardUs >= kSettleUs && BaseMin != INT64_MAX) {
    const double wallPerCard = 1.0 + Slope();
    const auto target = static_cast<std::int64_t>(static_cast<double>(DeliveredCard) * wallPerCard);
    const std::int64_t error = target - (Delivered + kept);
    if (std::abs(error) * 1000000 > kToleranceUs * Rate) {
      const std::int64_t step = kept / kMaxStepDivisor;
      adjust.Frames = std::clamp(error, -step, step);
    }
  }
  Delivered += kept + adjust.Frames;
  if (adjust.Frames > 0) Inserted += adjust.Frames;
  if (adjust.Frames < 0) Dropped -= adjust.Frames;
  return adjust;
}

std::int64_t TWaveClock::FloorOffset(std::int64_t offset, std::int64_t cardUs) {
  const std::int64_t window = cardUs / kRecentUs;
  if (window != RecentWindow) {
    PrevRecentMin = RecentWindow + 1 == window ? RecentMin : INT64_MAX;
    RecentMin = INT64_MAX;
    RecentWindow = window;
  }
  RecentMin = std::min(RecentMin, offset);
  return std::min(RecentMin, PrevRecentMin);
}

// Capture times arrive late by a varying amount but never early, so lost audio shows as the offset
// rising and staying up: when even the lowest offset of a whole window lies kLossUs above where the
// clock expects it, that much audio was lost (and comes back as silence). A late reading or two
// cannot do it; a stopped process whose sound server dropped what it could not hold does.
std::int64_t TWaveClock::UnreportedLoss(std::int64_t offset, std::int64_t cardUs, std::int64_t takenUs) {
  LossMin = std::min(LossMin, offset);
  if (cardUs - LossFrom < kLossWindowUs || BaseMin == INT64_MAX) return 0;
  if (takenUs > LossArmedUntilUs) {
    LossMin = INT64_MAX;
    LossFrom = cardUs;
    return 0;
  }
  const double expected = static_cast<double>(BaseMin) + Slope() * static_cast<double>(cardUs - BaseAt);
  const auto excess = static_cast<std::int64_t>(static_cast<double>(LossMin) - expected);
  LossMin = INT64_MAX;
  LossFrom = cardUs;
  if (excess <= kLossUs) return 0;
  const std::int64_t frames = excess * Rate / 1000000;
  return std::min(frames, kMaxSilenceUs * Rate / 1000000);
}

double TWaveClock::Slope() const {
  const std::int64_t cardUs = Card * 1000000 / Rate;
  if (cardUs < kSettleUs || BaseMin == INT64_MAX) return 0.0;
  const bool usePrev = PrevMin <= CurMin;
  const std::int64_t recent = usePrev ? PrevMin : CurMin;
  const std::int64_t at = usePrev ? PrevAt : CurAt;
  if (recent == INT64_MAX || at <= BaseAt) return 0.0;
  return static_cast<double>(recent - BaseMin) / static_cast<double>(at - BaseAt);
}

double TWaveClock::DriftPpm() const { return Slope() * 1e6; }

void CopyAdjustedFrames(std::uint8_t* dst, const std::uint8_t* src, std::int64_t frames, int blockAlign,
                        std::int64_t adjust) {
  if (adjust == 0) {
    std::memcpy(dst, src, static_cast<std::size_t>(frames * blockAlign));
    return;
  }
  const std::int64_t count = adjust > 0 ? adjust : -adjust;
  // The k-th change sits in the middle of the k-th of `count` equal stretches of the input.
  std::int64_t next = 0;
  auto placeOf = [&](std::int64_t k) { return (2 * k + 1) * frames / (2 * count); };
  std::int64_t changePos = placeOf(0);
  for (std::int64_t i = 0; i < frames; ++i) {
    const std::uint8_t* frame = src + i * blockAlign;
    if (next < count && i == changePos) {
      ++next;
      changePos = placeOf(next);
      if (adjust < 0) continue;  // dropped
      std::memcpy(dst, frame, static_cast<std::size_t>(blockAlign));  // repeated
      dst += blockAlign;
    }
    std::memcpy(dst, frame, static_cast<std::size_t>(blockAlign));
    dst += blockAlign;
  }
}

}  // namespace qv
