#pragma once

#include <array>
#include <ostream>
#include <vector>

#include "correction/bspline.h"
#include "correction/estimationschedule.h"
#include "volume/vector.h"
#include "volume/volume.h"
#include "volume/volumegauss.h"

// Coarse-to-fine estimation of the voxel displacement map (VDM) of a scan pair
// taken with opposite phase-encoding directions (y is the phase-encoding
// axis). The map v holds displacements in voxels along y; it corrects the
// first scan when applied with +v and the second with -v (correction/vdm.h).

namespace daxo {

// How prepareScans makes the scans the estimation compares.
struct ScanPreparation {
  bool useIc = false;   // modulate both in intensity by the derivative of the map's inverse
  bool motion = false;  // resample the second scan under the rigid motion h
  Vector h;             // the motion's 6 parameters (correction/rigidmotion.h)
  Float3 extent{};      // the field of view in mm per axis, about whose centre h turns
};

// The scans as the estimation compares them: Am = vol_ap; Pm = vol_pa,
// resampled under the rigid motion when `how.motion` is set; with
// `how.useIc` both are then modulated in intensity by the derivative of the
// inverse of v (modulateIntensities). Am and Pm are replaced.
void prepareScans(Volume& Am, Volume& Pm, const Volume& vol_ap, const Volume& vol_pa, const Volume& v,
                  const ScanPreparation& how);

// The settings of the classic estimation.
struct VdmEstimateSettings {
  std::array<double, 3> voxelSize{1.0, 1.0, 1.0};  // mm (x, y, z); serves the motion correction only
  Sigma3 columnSigma{};                            // of the column-wise start's filter (voxels)
  int order = 0;                                   // derivative order of that filter
  // The stages: box, trial shifts and smoothing of each; the three lists
  // have one entry per stage.
  EstimationSchedule schedule;
  bool useSsd = false;  // the cost: the mean squared difference, else the correlation
  bool useIc = false;   // the scans modulated in intensity by the map's derivative
  bool motion = false;  // the second scan registered rigidly to the first before each stage from the second on
  // Passed to threadCount (volume/columnthreads.h); the map does not depend
  // on it, bit for bit.
  int threads = 0;
};

// The dialog's schedule and column-wise filter for voxels of `voxelSize` mm
// (standardSchedule, standardColumnSigma), with the other settings at their
// defaults.
VdmEstimateSettings standardVdmSettings(const std::array<double, 3>& voxelSize);

// What the value kNotANumberMarker in the first voxel of a map says: its
// estimation stopped on not-a-number costs. The dialog's estimate task reads
// it so; callers in this code test VdmEstimate::stoppedOnNotANumber.
constexpr float kNotANumberMarker = -99.0f;

struct VdmEstimate {
  Volume map;
  // The cost of the smoothed start was not a number: the map is that start,
  // not optimised, with kNotANumberMarker in its first voxel.
  bool stoppedOnNotANumber = false;
};

// Estimates the map of the pair, starting from the column-wise estimate
// (estimateColumnWise with columnSigma and order) smoothed with sigma 1.5, then
// refining it in one stage per entry of the schedule: every voxel brighter
// than 100 in either warped scan tries the stage's shifts inside its box
// around it (see correction/localsweep.h), the refined map is smoothed with
// the stage's deviations (voxels), weighting searched voxels 1 and the others
// 0.25, and repaired where it folds. The cost is the mean SSD (useSsd) or the
// correlation of the warped scans, which are modulated in intensity when
// useIc is set. With `motion` the second scan is registered rigidly to the
// first before every stage from the second on. Box extents must be odd; a
// stage without shifts searches nothing.
//
// Progress goes to `log` (may be null), one entry per line. When the cost of
// the smoothed start is NaN the map is returned without local optimisation
// (stoppedOnNotANumber). Throws std::logic_error (module "vdmestimate") for
// scans of different dimensions or schedule lists of different lengths, and
// std::invalid_argument for a box with an even or non-positive extent, before
// anything is computed or logged.
VdmEstimate estimateVdm(const Volume& vol_ap, const Volume& vol_pa, const VdmEstimateSettings& settings,
                        std::ostream* log);

}  // namespace daxo
