#include "demodata/demosettings.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace daxo {

namespace {

// Field of view of the reference head (mm).
constexpr double kReferenceFovX = 240.0;
constexpr double kReferenceFovY = 240.0;
constexpr double kReferenceFovZ = 120.0;
constexpr int32_t kMaxExtent = 1024;

void require(bool ok, const std::string& what) {
  if (!ok) throw std::invalid_argument("demo data settings: " + what);
}

}  // namespace

DemoSettings smallDemoSettings() {
  DemoSettings s;
  s.nx = 48;
  s.ny = 48;
  s.nz = 24;
  return s;
}

DemoSettings withStrongField(DemoSettings settings) {
  settings.field = DemoField::Strong;
  settings.maxShiftVoxels = 7.0;
  return settings;
}

void validateSettings(const DemoSettings& s) {
  require(s.nx >= 1 && s.nx <= kMaxExtent, "nx must lie in 1 .. 1024, got " + std::to_string(s.nx));
  require(s.ny >= 1 && s.ny <= kMaxExtent, "ny must lie in 1 .. 1024, got " + std::to_string(s.ny));
  require(s.nz >= 1 && s.nz <= kMaxExtent, "nz must lie in 1 .. 1024, got " + std::to_string(s.nz));
  require(std::isfinite(s.voxelMm) && s.voxelMm > 0, "voxel size must be a positive number of mm");
  require(std::isfinite(s.maxShiftVoxels) && s.maxShiftVoxels >= 0, "maximum shift must be finite and >= 0");
  require(std::isfinite(s.noiseSigma) && s.noiseSigma >= 0, "noise sigma must be finite and >= 0");
  require(s.timePoints >= 1, "at least one time point is needed, got " + std::to_string(s.timePoints));
  require(std::isfinite(s.activationPercent) && std::fabs(s.activationPercent) <= 50,
          "activation must lie between -50 and 50 per cent");
  require(std::isfinite(s.bValue) && s.bValue >= 0, "b-value must be finite and >= 0");
}

GridFrame::GridFrame(const DemoSettings& s) : cx_((s.nx - 1) * 0.5), cy_((s.ny - 1) * 0.5), cz_((s.nz - 1) * 0.5) {
  validateSettings(s);
  // The head shrinks uniformly until the reference field of view fits the
  // tightest axis of the grid's own field of view.
  const double scale = std::min(
      {s.nx * s.voxelMm / kReferenceFovX, s.ny * s.voxelMm / kReferenceFovY, s.nz * s.voxelMm / kReferenceFovZ});
  mmPerVoxel_ = s.voxelMm / scale;
}

}  // namespace daxo
