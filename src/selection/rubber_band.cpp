#include "selection/rubber_band.h"

#include <algorithm>
#include <cstdint>

namespace qv {

namespace {

void InvertRow(QImage& picture, int y, int left, int right) {
  if (y < 0 || y >= picture.height()) return;
  left = std::max(left, 0);
  right = std::min(right, picture.width() - 1);
  auto* line = reinterpret_cast<std::uint32_t*>(picture.scanLine(y));
  for (int x = left; x <= right; ++x) line[x] ^= 0x00FFFFFFu;
}

void InvertColumn(QImage& picture, int x, int top, int bottom) {
  if (x < 0 || x >= picture.width()) return;
  top = std::max(top, 0);
  bottom = std::min(bottom, picture.height() - 1);
  for (int y = top; y <= bottom; ++y)
    reinterpret_cast<std::uint32_t*>(picture.scanLine(y))[x] ^= 0x00FFFFFFu;
}

}  // namespace

QRect InvertFrame(QImage& picture, int x1, int y1, int x2, int y2) {
  const int left = std::min(x1, x2), right = std::max(x1, x2) - 1;
  const int top = std::min(y1, y2), bottom = std::max(y1, y2) - 1;
  if (right < left || bottom < top || picture.isNull()) return {};
  // Rows first, then the columns between them, so that no corner is inverted twice (which would
  // leave it unchanged) even when the rectangle is one pixel wide or high.
  InvertRow(picture, top, left, right);
  if (bottom != top) InvertRow(picture, bottom, left, right);
  InvertColumn(picture, left, top + 1, bottom - 1);
  if (right != left) InvertColumn(picture, right, top + 1, bottom - 1);
  return QRect(QPoint(left, top), QPoint(right, bottom)).intersected(picture.rect());
}

}  // namespace qv
