#pragma once

#include <cstdint>
#include <vector>

#include "demodata/demosettings.h"
#include "demodata/headphantom.h"
#include "demodata/signalmodel.h"
#include "volume/volume.h"

namespace daxo {

class DisplacementField;

// Which of the two opposite phase-encoding directions a scan was taken with:
// the object point at row y appears at row y + sign * d(x, y, z), sign = +1
// for the first scan and -1 for the second.
enum class PhaseDirection : int { First = 1, Second = -1 };

// One simulated echo-planar acquisition of the demo head. Voxel (x, y', z)
// of a scan shows the object at (x, y, z), where y solves
// y + sign * d(x, y, z) = y' (found per column to 1e-9 voxels; y -> y + sign * d
// is monotone because |dd/dy| <= 0.45), times the intensity factor
// 1 / (1 + sign * dd/dy(x, y, z)) by which stretching dims and compression
// brightens the signal, plus Rician noise. Correcting a scan by sampling it
// at (x, y + sign * d(x, y, z), z) therefore returns the object up to that
// factor: the map an estimator returns for the first scan should equal d.
//
// With the strong field (DemoField::Strong) a voxel instead holds the object
// integrated over the rows that land in it, [y(y' - 1/2), y(y' + 1/2)]
// (midpoint rule, at least two samples per voxel and two per source row),
// so that the steep compression does not alias.
//
// The construction does the expensive work (the inversion and the object
// evaluated at every source position) once; every contrast after that costs
// one pass over the voxels.
class DistortedAcquisition {
 public:
  // Throws std::invalid_argument for invalid settings or a direction other
  // than First or Second.
  DistortedAcquisition(const DemoSettings& settings, PhaseDirection direction);

  // One volume of the grid's extents. noiseKey selects an independent noise
  // sample; the same settings, direction, contrast and key give the same bytes.
  Volume scan(const Contrast& contrast, uint64_t noiseKey) const;

  // settings.timePoints volumes with functionalContrast(t), noise keys
  // kFunctionalNoiseKey + t.
  std::vector<Volume> functionalSeries() const;
  // One volume per row of diffusionGradients(settings), noise keys
  // kDiffusionNoiseKey + row.
  std::vector<Volume> diffusionSeries() const;

  static constexpr uint64_t kFunctionalNoiseKey = 1000000;
  static constexpr uint64_t kDiffusionNoiseKey = 2000000;

 private:
  void integrateVoxels(const HeadPhantom& phantom, const DisplacementField& field, double sign);
  Volume integratedScan(const SignalModel& signal, uint64_t noiseKey) const;

  DemoSettings settings_;
  PhaseDirection direction_;
  std::vector<TissueMix> mix_;         // the object at each voxel's source position (integrated: at its samples)
  std::vector<float> factor_;          // 1 / (1 + sign * dd/dy) there (integrated: source length / samples)
  std::vector<uint32_t> firstSample_;  // integrated: voxel i's samples are [firstSample_[i], firstSample_[i + 1])
};

// A single scan volume; shorthand for DistortedAcquisition(...).scan(...).
Volume distortedScan(const DemoSettings& settings, PhaseDirection direction, const Contrast& contrast = Contrast{},
                     uint64_t noiseKey = 0);

}  // namespace daxo
