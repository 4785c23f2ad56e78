#pragma once

#include "volume/vector.h"
#include "volume/volume.h"

// Distance measures between two volumes (or two vectors). All functions are
// pure. SSD-type measures form each difference in single precision and square
// and sum it in double; the correlations accumulate their five sums in single
// precision and evaluate the final formula in single precision. Whole-volume
// sums run in storage order, list measures in list order.

namespace daxo {

// Sum over all voxels of (a - b)^2. a and b must have equal dimensions.
double ssd(const Volume& a, const Volume& b);

// ssd(a, b) divided by a's voxel count (NaN for empty volumes).
double meanSsd(const Volume& a, const Volume& b);

// Normalised cross-correlation (Pearson coefficient) over all voxels. A
// constant input gives NaN or an infinity; no exception is raised.
double ncc(const Volume& a, const Volume& b);

// Sum of (a - b)^2 over the listed voxels; 0 for an empty list. The listed
// coordinates must lie inside the volumes (not checked).
double ssdAt(const Volume& a, const Volume& b, const VoxelList& voxels);

// Correlation over the listed voxels; NaN for an empty list.
double nccAt(const Volume& a, const Volume& b, const VoxelList& voxels);

// Mean of (u - v)^2 over the indices where neither u nor v is exactly 0 (a NaN
// entry counts as non-zero); 0 when no index qualifies.
double meanSquaredDifferenceNonZero(const Vector& u, const Vector& v);

}  // namespace daxo
