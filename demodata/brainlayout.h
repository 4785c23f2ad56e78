#pragma once

#include "demodata/shapes.h"
#include "demodata/sulcalpattern.h"

// The brain of the reference head as signed distances in reference
// millimetres (negative inside). The cerebrum fills the cranial cavity above
// the tentorium, 2.5 mm inside the skull's inner table (the CSF between them),
// split by the interhemispheric and the Sylvian fissures and cut by sulci;
// the cerebellum fills the posterior fossa below the tentorium; the
// brainstem runs down the midline between them, in a CSF-filled cistern.
// The cortex is the outer ribbon of both, so it follows every fold and
// fissure; deeper lies white matter with the ventricles and the deep grey
// nuclei. Symmetric in x except for the sulcal pattern.

namespace daxo {

class BrainLayout {
 public:
  BrainLayout();

  static constexpr double kCortexThickness = 2.6;            // mm, cerebrum
  static constexpr double kCerebellarCortexThickness = 3.0;  // mm
  static constexpr double kBrainstemGreyShare = 0.35;        // grey matter nuclei within the brainstem

  // The cerebrum's surface, sulci included. `intracranial` is
  // intracranialDistance(q). The folding is only worked out near the surface:
  // where the result lies more than `margin` mm outside, or more than `margin`
  // inside the white matter (deeper than kCortexThickness + margin), it may
  // be any value beyond that bound on the same side.
  double cerebrumDistance(const Point3& q, double intracranial, double margin) const;

  // The cerebellum's surface with its folia, under the same terms; `brainstem`
  // is brainstemDistance(q).
  double cerebellumDistance(const Point3& q, double intracranial, double brainstem, double margin) const;

  static double brainstemDistance(const Point3& q);

  // Lateral ventricles (frontal, occipital and temporal horns), third and
  // fourth ventricle.
  static double ventricleDistance(const Point3& q);

  // The share of grey matter that the deep nuclei (caudate, putamen, pallidum,
  // thalamus, hippocampus) give the white matter at q, with partial volumes
  // over voxels of voxelMm: 0 outside them, 0.5 .. 0.85 inside.
  static double deepGreyShare(const Point3& q, double voxelMm);

 private:
  SulcalPattern sulci_;
};

}  // namespace daxo
