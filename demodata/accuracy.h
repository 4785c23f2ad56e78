#pragma once

#include <cstddef>

#include "correction/pairagreement.h"
#include "volume/volume.h"

// Figures for the demo's report: how close an estimated displacement map is
// to the truth, and how alike two volumes are, inside a mask (voxels whose
// mask value is nonzero).

namespace daxo {

struct DisplacementError {
  double rms = 0;           // sqrt(mean of (v - d)^2), voxels
  double percentile95 = 0;  // 95th percentile of |v - d| (nearest rank), voxels
  size_t voxels = 0;        // voxels inside the mask
};

// Compares an estimate v with the true map d. Throws std::invalid_argument
// when the three volumes differ in extents or the mask selects no voxel.
// Non-finite differences count as infinitely wrong: they make the RMS
// infinite and fill the top of the ranking.
DisplacementError displacementError(const Volume& v, const Volume& d, const Volume& mask);


}  // namespace daxo
