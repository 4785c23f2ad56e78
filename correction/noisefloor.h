#pragma once

#include "volume/volume.h"

// Magnitude scans carry a noise floor: where the signal is weak, the
// magnitude of the noise keeps the voxel's value above zero (Rician noise,
// mean square signal^2 + 2 sigma^2 for a deviation sigma per quadrature
// channel). The floor is added after the distortion, so it is spread
// evenly over the scan, not moved and compressed with the signal. Compared
// through their Jacobians, two scans of opposite phase encoding then differ
// by the floor times the difference of their stretches wherever the signal
// is weak, which pulls the estimated map flat at the dark edges of the head.

namespace daxo {

// The deviation of a scan's voxel noise, robustly: the median absolute
// response, over the voxels where `region` is nonzero, of the 3 x 3 in-plane
// filter (1 -2 1) x (1 -2 1), which cancels a linear ramp; its response to
// white noise of deviation s has deviation 6 s, whose median absolute value
// is 0.6745 of that. Fine texture counts as noise. 0 when no voxel of the
// region has all its in-plane neighbours. `region` has v's extents.
double highPassNoise(const Volume& v, const Volume& region);

// 1 where v, smoothed by a Gaussian of 1.5 voxels, exceeds `fraction` of its
// own 99th percentile (nearest rank), else 0: the head without the
// background.
Volume brightRegion(const Volume& v, double fraction);

// Each voxel as sqrt(max(v^2 - deviation^2, 0)), deviation in v's units;
// zeros and negative values become 0.
Volume withoutNoiseFloor(const Volume& v, double deviation);

}  // namespace daxo
