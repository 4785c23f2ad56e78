#pragma once

#include <cstdint>

// Settings of the built-in demo data: a synthetic head scanned twice with
// opposite phase-encoding directions along y.
//
// Axes and units used throughout this module:
// - Voxel coordinates (x, y, z) are continuous indices of the generated grid:
//   (0, 0, 0) is the centre of the first voxel. x runs left to right, y from
//   anterior (y = 0) to posterior, z from inferior (z = 0) to superior.
// - Anatomy is laid out in millimetres on a reference head made for a field of
//   view of 240 x 240 x 120 mm; a smaller field of view shrinks the whole head
//   uniformly (see GridFrame), so the anatomy always fills the grid alike.
// - Displacements are in voxels along y.

namespace daxo {

// The demo's displacement field (demodata/displacementfield.h): Standard, up
// to maxShiftVoxels with |dd/dy| at most 0.45; or Strong, up to
// maxShiftVoxels with |dd/dy| up to 0.85 behind the frontal sinus (a long
// readout at 3 T), whose scans are made by integrating the object over each
// voxel (demodata/distortedscan.h).
enum class DemoField { Standard, Strong };

struct DemoSettings {
  int32_t nx = 96;  // grid extents in voxels
  int32_t ny = 96;
  int32_t nz = 48;
  double voxelMm = 2.5;            // isotropic voxel edge (mm)
  uint64_t seed = 20240607;        // drives the texture and every noise sample
  double maxShiftVoxels = 5.0;     // requested peak |d| (voxels); lowered when needed so nothing folds
  double noiseSigma = 6.0;         // standard deviation of each of the two quadrature noise channels
  int32_t timePoints = 6;          // volumes of the functional series
  double activationPercent = 2.0;  // peak signal change of the activated grey matter in "on" blocks
  double bValue = 1000.0;          // diffusion weighting of the six directions (s/mm^2)
  DemoField field = DemoField::Standard;
};

// The settings with the strong field: a 7-voxel peak with |dd/dy| up to 0.85.
DemoSettings withStrongField(DemoSettings settings);

// The head at half size: 48 x 48 x 24 voxels of 2.5 mm (the reference head
// shrunk with the field of view), otherwise the defaults. For quick runs.
DemoSettings smallDemoSettings();

// Throws std::invalid_argument naming the first setting that is out of range:
// extents 1 .. 1024, voxel size > 0, shift, noise and b-value >= 0, activation
// between -50 and 50 per cent, at least one time point, everything finite.
void validateSettings(const DemoSettings& settings);

// Maps voxel coordinates of the grid to millimetres of the reference head.
class GridFrame {
 public:
  explicit GridFrame(const DemoSettings& settings);

  // Reference-head millimetres per voxel (the same on every axis).
  double mmPerVoxel() const { return mmPerVoxel_; }
  // The reference-head position of voxel coordinate (x, y, z).
  double refX(double x) const { return (x - cx_) * mmPerVoxel_; }
  double refY(double y) const { return (y - cy_) * mmPerVoxel_; }
  double refZ(double z) const { return (z - cz_) * mmPerVoxel_; }

 private:
  double cx_, cy_, cz_;
  double mmPerVoxel_;
};

}  // namespace daxo
