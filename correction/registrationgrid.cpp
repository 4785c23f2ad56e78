#include "correction/registrationgrid.h"

#include <cstddef>

#include "correction/bsplinetaps.h"
#include "volume/volumegauss.h"
#include "volume/volumetransform.h"

namespace daxo {

namespace {

// Positions of the g points of one axis spanning extent a.
std::vector<float> axisPositions(int32_t g, float a) {
  std::vector<float> positions(static_cast<size_t>(g));
  const float count = static_cast<float>(g);
  const float offset = (a / count - a) / 2.0f;
  for (int32_t k = 0; k < g; ++k) positions[static_cast<size_t>(k)] = static_cast<float>(k) * a / count + offset;
  return positions;
}

// 1 where the condition holds, 0 elsewhere, in place.
template <typename Condition>
void binarise(Volume& v, Condition above) {
  float* data = v.data();
  const size_t count = v.voxelCount();
  for (size_t i = 0; i < count; ++i) data[i] = above(data[i]) ? 1.0f : 0.0f;
}

}  // namespace

Float3 voxelSizeOf(const Dimensions& dims, const Float3& extent) {
  return {extent.x / static_cast<float>(dims.x), extent.y / static_cast<float>(dims.y),
          extent.z / static_cast<float>(dims.z)};
}

std::vector<Float3> centredGrid(const Dimensions& grid, const Float3& extent) {
  if (grid.x <= 0 || grid.y <= 0 || grid.z <= 0) return {};
  const std::vector<float> xs = axisPositions(grid.x, extent.x);
  const std::vector<float> ys = axisPositions(grid.y, extent.y);
  const std::vector<float> zs = axisPositions(grid.z, extent.z);
  std::vector<Float3> points;
  points.reserve(xs.size() * ys.size() * zs.size());
  for (const float z : zs)
    for (const float y : ys)
      for (const float x : xs) points.push_back({x, y, z});
  return points;
}

Volume registrationMask(const Volume& fixed, const Float3& extent) {
  Volume mask = fixed;
  binarise(mask, [](float v) { return v > 75.0f; });
  // The sigma is 3 mm in voxels, in single precision.
  const Float3 s = voxelSizeOf(fixed.dimensions(), extent);
  smooth(mask, {3.0f / s.x, 3.0f / s.y, 3.0f / s.z}, {0, 0, 0}, true);
  binarise(mask, [](float v) { return v > 0.1f; });
  return mask;
}

std::vector<Float3> pointsInsideMask(const std::vector<Float3>& points, const Volume& mask, const Float3& extent) {
  std::vector<Float3> kept;
  kept.reserve(points.size());
  for (const Float3& p : points) {
    const Float3 u = bspline::toVoxelPosition(p, mask.dimensions(), extent);
    if (sampleTrilinear(mask, u.x, u.y, u.z) != 0.0f) kept.push_back(p);
  }
  return kept;
}

}  // namespace daxo
