#include "demodata/accuracy.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace daxo {

namespace {

void requireSameExtents(const Volume& a, const Volume& b, const Volume& mask, const char* operation) {
  if (a.dimensions() != b.dimensions() || a.dimensions() != mask.dimensions())
    throw std::invalid_argument(std::string(operation) + ": the volumes and the mask must have equal extents");
}

}  // namespace

DisplacementError displacementError(const Volume& v, const Volume& d, const Volume& mask) {
  requireSameExtents(v, d, mask, "displacementError");
  const size_t n = v.voxelCount();
  const float* pv = v.data();
  const float* pd = d.data();
  const float* pm = mask.data();
  std::vector<double> errors;
  double sumSquares = 0;
  for (size_t i = 0; i < n; ++i) {
    if (pm[i] == 0) continue;
    double e = std::fabs(static_cast<double>(pv[i]) - pd[i]);
    if (!std::isfinite(e)) e = std::numeric_limits<double>::infinity();
    errors.push_back(e);
    sumSquares += e * e;
  }
  if (errors.empty()) throw std::invalid_argument("displacementError: the mask selects no voxel");
  DisplacementError result;
  result.voxels = errors.size();
  result.rms = std::sqrt(sumSquares / static_cast<double>(errors.size()));
  // Nearest rank: the smallest error that at least 95 % of the voxels do not exceed.
  const size_t rank = static_cast<size_t>(std::ceil(0.95 * static_cast<double>(errors.size())));
  const size_t k = std::max<size_t>(rank, 1) - 1;
  std::nth_element(errors.begin(), errors.begin() + static_cast<std::ptrdiff_t>(k), errors.end());
  result.percentile95 = errors[k];
  return result;
}

}  // namespace daxo
