#include "demodata/magnitudenoise.h"

#include <cmath>

#include "demodata/random.h"

namespace daxo {

void addRicianNoise(Volume& v, double sigma, uint64_t seed, uint64_t stream) {
  if (sigma <= 0) return;
  float* p = v.data();
  for (size_t i = 0; i < v.voxelCount(); ++i) {
    const NormalPair n = normalPairAt(seed, stream, i);
    const double re = p[i] + sigma * n.first, im = sigma * n.second;
    p[i] = static_cast<float>(std::sqrt(re * re + im * im));
  }
}

}  // namespace daxo
