#pragma once

#include <cstdint>
#include <ostream>

#include "volume/columnthreads.h"
#include "volume/matrix.h"
#include "volume/vector.h"
#include "volume/volume.h"
#include "volume/volumegauss.h"

// Column-wise first estimate of the displacement map of a scan pair taken with
// opposite phase-encoding directions (y is the phase-encoding axis). Every
// column (fixed x and z) is registered on its own with a scale a and a shift b
// (see correction/columnfit.h); the result holds, per voxel, the column's
// displacement in voxels along y, to be applied with +v to the first scan and
// -v to the second. Module "vdmestimate"'s full estimation starts from it; on
// its own, smoothed, it is the fast estimate.

namespace daxo {

// The ny values vol(row, y, slice), y = 0 .. ny-1. Only the upper bounds of
// row and slice are checked.
Vector extractColumn(const Volume& vol, int32_t row, int32_t slice);

// Writes vol(row, y, slice) = vec[y] for every y. vec must have ny values.
// Only the upper bounds of row and slice are checked.
void insertColumn(const Vector& vec, Volume& vol, int32_t row, int32_t slice);

// Inverse of a 2 x 2 matrix, (1 / (s p - r q)) * [[s, -r], [-q, p]]; a
// singular matrix gives infinities or NaNs.
Matrix invert2x2(const Matrix& mat);

// The column-wise estimate. sigma: the Gaussian deviations (voxels, x, y, z)
// of the filtered scans; order: the derivative order of the filter on every
// axis (1 or 2, anything else plain smoothing). Columns whose filtered maximum
// is 100 or less in either scan are not fitted and stay 0. Writes three log
// entries: the sigma, the mean SSD of the unfiltered scans, and the mean SSD
// of the scans corrected (trilinear) with the result. The scans must have
// equal dimensions (checked before anything is computed or logged). Allocates
// its working buffers once per call. The columns are fitted across `threads`
// (null: the calling thread only); the result does not depend on it.
Volume estimateColumnWise(const Volume& vol_ap, const Volume& vol_pa, const Sigma3& sigma, std::ostream* log, int order,
                          ColumnThreads* threads = nullptr);

}  // namespace daxo
