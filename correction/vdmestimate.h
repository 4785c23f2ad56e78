#pragma once

#include <array>
#include <ostream>
#include <vector>

#include "correction/bspline.h"
#include "volume/vector.h"
#include "volume/volume.h"
#include "volume/volumegauss.h"

// Coarse-to-fine estimation of the voxel displacement map (VDM) of a scan pair
// taken with opposite phase-encoding directions (y is the phase-encoding
// axis). The map v holds displacements in voxels along y; it corrects the
// first scan when applied with +v and the second with -v (correction/vdm.h).

namespace daxo {

// The scans as the estimation compares them: Am = vol_ap; Pm = vol_pa,
// resampled under the rigid motion h (6 parameters, extent in mm per axis)
// when `motion` is set; with `use_ic` both are then modulated in intensity by
// the derivative of the inverse of v (modulateIntensities). Am and Pm are
// replaced.
void prepareScans(Volume& Am, Volume& Pm, const Volume& vol_ap, const Volume& vol_pa, const Float3& extent,
                  const Volume& v, const Vector& h, bool use_ic, bool motion);

// Estimates the map of the pair, starting from the column-wise estimate
// (estimateColumnWise with columnSigma and order) smoothed with sigma 1.5, then
// refining it in one stage per entry of localbox: every voxel brighter than
// 100 in either warped scan tries the shifts s_values[stage] inside the box
// localbox[stage] around it (see correction/localsweep.h), the refined map is
// smoothed with deviations vdm_smoothing[stage] (voxels), weighting searched
// voxels 1 and the others 0.25, and repaired where it folds. The cost is the
// mean SSD (use_ssd) or the correlation of the warped scans, which are
// modulated in intensity when use_ic is set. With `motion` the second scan is
// registered rigidly to the first before every stage from the second on;
// voxelSize (mm, x, y, z) serves only that. Box extents must be odd; a stage
// without shifts searches nothing.
//
// Progress goes to `log` (may be null), one entry per line. When the cost of
// the smoothed start is NaN the map is returned without local optimisation
// and with -99 in its first voxel. Throws std::logic_error (module
// "vdmestimate") for scans of different dimensions or schedule lists of
// different lengths, and std::invalid_argument for a box with an even or
// non-positive extent, before anything is computed or logged.
//
// `threads` is passed to threadCount (volume/columnthreads.h); the map does
// not depend on it, bit for bit.
Volume estimateVdm(const Volume& vol_ap, const Volume& vol_pa, const std::array<double, 3>& voxelSize,
                   const Sigma3& columnSigma, bool use_ssd, const std::vector<Volume>& localbox,
                   const std::vector<std::vector<float>>& s_values, const std::vector<Sigma3>& vdm_smoothing,
                   bool use_ic, bool motion, std::ostream* log, int order, int threads = 0);

}  // namespace daxo
