#include "correction/localsweep.h"

#include <algorithm>

#include "correction/vdm.h"
#include "volume/distance.h"

namespace daxo {

namespace {

// A voxel takes part in the search when either warped scan is brighter.
constexpr float kSignalThreshold = 100.0f;

}  // namespace

void buildBoxLists(const Dimensions& volume, const Dimensions& centre, const Dimensions& box, VoxelList& voxels,
                   VoxelList& boxVoxels) {
  const Dimensions half{box.x / 2, box.y / 2, box.z / 2};
  const int32_t x0 = std::max(centre.x - half.x, 0), x1 = std::min(centre.x + half.x, volume.x - 1);
  const int32_t y0 = std::max(centre.y - half.y, 0), y1 = std::min(centre.y + half.y, volume.y - 1);
  const int32_t z0 = std::max(centre.z - half.z, 0), z1 = std::min(centre.z + half.z, volume.z - 1);
  voxels.clear();
  boxVoxels.clear();
  for (int32_t z = z0; z <= z1; ++z)
    for (int32_t y = y0; y <= y1; ++y)
      for (int32_t x = x0; x <= x1; ++x) {
        voxels.push_back({x, y, z});
        boxVoxels.push_back({x - centre.x + half.x, y - centre.y + half.y, z - centre.z + half.z});
      }
}

size_t sweepStage(Volume& F, Volume& G, const Volume& Am, const Volume& Pm, const Volume& v, const Volume& box,
                  const std::vector<float>& shifts, bool useSsd, Volume& acc, Volume& weights) {
  if (shifts.empty()) return 0;
  const Dimensions dims = v.dimensions();
  VoxelList voxels, boxVoxels;
  size_t searched = 0;
  for (int32_t z = 0; z < dims.z; ++z)
    for (int32_t y = 0; y < dims.y; ++y)
      for (int32_t x = 0; x < dims.x; ++x) {
        if (!(F(x, y, z) > kSignalThreshold || G(x, y, z) > kSignalThreshold)) continue;
        buildBoxLists(dims, {x, y, z}, box.dimensions(), voxels, boxVoxels);
        size_t best = 0;
        double bestCost = 0.0;
        for (size_t k = 0; k < shifts.size(); ++k) {
          warpLinearY(F, Am, v, voxels, box, boxVoxels, shifts[k], false);
          warpLinearY(G, Pm, v, voxels, box, boxVoxels, shifts[k], true);
          const double cost = useSsd ? ssdAt(F, G, voxels) : -nccAt(F, G, voxels);
          if (k == 0 || cost < bestCost) {
            best = k;
            bestCost = cost;
          }
        }
        weights(x, y, z) = 1.0f;
        acc(x, y, z) = acc(x, y, z) + shifts[best];
        ++searched;
      }
  return searched;
}

}  // namespace daxo
