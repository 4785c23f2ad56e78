#include "report/rgbimage.h"

#include <algorithm>
#include <stdexcept>

namespace daxo::report {

RgbImage::RgbImage(int width, int height, Rgb fill) : width_(width), height_(height) {
  if (width < 0 || height < 0) throw std::invalid_argument("a picture with a negative extent");
  pixels_.assign(static_cast<size_t>(width) * static_cast<size_t>(height), fill);
}

void RgbImage::paste(const RgbImage& other, int column, int row) {
  const int firstRow = std::max(0, row);
  const int lastRow = std::min(height_, row + other.height());
  const int firstColumn = std::max(0, column);
  const int lastColumn = std::min(width_, column + other.width());
  for (int r = firstRow; r < lastRow; ++r) {
    for (int c = firstColumn; c < lastColumn; ++c) at(c, r) = other.at(c - column, r - row);
  }
}

}  // namespace daxo::report
