#pragma once

#include <array>

#include "demodata/shapes.h"

namespace daxo {

// The folding of the cerebral cortex: where the sulci run and how deep they
// reach. The sulcal sheets are the zero set of a sum of plane waves of 15 to
// 18 mm wavelength with fixed random directions (a band-limited random field,
// whose zero set meanders like the gyri of a real brain instead of forming a
// grid), read on a surface so that the sheets cut across the cortex: on the
// convexity the field is read on the brain's envelope near where the ray from
// its centre through q meets it, on the medial faces of the hemispheres on the
// mid-sagittal plane. Reference-head millimetres throughout; fixed anatomy,
// independent of any seed.
class SulcalPattern {
 public:
  explicit SulcalPattern(const Ellipsoid& envelope);

  struct Sample {
    // From q to the nearest sulcal sheet (mm, >= 0): a first-order estimate,
    // exact at the sheets, too small where the field's gradient is weak (the
    // sulci widen there), with a slope below 2.5 wherever it is under 5 mm.
    double distance;
    double depth;  // how far the sulci reach below the brain surface there (6 .. 14 mm)
  };
  // Sulci of the convexity: under the skull and over the skull base.
  Sample onConvexity(const Point3& q) const;
  // Sulci of the medial faces along the interhemispheric fissure.
  Sample onMedialFace(const Point3& q) const;

 private:
  struct Wave {
    double kx, ky, kz, phase;  // wave vector (radians per mm) and phase
  };
  // The distance from p (where the field is read) to the zero set along the
  // surface of the given unit normal, divided by `scale` (the pattern's
  // magnification at p over the point asked for), and the depth there.
  Sample sheetAt(const Point3& p, const Point3& normal, double scale) const;

  Ellipsoid envelope_;
  std::array<Wave, 12> waves_;
  Wave depthWave_;
  double gradientFloor2_;  // squared floor under the tangential gradient (per mm^2)
};

}  // namespace daxo
