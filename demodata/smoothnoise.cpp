#include "demodata/smoothnoise.h"

#include <cmath>

#include "demodata/random.h"

namespace daxo {

namespace {

// 6 t^5 - 15 t^4 + 10 t^3: zero first and second derivative at 0 and 1.
double fade(double t) { return t * t * t * (t * (t * 6.0 - 15.0) + 10.0); }

// The lattice value of a hashed corner, uniform in [-1, 1).
double latticeValue(uint64_t hash) { return static_cast<double>(hash >> 11) * (2.0 / 9007199254740992.0) - 1.0; }

uint64_t hashStep(uint64_t h, int64_t i) { return splitMix64(h ^ static_cast<uint64_t>(i)); }

}  // namespace

SmoothNoise::SmoothNoise(uint64_t seed, uint64_t stream) : key_(splitMix64(seed ^ splitMix64(stream))) {}

double SmoothNoise::at(double x, double y, double z) const {
  const double fx = std::floor(x), fy = std::floor(y), fz = std::floor(z);
  const int64_t ix = static_cast<int64_t>(fx), iy = static_cast<int64_t>(fy), iz = static_cast<int64_t>(fz);
  const double tx = fade(x - fx), ty = fade(y - fy), tz = fade(z - fz);
  double planes[2];
  for (int64_t dz = 0; dz < 2; ++dz) {
    const uint64_t hz = hashStep(key_, iz + dz);
    double rows[2];
    for (int64_t dy = 0; dy < 2; ++dy) {
      const uint64_t hy = hashStep(hz, iy + dy);
      const double a = latticeValue(hashStep(hy, ix)), b = latticeValue(hashStep(hy, ix + 1));
      rows[dy] = a + tx * (b - a);
    }
    planes[dz] = rows[0] + ty * (rows[1] - rows[0]);
  }
  return planes[0] + tz * (planes[1] - planes[0]);
}

}  // namespace daxo
