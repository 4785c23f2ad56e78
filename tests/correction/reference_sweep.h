#pragma once

// The local sweep of one estimation stage written the obvious way: fresh voxel
// lists for every searched voxel, built with the box clipped to the volume,
// then per shift the two boxed warps and the list measure.

#include <algorithm>
#include <vector>

#include "correction/vdm.h"
#include "volume/distance.h"

namespace daxo::testing {

inline void referenceSweep(Volume& F, Volume& G, const Volume& Am, const Volume& Pm, const Volume& v, const Volume& box,
                           const std::vector<float>& shifts, bool useSsd, Volume& acc, Volume& weights) {
  const int hx = box.nx() / 2, hy = box.ny() / 2, hz = box.nz() / 2;
  for (int z = 0; z < v.nz(); ++z)
    for (int y = 0; y < v.ny(); ++y)
      for (int x = 0; x < v.nx(); ++x) {
        if (!(F(x, y, z) > 100.0f || G(x, y, z) > 100.0f)) continue;
        VoxelList voxels, boxVoxels;
        for (int zz = std::max(z - hz, 0); zz <= std::min(z + hz, v.nz() - 1); ++zz)
          for (int yy = std::max(y - hy, 0); yy <= std::min(y + hy, v.ny() - 1); ++yy)
            for (int xx = std::max(x - hx, 0); xx <= std::min(x + hx, v.nx() - 1); ++xx) {
              voxels.push_back({xx, yy, zz});
              boxVoxels.push_back({xx - x + hx, yy - y + hy, zz - z + hz});
            }
        std::vector<double> costs;
        for (float s : shifts) {
          warpLinearY(F, Am, v, voxels, box, boxVoxels, s, false);
          warpLinearY(G, Pm, v, voxels, box, boxVoxels, s, true);
          costs.push_back(useSsd ? ssdAt(F, G, voxels) : -nccAt(F, G, voxels));
        }
        size_t k = 0;
        for (size_t i = 1; i < costs.size(); ++i)
          if (costs[i] < costs[k]) k = i;
        weights(x, y, z) = 1.0f;
        acc(x, y, z) = acc(x, y, z) + shifts[k];
      }
}

}  // namespace daxo::testing
