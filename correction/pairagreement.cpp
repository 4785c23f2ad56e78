#include "correction/pairagreement.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace daxo {

double maskedCorrelation(const Volume& a, const Volume& b, const Volume& mask) {
  if (a.dimensions() != b.dimensions() || a.dimensions() != mask.dimensions())
    throw std::invalid_argument("maskedCorrelation: the volumes and the mask must have equal extents");
  const size_t n = a.voxelCount();
  const float* pa = a.data();
  const float* pb = b.data();
  const float* pm = mask.data();
  size_t count = 0;
  double meanA = 0, meanB = 0;
  for (size_t i = 0; i < n; ++i) {
    if (pm[i] == 0) continue;
    ++count;
    meanA += pa[i];
    meanB += pb[i];
  }
  if (count == 0) throw std::invalid_argument("maskedCorrelation: the mask selects no voxel");
  meanA /= static_cast<double>(count);
  meanB /= static_cast<double>(count);
  // Centred second pass: no cancellation from large means.
  double sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < n; ++i) {
    if (pm[i] == 0) continue;
    const double da = pa[i] - meanA, db = pb[i] - meanB;
    sab += da * db;
    saa += da * da;
    sbb += db * db;
  }
  if (saa == 0 || sbb == 0) return std::numeric_limits<double>::quiet_NaN();
  return sab / std::sqrt(saa * sbb);
}

Volume pairHeadMask(const Volume& a, const Volume& b) {
  if (a.dimensions() != b.dimensions()) throw std::invalid_argument("pairHeadMask: scans of different extents");
  const size_t n = a.voxelCount();
  Volume mean(a.dimensions());
  std::vector<float> positive;
  for (size_t i = 0; i < n; ++i) {
    const float m = 0.5f * (a.data()[i] + b.data()[i]);
    mean.data()[i] = m;
    if (std::isfinite(m) && m > 0.0f) positive.push_back(m);
  }
  Volume mask(a.dimensions(), 0.0f);
  if (positive.empty()) return mask;
  const size_t rank = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(positive.size())));
  const size_t k = std::max<size_t>(rank, 1) - 1;
  std::nth_element(positive.begin(), positive.begin() + static_cast<std::ptrdiff_t>(k), positive.end());
  const float threshold = 0.1f * positive[k];
  for (size_t i = 0; i < n; ++i) mask.data()[i] = mean.data()[i] > threshold ? 1.0f : 0.0f;
  return mask;
}

}  // namespace daxo
