#pragma once

#include "volume/volume.h"

// How well the two scans of a pair agree: the figure the quality report, the
// demo and the phase-encoding check share.

namespace daxo {

// Pearson correlation of a and b over the masked voxels (in double
// precision). Throws std::invalid_argument on differing extents or an empty
// mask; NaN when either volume is constant inside the mask.
double maskedCorrelation(const Volume& a, const Volume& b, const Volume& mask);

// The head in a pair of scans: 1 where the mean of the two exceeds a tenth
// of the mean's 99th percentile (nearest rank) over its positive finite
// voxels, 0 elsewhere (everywhere for scans without signal). Throws
// std::invalid_argument for scans of different extents.
Volume pairHeadMask(const Volume& a, const Volume& b);

}  // namespace daxo
