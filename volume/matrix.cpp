#include "volume/matrix.h"

#include <algorithm>
#include <cstring>

#include "volume/storage.h"

namespace daxo {

namespace {
size_t countOf(int32_t rows, int32_t columns) { return static_cast<size_t>(rows) * static_cast<size_t>(columns); }
}  // namespace

Matrix::Matrix(int32_t rows, int32_t columns)
    : rows_(rows), columns_(columns), data_(allocateFloats(checkedElementCount(rows, columns))) {}

Matrix::Matrix(int32_t rows, int32_t columns, float value) : Matrix(rows, columns) { fill(value); }

Matrix::Matrix(std::pair<int32_t, int32_t> shape, float value) : Matrix(shape.first, shape.second, value) {}

Matrix::Matrix(const Matrix& other) : Matrix(other.rows_, other.columns_) { copyElementsFrom(other); }

Matrix& Matrix::operator=(const Matrix& other) {
  if (this == &other) return *this;
  if (countOf(rows_, columns_) != countOf(other.rows_, other.columns_) || !data_) {
    data_ = allocateFloats(checkedElementCount(other.rows_, other.columns_));
  }
  rows_ = other.rows_;
  columns_ = other.columns_;
  copyElementsFrom(other);
  return *this;
}

void Matrix::copyElementsFrom(const Matrix& other) {
  if (!data_) return;
  // A moved-from source has extents but no buffer: its copy reads as zeros.
  if (other.data_) {
    std::memcpy(data_.get(), other.data_.get(), countOf(rows_, columns_) * sizeof(float));
  } else {
    fill(0.0f);
  }
}

void Matrix::resize(int32_t rows, int32_t columns) {
  const int32_t count = checkedElementCount(rows, columns);
  if (static_cast<size_t>(count) != countOf(rows_, columns_) || (!data_ && count > 0)) data_ = allocateFloats(count);
  rows_ = rows;
  columns_ = columns;
}

void Matrix::fill(float value) {
  if (data_) std::fill_n(data_.get(), countOf(rows_, columns_), value);
}

}  // namespace daxo
