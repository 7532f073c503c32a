// The rows of a captured area that a slot changed, or that a grab image must read again.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "media/changed_rows.h"

namespace qv {

// A rectangle on the root window.
struct TRootRect {
  int X = 0, Y = 0, Width = 0, Height = 0;
  bool operator==(const TRootRect&) const = default;
};

bool RectsMeet(const TRootRect& a, const TRootRect& b);
// The part the two share; empty (all zero) when they do not meet.
TRootRect CommonPart(const TRootRect& a, const TRootRect& b);

// Rows of the captured area, each marked or not: the rows a slot changed, or the rows a grab image
// must read again. Marks outside the area are cut off.
class TRowSet {
 public:
  void Resize(int rows) { Marks.assign(size_t(rows), 0); }
  int Rows() const { return int(Marks.size()); }
  void Mark(int top, int bottom);
  void Mark(const TRowBand& band) { Mark(band.Top, band.Bottom); }
  void MarkAll() { Mark(0, Rows()); }
  void Add(const TRowSet& other);
  void Clear() { std::fill(Marks.begin(), Marks.end(), std::uint8_t(0)); }
  int Count() const;
  // The runs of marked rows; runs fewer than `gap` rows apart become one.
  std::vector<TRowBand> Runs(int gap) const;
  // The runs, joined until there are few: each costs a round trip to read and a call to convert.
  std::vector<TRowBand> FewRuns() const;

 private:
  std::vector<std::uint8_t> Marks;
};

}  // namespace qv
