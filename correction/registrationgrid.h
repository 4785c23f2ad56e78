#pragma once

#include <vector>

#include "correction/bspline.h"
#include "volume/volume.h"

// Sample points of the rigid registration, in centred physical units (mm):
// with s = extent / n per axis, voxel i lies at i * s + (s - extent) / 2 and
// the volume's centre at 0.

namespace daxo {

// mm per voxel along each axis: extent / n, single precision.
Float3 voxelSizeOf(const Dimensions& dims, const Float3& extent);

// The points of a grid.x * grid.y * grid.z grid spanning the field of view
// `extent`, z outermost, then y, then x. Point k of an axis with g points and
// extent a lies at k * a / g + (a / g - a) / 2 (single precision, evaluated
// left to right), so the grid is centred on 0. A grid with the dimensions of
// a volume gives that volume's voxel centres in storage order. A grid with no
// point on some axis (a count <= 0) is empty.
std::vector<Float3> centredGrid(const Dimensions& grid, const Float3& extent);

// The sample mask of a fixed volume: 1 where fixed > 75, smoothed (padding on)
// with sigma 3 / s voxels per axis (s = extent / n, mm per voxel, so the sigma
// is 3 mm), then 1 where the smoothed value > 0.1 and 0 elsewhere. Same
// dimensions as `fixed`. Uses the bound FFT functions.
Volume registrationMask(const Volume& fixed, const Float3& extent);

// The points at which the trilinear sample of `mask` (extent `extent`, the
// points converted to its voxel units) is not 0, in their order.
std::vector<Float3> pointsInsideMask(const std::vector<Float3>& points, const Volume& mask, const Float3& extent);

}  // namespace daxo
