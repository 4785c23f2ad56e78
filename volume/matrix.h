#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "volume/storage.h"

namespace daxo {

// A single-precision matrix stored column-major: element (r, c) lies at
// r + rows * c. Also serves as a 2-D image whose rows() is the extent along x
// and columns() the extent along y, so pixel (x, y) lies at x + rows * y, like
// one z-slice of a Volume. Value semantics as Volume.
class Matrix {
 public:
  Matrix() = default;
  Matrix(int32_t rows, int32_t columns);
  Matrix(int32_t rows, int32_t columns, float value);
  Matrix(std::pair<int32_t, int32_t> shape, float value);
  Matrix(const Matrix& other);
  Matrix(Matrix&& other) noexcept = default;
  // Reallocates only when rows * columns differs, then copies.
  Matrix& operator=(const Matrix& other);
  Matrix& operator=(Matrix&& other) noexcept = default;

  int32_t rows() const { return rows_; }
  int32_t columns() const { return columns_; }
  float& operator()(int32_t r, int32_t c) { return data_[static_cast<size_t>(r) + static_cast<size_t>(rows_) * c]; }
  float operator()(int32_t r, int32_t c) const {
    return data_[static_cast<size_t>(r) + static_cast<size_t>(rows_) * c];
  }
  float* data() { return data_.get(); }
  const float* data() const { return data_.get(); }

  // Sets both extents; reallocates (uninitialised) only when the element count
  // changes. Contents are not kept.
  void resize(int32_t rows, int32_t columns);
  void fill(float value);

 private:
  // Copies other's elements into this matrix's buffer of the same count.
  void copyElementsFrom(const Matrix& other);

  int32_t rows_ = 0;
  int32_t columns_ = 0;
  FloatArray data_;
};

}  // namespace daxo
