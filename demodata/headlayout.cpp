#include "demodata/headlayout.h"

#include <algorithm>
#include <cmath>

namespace daxo {

namespace {

// The face below the forehead, holding orbits, nose and sinuses.
constexpr Ellipsoid kFace{{0.0, -45.0, -62.0}, {62.0, 44.0, 32.0}};
constexpr Ellipsoid kSkullOuter = kHeadEllipsoid.shrunk(kScalpThickness);

// The skull base as two blocks of bone and face under the cranial cavity:
// the anterior block under the frontal lobes (its top the cribriform plate
// and the orbital roofs, ending behind at the sphenoid ridge) and the middle
// block under the temporal lobes and the sella (ending behind at the petrous
// ridges and, at the midline, at the clivus, behind which the brainstem
// runs down). Behind those the inner table alone bounds the posterior fossa.
// Each block is an intersection of half-spaces, so the largest of their
// distances is its signed distance (exact but near the block's edges, where
// it underestimates a little).
constexpr double kSphenoidRidgeY = -24.0;

// Signed distance to the region below a floor that is flat at height `inner`
// up to |x| = x0, then ramps linearly to height `outer` at |x| = x1 and stays
// there: an intersection or union of three half-spaces, so exact but near
// the two bends.
double belowFloor(const Point3& q, double inner, double outer, double x0, double x1) {
  const double ax = std::fabs(q.x);
  const double slope = (outer - inner) / (x1 - x0);
  const double ramp = (q.z - (inner + slope * (ax - x0))) / std::sqrt(1.0 + slope * slope);
  // Falling floor: below both the inner level and the ramp, or below the outer level.
  if (outer < inner) return std::min(std::max(q.z - inner, ramp), q.z - outer);
  // Rising floor: below the outer level and below either the inner level or the ramp.
  return std::max(q.z - outer, std::min(q.z - inner, ramp));
}

// The clivus: the back of the middle block within 12 mm of the midline,
// sloping backwards from y = -8 mm at the sella's level to y = 4.6 mm at z = -60 mm.
constexpr double kClivusHalfWidth = 12.0;
constexpr double kClivusSlope = 0.45;  // mm backwards per mm down
double clivusY(double z) { return -8.0 + kClivusSlope * (-32.0 - z); }

double skullBaseDistance(const Point3& q) {
  // Anterior block: top at -31 mm in the narrow olfactory groove at the
  // midline, rising to -26 mm over the orbits.
  const double anterior = std::max(belowFloor(q, -31.0, -26.0, 4.0, 10.0), q.y - kSphenoidRidgeY);
  // Middle block: top at -32 mm over the sella, falling to -50 mm under the
  // temporal lobes.
  const double behindClivus =
      std::max(std::fabs(q.x) - kClivusHalfWidth, (clivusY(q.z) - q.y) / std::sqrt(1.0 + kClivusSlope * kClivusSlope));
  const double middle =
      std::max({belowFloor(q, -32.0, -50.0, 8.0, 22.0), (q.y - petrousRidgeY(q.x)) / std::sqrt(1.25), -behindClivus});
  return std::min(anterior, middle);
}

constexpr Ellipsoid kEye{{31.0, -56.0, -44.0}, {11.5, 11.5, 11.5}};  // right eye; the left mirrors it

constexpr Ellipsoid kMidlineAir[] = {
    {{0.0, -76.0, -26.0}, {13.0, 5.0, 9.0}},   // frontal sinus
    {{0.0, -56.0, -42.0}, {8.0, 14.0, 10.0}},  // ethmoid cells between the orbits
    {{0.0, -30.0, -53.0}, {13.0, 11.0, 8.0}},  // sphenoid sinus under the sella
    {{0.0, -62.0, -60.0}, {10.0, 20.0, 8.0}},  // nasal cavity
};
constexpr Ellipsoid kMastoid{{52.0, 22.0, -50.0}, {9.0, 10.0, 8.0}};  // right; the left mirrors it

}  // namespace

double headDistance(const Point3& q) { return std::min(kHeadEllipsoid.signedDistance(q), kFace.signedDistance(q)); }

double skullOuterDistance(const Point3& q) {
  // Under the cranial cavity the bone is the skull base's top layer.
  return std::max(kSkullOuter.signedDistance(q), -(skullBaseDistance(q) + kSkullThickness));
}

double intracranialDistance(const Point3& q) { return std::max(kInnerTable.signedDistance(q), -skullBaseDistance(q)); }

double eyeDistance(const Point3& q) { return kEye.signedDistance(foldedX(q)); }

double airCavityDistance(const Point3& q) {
  double d = kMastoid.signedDistance(foldedX(q));
  for (const Ellipsoid& e : kMidlineAir) d = std::min(d, e.signedDistance(q));
  return d;
}

}  // namespace daxo
