#include "volume/separablegauss.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace daxo {

namespace {

// One pass of a normalised 1-D kernel along `axis` (0 x, 1 y, 2 z), the edge
// voxel repeated.
Volume convolvedAlong(const Volume& v, const std::vector<double>& kernel, int axis) {
  const Dimensions e = v.dimensions();
  const int32_t radius = static_cast<int32_t>(kernel.size() / 2);
  const int32_t n = axis == 0 ? e.x : axis == 1 ? e.y : e.z;
  Volume out(e);
  for (int32_t z = 0; z < e.z; ++z)
    for (int32_t y = 0; y < e.y; ++y)
      for (int32_t x = 0; x < e.x; ++x) {
        const int32_t at = axis == 0 ? x : axis == 1 ? y : z;
        double sum = 0.0;
        for (int32_t k = -radius; k <= radius; ++k) {
          const int32_t j = std::clamp(at + k, 0, n - 1);
          const float value = axis == 0 ? v(j, y, z) : axis == 1 ? v(x, j, z) : v(x, y, j);
          sum += kernel[static_cast<size_t>(k + radius)] * value;
        }
        out(x, y, z) = static_cast<float>(sum);
      }
  return out;
}

}  // namespace

Volume gaussianSmoothed(const Volume& v, double sigma) {
  if (!(sigma > 0.0)) return v;
  const int32_t radius = static_cast<int32_t>(std::ceil(3.0 * sigma));
  std::vector<double> kernel(static_cast<size_t>(2 * radius + 1));
  double sum = 0.0;
  for (int32_t k = -radius; k <= radius; ++k) {
    const double w = std::exp(-0.5 * k * k / (sigma * sigma));
    kernel[static_cast<size_t>(k + radius)] = w;
    sum += w;
  }
  for (double& w : kernel) w /= sum;
  return convolvedAlong(convolvedAlong(convolvedAlong(v, kernel, 0), kernel, 1), kernel, 2);
}

}  // namespace daxo
