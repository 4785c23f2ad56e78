#include "demodata/random.h"

#include <cmath>

namespace daxo {

uint64_t splitMix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

Pcg32::Pcg32(uint64_t seed, uint64_t stream) : state_(0), increment_((stream << 1u) | 1u) {
  nextUint32();
  state_ += seed;
  nextUint32();
}

uint32_t Pcg32::nextUint32() {
  const uint64_t old = state_;
  state_ = old * 6364136223846793005ull + increment_;
  const uint32_t xorshifted = static_cast<uint32_t>(((old >> 18u) ^ old) >> 27u);
  const uint32_t rot = static_cast<uint32_t>(old >> 59u);
  return (xorshifted >> rot) | (xorshifted << ((32u - rot) & 31u));
}

double Pcg32::nextUnit() { return nextUint32() * (1.0 / 4294967296.0); }

NormalPair normalPairAt(uint64_t seed, uint64_t stream, uint64_t index) {
  const uint64_t bits = splitMix64(splitMix64(seed ^ splitMix64(stream)) + index);
  // u1 in (0, 1] keeps the logarithm finite; u2 in [0, 1).
  const double u1 = (static_cast<double>(bits >> 32) + 1.0) * (1.0 / 4294967296.0);
  const double u2 = static_cast<double>(bits & 0xFFFFFFFFull) * (1.0 / 4294967296.0);
  const double radius = std::sqrt(-2.0 * std::log(u1));
  const double angle = 6.283185307179586 * u2;
  return {radius * std::cos(angle), radius * std::sin(angle)};
}

}  // namespace daxo
