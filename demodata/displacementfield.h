#pragma once

#include <array>

#include "demodata/demosettings.h"
#include "volume/volume.h"

namespace daxo {

// The off-resonance displacement d(x, y, z) of the demo head, in voxels along
// y, as an analytic field with its analytic derivative along y. Positive d
// moves signal towards larger y in the first scan. It is a sum of smooth
// blobs: the strongest below and behind the frontal sinus (anterior,
// inferior), two over the temporal lobes (lateral, inferior) and a weak
// opposite one high at the back. Arguments are voxel coordinates of the grid.
//
// The peak |d| is the requested maximum shift, lowered when needed so that
// |dd/dy| never exceeds 0.45 (beyond 1 the scans would fold). The strong
// field narrows the frontal blob along y to 12.5 mm and allows |dd/dy| up to
// 0.85. The field does not depend on the seed.
class DisplacementField {
 public:
  explicit DisplacementField(const DemoSettings& settings);

  // Peak |d| over all space (voxels).
  double amplitude() const { return amplitude_; }
  // The bound on |dd/dy| that the amplitude keeps to: kMaxSlope for the
  // standard field, kMaxStrongSlope for the strong one.
  static constexpr double kMaxSlope = 0.45;
  static constexpr double kMaxStrongSlope = 0.85;

  double at(double x, double y, double z) const;
  // dd/dy in voxels per voxel.
  double derivativeY(double x, double y, double z) const;

  // The field along one column (fixed x, z), for repeated evaluation at many y.
  class Column {
   public:
    double at(double y) const;
    // d and dd/dy at y together.
    void atWithDerivative(double y, double& d, double& dddy) const;

   private:
    friend class DisplacementField;
    std::array<double, 4> weight_{};  // blob weight times its x and z factors (voxels)
    std::array<double, 4> centre_{};  // blob centre along y (voxels)
    std::array<double, 4> inverseSigma_{};
  };
  Column column(double x, double z) const;

 private:
  GridFrame frame_;
  bool strong_;
  double amplitude_;
};

// d sampled at the voxel centres of the grid (voxels).
Volume trueDisplacement(const DemoSettings& settings);

}  // namespace daxo
