#pragma once

#include <ostream>

#include "correction/variationalproblem.h"
#include "volume/volume.h"

// The variational estimator of the displacement map of a scan pair taken with
// opposite phase-encoding directions (y the phase-encoding axis). It models
// the pair physically: with d the displacement of the first scan on the
// undistorted grid (the first scan shows the point of row y at row y + d, the
// second at y - d), both scans unwarped and multiplied by their Jacobians
// agree, I1(y + d)(1 + dd/dy) = I2(y - d)(1 - dd/dy). It minimises the
// squared difference of the two plus a curvature regulariser and a barrier
// that keeps 1 +- dd/dy positive (correction/variationalproblem.h), coarse to
// fine from a zero field, by Gauss-Newton with preconditioned conjugate
// gradients.

namespace daxo {

struct VariationalSettings {
  // Cost weights for intensities scaled so that the 99th percentile of
  // max(I1, I2) is 1 and displacements in voxels of the finest grid; the
  // weights of second differences are divided by 4 per coarser level and that
  // of third differences by 16, which keeps the continuous cost the same on
  // every level.
  VariationalWeights weights;
  int levels = 3;                 // grids of ceil(n / 2) per coarser level (an axis under 8 cells is kept)
  int coarseIterations = 20;      // Gauss-Newton iterations per coarse level
  int fineIterations = 15;        // ... on the finest
  int cgIterations = 30;          // conjugate-gradient iterations per Gauss-Newton step
  double cgTolerance = 0.1;       // relative residual that ends them on coarse levels
  double fineCgTolerance = 0.05;  // ... on the finest
  // A level has converged when a step lowers the cost by less than this
  // fraction of it (or moves no face by 0.001 voxel).
  double costTolerance = 1e-3;
  // Compare the scans without their noise floor (correction/noisefloor.h):
  // each voxel v becomes sqrt(max(v^2 - s^2, 0)), s the scan's noise
  // deviation: the lesser of the two scans' deviations measured inside the
  // head relative to their means, times this scan's mean.
  bool removeNoiseFloor = true;
  int threads = 0;  // 0: threadCount() decides; the result does not depend on it
  // A start on the finest grid instead of the coarse-to-fine schedule from a
  // zero field: the first scan's map in voxels at the voxel centres, of the
  // scans' extents (null: none).
  const Volume* initial = nullptr;
};

// The map of the first scan in voxels along y, at the voxel centres; the
// second scan's map is its negative. Each scan loses its noise floor (see
// removeNoiseFloor) and is divided by its mean (the distortion moves signal
// but keeps its sum, so this removes a global intensity difference between
// the scans), then both by the 99th percentile of their voxel-wise maximum. Swapping the scans gives exactly the
// negative map, and the result is the same for every thread count.
//
// Logs the weights, the noise deviations removed (when removeNoiseFloor),
// then one entry per level (grid, cost before and after,
// Gauss-Newton and conjugate-gradient iterations, seconds, and whether the
// iteration cap rather than convergence ended it) and a closing time to `log`
// (may be null). Throws std::invalid_argument for scans of different or
// empty extents, or holding non-finite values, or a start map of other
// extents, before anything is logged.
Volume estimateVariational(const Volume& first, const Volume& second, const VariationalSettings& settings,
                           std::ostream* log);

}  // namespace daxo
