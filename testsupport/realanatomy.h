#pragma once

#include <string>
#include <vector>

#include "correction/pairmotion.h"
#include "demodata/truthpair.h"
#include "volume/volume.h"

// Truth pairs with real anatomy and real fields, made from the real scans kept
// beside the project (../shared/data, or the folder the environment variable
// DAXO_SHARED_DATA_DIR names), for the tests and the benchmarks. Everything
// is empty when the scans are absent.
//
// The objects: volume 0 (b = 0) of the xa30 pair, both scans unwarped with
// the reference field of ../shared/data/reference, multiplied by their
// Jacobians and averaged; and volume 0 of the canon AP scan as it is. The
// fields: the reference field (a real estimate, in voxels of the xa30 scans),
// shaped by demodata/anatomypair.h's shapedField to peaks of 4 voxels (little
// smoothing: the fine structure near the sinuses stays) and 7 voxels (slopes up
// to 0.8), mirrored left-right for canon. The noise: the real pairs' own,
// measured from their diffusion-weighted volumes through the reference field
// (xa30) or the estimator's map of the b = 0 pair (canon), as
// demodata/anatomypair.h's pairNoise does (9.5 for both, in the scans'
// units); the background either zeroed as the scanner wrote it or full of
// noise.

namespace daxo::testing {

struct RealAnatomyCase {
  std::string name;
  TruthPair pair;
  double steepest = 0;  // the field's steepest |dd/dy|
};

// The folder of the real scans.
std::string sharedDataFolder();

struct RealAnatomyOptions {
  bool large = true;        // also the two cases resampled to 100 x 100 x 60 voxels of 2 mm
  double noiseScale = 1.0;  // times the measured noise (0: noiseless pairs)
  double fieldScale = 1.0;  // times each case's field (0: undistorted pairs)
  RigidMotion motion;       // of the head between the first and the second scan
};

// The reference field of ../shared/data/reference as the displacement of the
// xa30 AP scan (volume 0 of bids/sub-xa30's dir-AP run), in voxels; empty
// without the scans.
Volume referenceDisplacement();

// The named cases, in a fixed order. Empty without the scans.
std::vector<RealAnatomyCase> realAnatomyCases(const RealAnatomyOptions& options = {});

}  // namespace daxo::testing
