#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// An 8-bit RGB picture, rows from the top, 3 bytes a pixel.

namespace daxo::report {

struct Rgb {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;

  friend bool operator==(const Rgb& a, const Rgb& b) { return a.r == b.r && a.g == b.g && a.b == b.b; }
};

class RgbImage {
 public:
  RgbImage() = default;
  RgbImage(int width, int height, Rgb fill = {});

  int width() const { return width_; }
  int height() const { return height_; }
  // Unchecked; (column, row) must lie inside the picture.
  Rgb& at(int column, int row) {
    return pixels_[static_cast<size_t>(row) * static_cast<size_t>(width_) + static_cast<size_t>(column)];
  }
  const Rgb& at(int column, int row) const {
    return pixels_[static_cast<size_t>(row) * static_cast<size_t>(width_) + static_cast<size_t>(column)];
  }
  const Rgb* data() const { return pixels_.data(); }

  // Copies `other` with its top left corner at (column, row), clipped to
  // this picture.
  void paste(const RgbImage& other, int column, int row);

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<Rgb> pixels_;
};

}  // namespace daxo::report
