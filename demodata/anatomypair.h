#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "correction/pairmotion.h"
#include "demodata/truthpair.h"
#include "volume/separablegauss.h"
#include "volume/volume.h"

// Truth pairs from a real anatomy and a real field: an undistorted object (a
// real b = 0 image) is distorted by a known displacement with the
// voxel-integrating (mass-conserving) forward model of demodata/truthpair.h,
// in both phase-encoding directions, and noise is added as a scanner's
// magnitude images hold it. The synthetic heads are smoother and cleaner than
// real anatomy; these pairs measure an estimator on what users give it.
//
// Coordinates are voxel indices; y is the phase-encoding axis; displacements
// are in voxels along y. Volumes passed together share their extents.

namespace daxo {

// The volume resampled onto `extents` voxels of `toMm`, the two grids
// sharing their centre (voxel sizes `fromMm` of the source), by trilinear
// interpolation; points outside the source take its edge value.
Volume resampledCentred(const Volume& v, const std::array<double, 3>& fromMm, const Dimensions& extents,
                        const std::array<double, 3>& toMm);

// The same resampling by the interpolating cubic B-spline of `v`
// (correction/bspline.h), for fields: a trilinear one puts kinks into a
// smooth field at the source grid's planes, which no real field has.
Volume resampledCentredCubic(const Volume& v, const std::array<double, 3>& fromMm, const Dimensions& extents,
                             const std::array<double, 3>& toMm);

// A displacement for a truth pair from a real estimate: smoothed by the
// smallest sigma in steps of 0.25 voxel from `minSigma` on for which, scaled so
// that its largest |value| inside `head` (nonzero voxels) is `peak`, its
// steepest |dd/dy| anywhere is at most `maxSlope`; then so scaled. Little
// smoothing keeps the fine structure near sinuses and ear canals.
struct ShapedField {
  Volume displacement;
  double sigma = 0;     // the smoothing used, voxels
  double steepest = 0;  // its steepest |dd/dy| (central differences)
};
ShapedField shapedField(const Volume& estimate, const Volume& head, double peak, double maxSlope,
                        double minSigma = 0.5);

struct AnatomyPairRecipe {
  // Noise deviation per quadrature channel, in the object's units (Rician
  // magnitude noise, as magnitude images hold it).
  double noise = 0;
  // As many scanners do, set the background to exact zeros: voxels of a
  // distorted scan outside its own head region (where the noiseless scan,
  // smoothed by 2 voxels, is below 5 % of its 99th percentile) become 0 after
  // the noise is added. Otherwise the noise stays everywhere.
  bool zeroBackground = false;
  uint64_t seed = 20261208;
};

// The pair of `object` distorted by `displacement` (the first scan shows the
// point of row y at row y + d, the second at y - d). The object's density
// along y is the linear interpolation of its voxel values (zero past the
// ends), as is the displacement (its end values held); |dd/dy| must stay
// below 1. `head` (nonzero voxels) marks the object; the pair's mask is the
// head eroded by a voxel where y +- d stays inside the field of view.
TruthPair makeAnatomyPair(const Volume& object, const Volume& displacement, const Volume& head,
                          const AnatomyPairRecipe& recipe);

// The same pair with the head moved between the scans: a head point p of the
// first scan lies at motion(p) in the second (correction/pairmotion.h), and
// the field moves with the head. The second scan is the moved object
// distorted by the moved field along its own y. The truth, the mask and the
// first scan are those of makeAnatomyPair.
TruthPair makeMovedAnatomyPair(const Volume& object, const Volume& displacement, const Volume& head,
                               const std::array<double, 3>& voxelMm, const RigidMotion& motion,
                               const AnatomyPairRecipe& recipe);

// The scan unwarped by `displacement` (negated when `negate`; cubic
// interpolation along y, correction/vdm.h's warpCubic) and multiplied by its
// Jacobian 1 +- dd/dy.
Volume unwarpedScan(const Volume& scan, const Volume& displacement, bool negate);

// The deviation per voxel of the independent noise of two runs of a real
// pair, in the scans' units. A high-pass filter on one scan counts the
// anatomy's fine texture as noise (on a real b = 0 scan of 3 mm voxels it
// reads three times the deviation found here), so the noise is taken from
// the pair: each volume t of the two runs (first[t], second[t]: one contrast,
// opposite phase encoding) unwarped by `displacement` (voxels, that of the
// first run), the robust deviation (median absolute deviation) of their
// half-difference inside `head` (nonzero voxels) eroded by two voxels, over
// what the same unwarping leaves of white noise of deviation 1. The least over
// the volumes: an error of the map or motion between the runs only adds to
// the measure, least where the signal is dim (diffusion-weighted volumes).
// 0 without volumes.
double pairNoise(const std::vector<Volume>& first, const std::vector<Volume>& second, const Volume& displacement,
                 const Volume& head);

}  // namespace daxo
