// The rubber band's pixel inversion, on pictures in memory.
#include <gtest/gtest.h>

#include <QImage>

#include "selection/rubber_band.h"

namespace qv {
namespace {

QImage Noise(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  quint32 seed = 7;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      img.setPixel(x, y, 0xFF000000u | (seed >> 8));
    }
  return img;
}

TEST(RubberBand, InvertsEachOutlinePixelOnceAndTheSecondDrawRestores) {
  struct Case {
    int x1, y1, x2, y2;
    QRect outline;  // pixels of the band, right and bottom edges outside the rectangle
    long pixels;
  };
  const Case cases[] = {
      {10, 10, 30, 20, QRect(10, 10, 20, 10), 2 * 20 + 2 * 8},
      {30, 20, 10, 10, QRect(10, 10, 20, 10), 2 * 20 + 2 * 8},  // corners given the other way
      {30, 10, 10, 20, QRect(10, 10, 20, 10), 2 * 20 + 2 * 8},
      {5, 5, 6, 40, QRect(5, 5, 1, 35), 35},                     // one pixel wide: no corner twice
      {5, 5, 40, 6, QRect(5, 5, 35, 1), 35},                     // one pixel high
      {5, 5, 7, 7, QRect(5, 5, 2, 2), 4},
      {50, 40, 70, 55, QRect(50, 40, 14, 10), 14 + 10 - 1},      // runs off the picture's corner
      {-5, -5, 10, 10, QRect(0, 0, 10, 10), 10 + 10 - 1},        // starts off the picture
  };
  const QImage original = Noise(64, 50);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2);
    QImage picture = original;
    const QRect changed = InvertFrame(picture, c.x1, c.y1, c.x2, c.y2);
    EXPECT_EQ(changed, c.outline);
    long inverted = 0, other = 0;
    for (int y = 0; y < picture.height(); ++y)
      for (int x = 0; x < picture.width(); ++x) {
        const QRgb was = original.pixel(x, y), now = picture.pixel(x, y);
        if (now == was) continue;
        if ((now & 0xFFFFFFu) == (~was & 0xFFFFFFu) && c.outline.contains(x, y)) ++inverted;
        else ++other;
      }
    EXPECT_EQ(inverted, c.pixels);
    EXPECT_EQ(other, 0);
    InvertFrame(picture, c.x2, c.y2, c.x1, c.y1);
    EXPECT_EQ(picture, original);
  }
}

TEST(RubberBand, EmptyRectangleDrawsNothing) {
  const QImage original = Noise(20, 20);
  for (const QRect& r : {QRect(QPoint(3, 3), QPoint(3, 9)), QRect(QPoint(3, 3), QPoint(9, 3)),
                         QRect(QPoint(4, 4), QPoint(4, 4))}) {
    QImage picture = original;
    // Corners as the picker passes them: first press and pointer, equal in x or y.
    EXPECT_TRUE(InvertFrame(picture, r.left(), r.top(), r.left() + (r.width() - 1),
                            r.top() + (r.height() - 1))
                    .isEmpty());
    EXPECT_EQ(picture, original);
  }
}

}  // namespace
}  // namespace qv
