#include "correction/noisefloor.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "volume/separablegauss.h"

namespace daxo {

double highPassNoise(const Volume& v, const Volume& region) {
  std::vector<double> responses;
  for (int32_t z = 0; z < v.nz(); ++z)
    for (int32_t y = 1; y + 1 < v.ny(); ++y)
      for (int32_t x = 1; x + 1 < v.nx(); ++x) {
        if (region(x, y, z) == 0.0f) continue;
        const double c = v(x - 1, y - 1, z) + v(x + 1, y - 1, z) + v(x - 1, y + 1, z) + v(x + 1, y + 1, z) -
                         2.0 * (v(x, y - 1, z) + v(x, y + 1, z) + v(x - 1, y, z) + v(x + 1, y, z)) + 4.0 * v(x, y, z);
        responses.push_back(std::fabs(c));
      }
  if (responses.empty()) return 0.0;
  const size_t middle = responses.size() / 2;
  std::nth_element(responses.begin(), responses.begin() + static_cast<std::ptrdiff_t>(middle), responses.end());
  return responses[middle] / (6.0 * 0.6745);
}

Volume brightRegion(const Volume& v, double fraction) {
  const Volume s = gaussianSmoothed(v, 1.5);
  std::vector<float> values(s.data(), s.data() + s.voxelCount());
  const size_t rank = static_cast<size_t>(0.99 * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank), values.end());
  const double limit = fraction * values[rank];
  Volume region(v.dimensions(), 0.0f);
  for (size_t i = 0; i < v.voxelCount(); ++i) region.data()[i] = s.data()[i] > limit ? 1.0f : 0.0f;
  return region;
}

Volume withoutNoiseFloor(const Volume& v, double deviation) {
  Volume out(v.dimensions());
  const double floor2 = deviation * deviation;
  for (size_t i = 0; i < v.voxelCount(); ++i) {
    const double a = v.data()[i];
    const double q = a > 0.0 ? a * a - floor2 : 0.0;
    out.data()[i] = q > 0.0 ? static_cast<float>(std::sqrt(q)) : 0.0f;
  }
  return out;
}

}  // namespace daxo
