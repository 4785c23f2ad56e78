#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "volume/storage.h"

namespace daxo {

// Linear interpolation of the n values at `values` at position t (element
// units), samples outside 0 .. n-1 taken as 0:
// (t - i0) * v[i0 + 1] + (i0 + 1 - t) * v[i0] with i0 = floor(t); NaN for a
// NaN position. Inline, since the column fit calls it in its inner loops.
inline float sampleLinear(const float* values, int32_t n, float t) {
  if (std::isnan(t)) return std::numeric_limits<float>::quiet_NaN();
  // Beyond one element outside, both samples are 0 and so is the result; the
  // early return also keeps the index within the integer range.
  if (t < -1.0f || t >= static_cast<float>(n)) return 0.0f;
  // floor(t) for t in [-1, n): truncation, except on [-1, 0).
  const int32_t i0 = t < 0.0f ? -1 : static_cast<int32_t>(t);
  const int32_t i1 = i0 + 1;
  const float v0 = i0 >= 0 ? values[i0] : 0.0f;
  const float v1 = i1 < n ? values[i1] : 0.0f;
  return (t - static_cast<float>(i0)) * v1 + (static_cast<float>(i1) - t) * v0;
}

// A single-precision sequence with value semantics (deep copy, buffer-taking
// move). Fresh storage is uninitialised unless a fill value is given.
class Vector {
 public:
  Vector() = default;
  explicit Vector(int32_t n);
  Vector(int32_t n, float value);
  // Copies the sequence's elements, then releases its storage.
  explicit Vector(std::vector<float>&& sequence);
  Vector(const Vector& other);
  Vector(Vector&& other) noexcept = default;
  // Reallocates only when the sizes differ, then copies.
  Vector& operator=(const Vector& other);
  Vector& operator=(Vector&& other) noexcept = default;

  int32_t size() const { return size_; }
  float& operator[](int32_t i) { return data_[i]; }
  float operator[](int32_t i) const { return data_[i]; }
  float* data() { return data_.get(); }
  const float* data() const { return data_.get(); }

  // Changes the size to n; contents are not kept. Nothing happens when n equals
  // the size, unless the vector has no buffer (it was moved from): it then
  // gets one.
  void resize(int32_t n);

  // Start from element 0 and replace only on a strictly greater (smaller)
  // element. The vector must not be empty.
  float max() const;
  float min() const;

  // daxo::sampleLinear over the elements.
  float sampleLinear(float t) const { return daxo::sampleLinear(data_.get(), size_, t); }

 private:
  // Copies other's elements into this vector's buffer of the same size.
  void copyElementsFrom(const Vector& other);

  int32_t size_ = 0;
  FloatArray data_;
};

// Element-wise arithmetic over the left operand's size; a vector operand must
// be at least as long (not checked).
Vector operator*(const Vector& v, float s);
Vector operator+(const Vector& v, float s);
Vector operator/(const Vector& v, float s);
Vector operator-(const Vector& v, const Vector& w);
Vector& operator+=(Vector& v, const Vector& w);
Vector& operator-=(Vector& v, const Vector& w);
// (v * a) + b, as two steps.
Vector affine(const Vector& v, float a, float b);

// n elements, element i = float(i) - 0.5 * n (n = 5: -2.5 .. 1.5).
Vector centredRamp(int32_t n);
// Element i = src.sampleLinear(positions[i]).
Vector sampleAt(const Vector& src, const Vector& positions);
// As sampleAt with every position first increased by 0.5 * positions.size().
Vector sampleAtCentred(const Vector& src, const Vector& positions);

}  // namespace daxo
