#pragma once

#include <cstdint>
#include <random>

#include "volume/matrix.h"
#include "volume/volume.h"

namespace daxo::testing {

// Deterministic pseudo-random values in [low, high).
inline void randomFill(float* data, size_t count, uint32_t seed, float low = -1.0f, float high = 1.0f) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<float> uniform(low, high);
  for (size_t i = 0; i < count; ++i) data[i] = uniform(engine);
}

inline Volume randomVolume(int32_t nx, int32_t ny, int32_t nz, uint32_t seed, float low = -1.0f, float high = 1.0f) {
  Volume v(nx, ny, nz);
  randomFill(v.data(), v.voxelCount(), seed, low, high);
  return v;
}

inline Matrix randomMatrix(int32_t rows, int32_t columns, uint32_t seed) {
  Matrix m(rows, columns);
  randomFill(m.data(), static_cast<size_t>(rows) * static_cast<size_t>(columns), seed);
  return m;
}

}  // namespace daxo::testing
