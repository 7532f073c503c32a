// Arithmetic on values that come from the user (option values, timestamps shifted and scaled by
// them) that cannot overflow: the result is held at the end of its range instead.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace qv {

// Timestamps: the sum, difference or product held within the int64 range, never reaching the
// library's no-value stamp (INT64_MIN).
constexpr std::int64_t kLowestTimestamp = std::numeric_limits<std::int64_t>::min() + 1;

inline std::int64_t HoldTimestamp(std::int64_t t) { return t < kLowestTimestamp ? kLowestTimestamp : t; }

inline std::int64_t AddTimestamps(std::int64_t a, std::int64_t b) {
  std::int64_t sum;
  if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? std::numeric_limits<std::int64_t>::max() : kLowestTimestamp;
  return HoldTimestamp(sum);
}

inline std::int64_t SubtractTimestamps(std::int64_t a, std::int64_t b) {
  std::int64_t difference;
  if (__builtin_sub_overflow(a, b, &difference))
    return b < 0 ? std::numeric_limits<std::int64_t>::max() : kLowestTimestamp;
  return HoldTimestamp(difference);
}

// A double turned into Int, held within Int's range (NaN gives 0): a plain conversion of a value
// out of range is undefined.
template <class Int>
Int HoldInRange(double value) {
  constexpr Int lowest = std::numeric_limits<Int>::min();
  constexpr Int highest = std::numeric_limits<Int>::max();
  if (std::isnan(value)) return 0;
  if (value <= double(lowest)) return lowest;
  // double(highest) of int64 rounds up to 2^63, which is itself out of range.
  if (value >= double(highest)) return highest;
  return Int(value);
}

inline std::int64_t ScaleTimestamp(std::int64_t t, double scale) {
  return HoldTimestamp(HoldInRange<std::int64_t>(double(t) * scale));
}

}  // namespace qv
