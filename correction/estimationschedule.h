#pragma once

#include <array>
#include <vector>

#include "volume/volume.h"
#include "volume/volumegauss.h"

// The fixed coarse-to-fine schedule of the displacement-map estimation and the
// filter width of its column-wise start, derived from the voxel size.

namespace daxo {

// Per stage: the box whose values scale the trial shift (odd extents), the
// trial shifts in voxels (tried in list order) and the Gaussian deviations
// (voxels, x, y, z) of the smoothing after the stage.
struct EstimationSchedule {
  std::vector<Volume> localBoxes;
  std::vector<std::vector<float>> shifts;
  std::vector<Sigma3> smoothing;
};

// The four stages for voxels of dx x dy x dz mm (y the phase-encoding axis):
//   1: 7^3 box of ones, shifts 0.5 i for i = -10, -8, .., 10, smoothing 20 / sqrt(d)
//   2: 7^3 box of ones, shifts 0.4 i for i = -6, -4, .., 6,   smoothing 12 / sqrt(d)
//   3: 5^3 box of ones, shifts 0.3 i for i = -5, .., 5,       smoothing  6 / sqrt(d)
//   4: 5^3 box of ones, shifts 0.15 i for i = -5, .., 5,      smoothing  2 / sqrt(d)
// Each shift is float(i) times the float constant; the deviations are doubles.
EstimationSchedule standardSchedule(const std::array<double, 3>& voxelSize);

// The column-wise start's filter: (0.5, 4 / dy, 0.5) voxels.
Sigma3 standardColumnSigma(const std::array<double, 3>& voxelSize);

}  // namespace daxo
