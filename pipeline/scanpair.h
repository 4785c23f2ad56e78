#pragma once

#include <array>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "correction/pairestimation.h"
#include "correction/pairmotion.h"
#include "fileio/nifti/bidssidecar.h"
#include "pipeline/phasecheck.h"
#include "volume/volume.h"

// The estimation of a pair held in memory (voxel axes i, j, k as a Volume's
// x, y, z), and the correction of a series with a map: what the NIfTI jobs
// and the Python module share, so that both give the same map bit for bit.

namespace daxo::pipeline {

// One scan of a pair: the volume to estimate from, with its voxel size (mm
// along i, j, k) and phase-encoding direction.
struct ScanVolume {
  Volume volume;
  std::array<double, 3> voxelSize{1.0, 1.0, 1.0};
  PhaseEncodingDirection phaseEncoding;
  std::string name;  // for messages: the file, or "img0"
};

// Refuses, with std::invalid_argument naming both scans, a pair that is not
// encoded along one axis in opposite directions, is encoded along k, lies on
// two grids, has voxel sizes that are not positive and finite, or a scan
// without a finite value other than 0.
void checkScanPair(const ScanVolume& first, const ScanVolume& second);

struct ScanPairEstimate {
  Volume map;  // displacement of the first scan in voxels along its phase-encoding axis, its own frame
  // The second scan moved into the first scan's space, when motion was found.
  std::optional<Volume> movedSecond;
  // The second scan's motion relative to the first, along i, j, k (the shift
  // along the phase-encoding axis is in the map); none when it was not
  // estimated or none was counted.
  std::optional<RigidMotion> motion;
  PhaseCheckVerdict check;
};

// Estimates the map of a pair that passed checkScanPair with `options`
// (with `motion`, the variational method also estimates the rigid motion
// between the scans) and runs the phase-encoding check, logging to `log`.
// Throws std::runtime_error when no map comes out; a failed check is left to
// the caller. The classic method needs the FFT functions bound (bindFft).
ScanPairEstimate estimateScanPair(const ScanVolume& first, const ScanVolume& second, const EstimationOptions& options,
                                  bool motion, std::ostream& log);

// The correction of the volumes of one series with a displacement map (in
// voxels along the series' own phase-encoding axis, on its grid), volume by
// volume, threads shared by the volumes.
class SeriesCorrection {
 public:
  // `jacobian`: each corrected volume multiplied by the Jacobian of the
  // correction (1 + dmap/dphase). `motion` (along i, j, k, with the series'
  // voxel size in mm): each volume is first moved into the first scan's space
  // of the pair, its distortion kept along its own phase-encoding axis.
  // Throws std::invalid_argument for encoding along k.
  SeriesCorrection(const Volume& map, const PhaseEncodingDirection& pe, bool jacobian,
                   const std::optional<RigidMotion>& motion = std::nullopt,
                   const std::array<double, 3>& voxelSize = {1.0, 1.0, 1.0}, int threads = 0);
  ~SeriesCorrection();
  SeriesCorrection(const SeriesCorrection&) = delete;
  SeriesCorrection& operator=(const SeriesCorrection&) = delete;

  // The corrected volume; std::invalid_argument for other extents than the map's.
  Volume correct(const Volume& volume);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace daxo::pipeline
