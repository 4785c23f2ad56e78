#include "volume/vector.h"

#include <algorithm>
#include <cstring>

#include "volume/storage.h"

namespace daxo {

Vector::Vector(int32_t n) : size_(n), data_(allocateFloats(checkedElementCount(n, 1))) {}

Vector::Vector(int32_t n, float value) : Vector(n) {
  for (int32_t i = 0; i < size_; ++i) data_[i] = value;
}

Vector::Vector(std::vector<float>&& sequence) : Vector(checkedElementCount(static_cast<int64_t>(sequence.size()), 1)) {
  if (size_ > 0) std::memcpy(data_.get(), sequence.data(), static_cast<size_t>(size_) * sizeof(float));
  std::vector<float>().swap(sequence);
}

Vector::Vector(const Vector& other) : Vector(other.size_) { copyElementsFrom(other); }

Vector& Vector::operator=(const Vector& other) {
  if (this == &other) return *this;
  if (size_ != other.size_ || !data_) {
    data_ = allocateFloats(checkedElementCount(other.size_, 1));
    size_ = other.size_;
  }
  copyElementsFrom(other);
  return *this;
}

void Vector::copyElementsFrom(const Vector& other) {
  if (size_ <= 0 || !data_) return;
  // A moved-from source has a size but no buffer: its copy reads as zeros.
  if (other.data_) {
    std::memcpy(data_.get(), other.data_.get(), static_cast<size_t>(size_) * sizeof(float));
  } else {
    std::fill_n(data_.get(), size_, 0.0f);
  }
}

void Vector::resize(int32_t n) {
  // A moved-from vector keeps its size without a buffer; it gets one.
  if (n == size_ && (data_ || n == 0)) return;
  data_ = allocateFloats(checkedElementCount(n, 1));
  size_ = n;
}

float Vector::max() const {
  float m = data_[0];
  for (int32_t i = 1; i < size_; ++i)
    if (data_[i] > m) m = data_[i];
  return m;
}

float Vector::min() const {
  float m = data_[0];
  for (int32_t i = 1; i < size_; ++i)
    if (data_[i] < m) m = data_[i];
  return m;
}

Vector operator*(const Vector& v, float s) {
  Vector r(v.size());
  for (int32_t i = 0; i < v.size(); ++i) r[i] = s * v[i];
  return r;
}

Vector operator+(const Vector& v, float s) {
  Vector r(v.size());
  for (int32_t i = 0; i < v.size(); ++i) r[i] = s + v[i];
  return r;
}

Vector operator/(const Vector& v, float s) {
  Vector r(v.size());
  for (int32_t i = 0; i < v.size(); ++i) r[i] = v[i] / s;
  return r;
}

Vector operator-(const Vector& v, const Vector& w) {
  Vector r(v.size());
  for (int32_t i = 0; i < v.size(); ++i) r[i] = v[i] - w[i];
  return r;
}

Vector& operator+=(Vector& v, const Vector& w) {
  for (int32_t i = 0; i < v.size(); ++i) v[i] = v[i] + w[i];
  return v;
}

Vector& operator-=(Vector& v, const Vector& w) {
  for (int32_t i = 0; i < v.size(); ++i) v[i] = v[i] - w[i];
  return v;
}

Vector affine(const Vector& v, float a, float b) { return (v * a) + b; }

Vector centredRamp(int32_t n) {
  Vector r(n);
  const float half = 0.5f * static_cast<float>(n);
  for (int32_t i = 0; i < n; ++i) r[i] = static_cast<float>(i) - half;
  return r;
}

Vector sampleAt(const Vector& src, const Vector& positions) {
  Vector r(positions.size());
  for (int32_t i = 0; i < positions.size(); ++i) r[i] = src.sampleLinear(positions[i]);
  return r;
}

Vector sampleAtCentred(const Vector& src, const Vector& positions) {
  Vector r(positions.size());
  const float offset = 0.5f * static_cast<float>(positions.size());
  for (int32_t i = 0; i < positions.size(); ++i) r[i] = src.sampleLinear(positions[i] + offset);
  return r;
}

}  // namespace daxo
