#include "volume/distance.h"

#include <cstddef>

#include "volume/assertion.h"
#include "volume/distancesums.h"

namespace daxo {

namespace {

constexpr const char* kModule = "distance";

}  // namespace

double ssd(const Volume& a, const Volume& b) {
  check(a.dimensions() == b.dimensions(), kModule, 15, "dim1 == dim2");
  const size_t count = a.voxelCount();
  const float* pa = a.data();
  const float* pb = b.data();
  double sum = 0.0;
  for (size_t i = 0; i < count; ++i) sum += squaredDifference(pa[i], pb[i]);
  return sum;
}

double meanSsd(const Volume& a, const Volume& b) {
  const double sum = ssd(a, b);
  return sum / static_cast<double>(a.voxelCount());
}

double ncc(const Volume& a, const Volume& b) {
  check(a.dimensions() == b.dimensions(), kModule, 37, "dim1 == dim2");
  const size_t count = a.voxelCount();
  const float* pa = a.data();
  const float* pb = b.data();
  CorrelationSums sums;
  for (size_t i = 0; i < count; ++i) sums.add(pa[i], pb[i]);
  return sums.correlation(static_cast<float>(count));
}

double ssdAt(const Volume& a, const Volume& b, const VoxelList& voxels) {
  check(a.dimensions() == b.dimensions(), kModule, 63, "vol1.dimensions() == vol2.dimensions()");
  const float* pa = a.data();
  const float* pb = b.data();
  double sum = 0.0;
  for (const Dimensions& p : voxels) {
    const size_t i = a.index(p.x, p.y, p.z);
    sum += squaredDifference(pa[i], pb[i]);
  }
  return sum;
}

double nccAt(const Volume& a, const Volume& b, const VoxelList& voxels) {
  check(a.dimensions() == b.dimensions(), kModule, 76, "vol1.dimensions() == vol2.dimensions()");
  const float* pa = a.data();
  const float* pb = b.data();
  CorrelationSums sums;
  for (const Dimensions& p : voxels) {
    const size_t i = a.index(p.x, p.y, p.z);
    sums.add(pa[i], pb[i]);
  }
  return sums.correlation(static_cast<float>(voxels.size()));
}

double meanSquaredDifferenceNonZero(const Vector& u, const Vector& v) {
  check(u.size() == v.size(), kModule, 133, "vec1.size() == vec2.size()");
  double sum = 0.0;
  int64_t count = 0;
  for (int32_t i = 0; i < u.size(); ++i) {
    if (u[i] == 0.0f || v[i] == 0.0f) continue;
    sum += squaredDifference(u[i], v[i]);
    ++count;
  }
  if (count == 0) count = 1;
  return sum / static_cast<double>(count);
}

}  // namespace daxo
