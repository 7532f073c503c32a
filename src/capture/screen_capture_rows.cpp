#include "capture/screen_capture_rows.h"

namespace qv {

bool RectsMeet(const TRootRect& a, const TRootRect& b) {
  return a.Width > 0 && a.Height > 0 && b.Width > 0 && b.Height > 0 && a.X < b.X + b.Width && b.X < a.X + a.Width &&
         a.Y < b.Y + b.Height && b.Y < a.Y + a.Height;
}

TRootRect CommonPart(const TRootRect& a, const TRootRect& b) {
  if (!RectsMeet(a, b)) return {};
  const int x = std::max(a.X, b.X), y = std::max(a.Y, b.Y);
  return TRootRect{x, y, std::min(a.X + a.Width, b.X + b.Width) - x, std::min(a.Y + a.Height, b.Y + b.Height) - y};
}

void TRowSet::Mark(int top, int bottom) {
  top = std::max(top, 0);
  bottom = std::min(bottom, Rows());
  if (top < bottom) std::fill(Marks.begin() + top, Marks.begin() + bottom, std::uint8_t(1));
}

void TRowSet::Add(const TRowSet& other) {
  for (size_t i = 0; i < Marks.size() && i < other.Marks.size(); ++i) Marks[i] |= other.Marks[i];
}

int TRowSet::Count() const { return int(std::count(Marks.begin(), Marks.end(), std::uint8_t(1))); }

std::vector<TRowBand> TRowSet::Runs(int gap) const {
  std::vector<TRowBand> runs;
  for (int row = 0; row < Rows();) {
    if (!Marks[size_t(row)]) {
      ++row;
      continue;
    }
    int end = row;
    while (end < Rows() && Marks[size_t(end)]) ++end;
    if (!runs.empty() && row - runs.back().Bottom < gap) runs.back().Bottom = end;
    else runs.push_back(TRowBand{row, end});
    row = end;
  }
  return runs;
}

std::vector<TRowBand> TRowSet::FewRuns() const {
  constexpr int kNearRows = 16, kMaxRuns = 8;
  std::vector<TRowBand> runs = Runs(kNearRows);
  if (runs.size() > size_t(kMaxRuns)) runs = Runs(std::max(kNearRows, Rows() / kMaxRuns));
  return runs;
}

}  // namespace qv
