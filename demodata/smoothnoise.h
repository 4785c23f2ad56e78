#pragma once

#include <cstdint>

namespace daxo {

// Smooth value noise: random values on the integer lattice, drawn from
// (seed, stream) alone, blended with a quintic fade so the field and its first
// two derivatives are continuous. Values lie in -1 .. 1 (standard deviation
// about 0.3); features are about one lattice cell across. Any point can be
// evaluated in any order with the same result.
class SmoothNoise {
 public:
  SmoothNoise(uint64_t seed, uint64_t stream);
  double at(double x, double y, double z) const;

 private:
  uint64_t key_;
};

}  // namespace daxo
