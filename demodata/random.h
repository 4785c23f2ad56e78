#pragma once

#include <cstdint>

// Random numbers of our own, so that a seed gives the same data with every
// standard library (the distributions of <random> are not portable).

namespace daxo {

// One step of the SplitMix64 mixer: a bijective hash of a 64-bit counter.
uint64_t splitMix64(uint64_t x);

// PCG32 (XSH-RR output, 64-bit state): a small sequential generator for the
// few parameters drawn once per data set.
class Pcg32 {
 public:
  Pcg32(uint64_t seed, uint64_t stream);
  uint32_t nextUint32();
  // Uniform in [0, 1) with 32 random bits.
  double nextUnit();
  // Uniform in [lo, hi).
  double nextUniform(double lo, double hi) { return lo + (hi - lo) * nextUnit(); }

 private:
  uint64_t state_;
  uint64_t increment_;
};

// Two independent standard normal samples that depend only on (seed, stream,
// index), so any voxel's noise can be drawn in any order. Box-Muller on the
// two 32-bit halves of one hashed counter.
struct NormalPair {
  double first;
  double second;
};
NormalPair normalPairAt(uint64_t seed, uint64_t stream, uint64_t index);

}  // namespace daxo
