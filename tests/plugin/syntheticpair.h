#pragma once

#include "volume/volume.h"

// A pair of scans of one object taken with opposite phase-encoding
// directions along y, made from a known displacement, for running the
// estimation on small volumes.

namespace daxo::testing {

struct SyntheticPair {
  Volume first;   // the object point at row y shown at row y + d, intensity / (1 + dd/dy)
  Volume second;  // shown at row y - d, intensity / (1 - dd/dy)
  Volume truth;   // d at the voxel centres: the map that corrects `first` (and, negated, `second`)
  Volume mask;    // 1 where the undistorted object exceeds 300, else 0
};

// A bright ellipsoid filling most of the volume (200 to 1000 inside, 0
// outside) with ripples along every axis, and a smooth displacement of at
// most `amplitude` voxels whose slope along y is at most 2.5 * amplitude / ny
// (it must stay below 1, or the scans fold).
SyntheticPair syntheticPair(const Dimensions& d, double amplitude);

}  // namespace daxo::testing
