#pragma once

#include <cmath>

#include "demodata/shapes.h"

// The outer layers of the reference head, as signed distances in reference
// millimetres (negative inside): scalp, skull with the skull base, the face
// below the anterior skull base with the eyes, and the air cavities of the
// sinuses and mastoids. The head is about 150 x 190 mm across and centred
// near the origin; everything is symmetric in x.

namespace daxo {

// The cranium's outer contour; also the frame of the coil shading.
inline constexpr Ellipsoid kHeadEllipsoid{{0.0, 5.0, -8.0}, {74.0, 94.0, 62.0}};
// Scalp and skull thickness (mm); the skull is as thick under the skull base.
inline constexpr double kScalpThickness = 6.0;
inline constexpr double kSkullThickness = 7.0;
// The inner table of the skull (the cranial cavity above the skull base).
inline constexpr Ellipsoid kInnerTable = kHeadEllipsoid.shrunk(kScalpThickness + kSkullThickness);

// Where the middle fossa ends behind and the posterior fossa begins (the
// petrous ridges): y = 20 + |x| / 2 mm.
inline double petrousRidgeY(double x) { return 20.0 + 0.5 * std::fabs(x); }

// The outer surface of the head: cranium and face.
double headDistance(const Point3& q);

// The outer surface of the bone: the cranium's outer table, and below the
// skull base the plate of bone under the cranial cavity. Below that plate
// lies the soft tissue of the face and neck (scalp tissue).
double skullOuterDistance(const Point3& q);

// The cranial cavity: inside the inner table and above the skull base, which
// steps from the anterior fossa (under the frontal lobes, above the orbits)
// down to the middle fossa (under the temporal lobes) and opens into the
// posterior fossa (cerebellum).
double intracranialDistance(const Point3& q);

// The two eyes (fluid, bright like CSF) in the orbits below the anterior fossa.
double eyeDistance(const Point3& q);

// Air: frontal, ethmoid and sphenoid sinuses, the nasal cavity and the mastoid
// air cells. Air replaces bone and soft tissue only.
double airCavityDistance(const Point3& q);

}  // namespace daxo
