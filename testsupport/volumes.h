#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "volume/matrix.h"
#include "volume/volume.h"

// Volumes for tests: deterministic random content and bit-for-bit
// comparisons.

namespace daxo::testing {

// Deterministic pseudo-random values in [low, high).
inline void randomFill(float* data, size_t count, uint32_t seed, float low = -1.0f, float high = 1.0f) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<float> uniform(low, high);
  for (size_t i = 0; i < count; ++i) data[i] = uniform(engine);
}

inline Volume randomVolume(const Dimensions& d, uint32_t seed, float low = -1.0f, float high = 1.0f) {
  Volume v(d);
  randomFill(v.data(), v.voxelCount(), seed, low, high);
  return v;
}

inline Matrix randomMatrix(int32_t rows, int32_t columns, uint32_t seed) {
  Matrix m(rows, columns);
  randomFill(m.data(), static_cast<size_t>(rows) * static_cast<size_t>(columns), seed);
  return m;
}

// Voxel (x, y, z) = f(x, y, z), converted to float.
template <typename Function>
Volume volumeOf(const Dimensions& d, Function f) {
  Volume v(d);
  for (int32_t z = 0; z < d.z; ++z)
    for (int32_t y = 0; y < d.y; ++y)
      for (int32_t x = 0; x < d.x; ++x) v(x, y, z) = static_cast<float>(f(x, y, z));
  return v;
}

// A volume of the values in a row along x (extents n x 1 x 1).
inline Volume rowOf(const std::vector<float>& values) {
  Volume v(static_cast<int32_t>(values.size()), 1, 1);
  for (size_t i = 0; i < values.size(); ++i) v.data()[i] = values[i];
  return v;
}

// Root-mean-square difference of a and b over the voxels where mask is not
// 0; 1e9 when there are none (so a bound always fails on an empty mask).
inline double rmsInside(const Volume& a, const Volume& b, const Volume& mask) {
  double sum = 0;
  size_t n = 0;
  for (size_t i = 0; i < a.voxelCount(); ++i) {
    if (mask.data()[i] == 0) continue;
    sum += std::pow(double(a.data()[i]) - b.data()[i], 2);
    ++n;
  }
  return n == 0 ? 1e9 : std::sqrt(sum / double(n));
}

// Equal extents and every voxel's bytes equal (NaN payloads included).
inline bool identicalBytes(const Volume& a, const Volume& b) {
  return a.dimensions() == b.dimensions() && std::memcmp(a.data(), b.data(), a.voxelCount() * sizeof(float)) == 0;
}

// The same bits, or both NaN.
inline bool sameBits(float a, float b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// Equal extents and sameBits voxel by voxel; names the first voxel that
// differs.
inline void expectSameVolume(const Volume& actual, const Volume& expected, const std::string& what = "") {
  ASSERT_EQ(actual.dimensions(), expected.dimensions()) << what;
  for (size_t i = 0; i < actual.voxelCount(); ++i)
    ASSERT_TRUE(sameBits(actual.data()[i], expected.data()[i]))
        << what << " voxel " << i << ": " << actual.data()[i] << " vs " << expected.data()[i];
}

}  // namespace daxo::testing
