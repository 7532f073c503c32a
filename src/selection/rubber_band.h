// The region picker's rubber band: a one-pixel rectangle outline drawn by inverting the picture's
// pixels, so drawing the same rectangle again gives back the picture exactly.
#pragma once

#include <QImage>
#include <QRect>

namespace qv {

// Inverts the outline of the rectangle spanned by the corners (x1, y1) and (x2, y2), in either
// order, with the right and bottom edges outside it (a rectangle of width 0 or height 0 draws
// nothing). Every outline pixel is inverted exactly once; pixels off the picture are skipped.
// Returns the part of the picture that changed (empty when nothing did).
// The picture must be QImage::Format_RGB32.
QRect InvertFrame(QImage& picture, int x1, int y1, int x2, int y2);

}  // namespace qv
