#include "demodata/brainlayout.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "demodata/headlayout.h"

namespace daxo {

namespace {

constexpr double kCsfLayer = 2.5;      // CSF between the inner table and the brain (mm)
constexpr double kTentorialGap = 1.5;  // half the CSF and dura between cerebrum and cerebellum
constexpr double kBrainstemGap = 1.5;  // CSF between brainstem and cerebellum
constexpr double kSulcusHalfWidth = 0.7;
constexpr double kDeepestSulcus = 14.0;  // SulcalPattern: 10 +- 4 mm
constexpr double kFoliumFissureHalfWidth = 0.45;
constexpr double kFoliumFissureDepth = 8.0;
// Radians between cerebellar fissures (~5 mm at the surface); a whole number
// of them around the circle, so the pattern closes without a seam.
constexpr double kFoliumAngle = 6.283185307179586 / 37.0;

// Height of the tentorium (z, mm): a tent whose ridge runs back along the
// midline from the incisura, sloping down laterally and posteriorly.
double tentoriumHeight(double x, double y) {
  const double u = x / 32.0;
  return -38.0 + (18.0 - 0.25 * std::max(0.0, y - 25.0)) * std::exp(-0.5 * u * u);
}

// The posterior fossa: below the tentorium and behind the petrous ridges.
double posteriorFossaDistance(const Point3& q) {
  const double belowTent = belowSurface(tentoriumHeight, q);
  const double behindRidges = (petrousRidgeY(q.x) - q.y) / std::sqrt(1.25);
  return std::max(belowTent, behindRidges);
}

// The basal cisterns around the brainstem, which keep the temporal lobes apart.
constexpr Ellipsoid kCisterns{{0.0, 8.0, -42.0}, {15.0, 20.0, 22.0}};

// The corpus callosum's span at the midline: below z = 22 mm between
// y = -30 and 38 mm. The interhemispheric fissure, 3 mm wide, reaches down to
// it, and through the whole brain in front of and behind it.
double callosalBoxDistance(const Point3& q) { return std::max({q.z - 22.0, -30.0 - q.y, q.y - 38.0}); }
double interhemisphericDistance(const Point3& q) { return std::max(std::fabs(q.x) - 1.5, -callosalBoxDistance(q)); }
// The medial sulci end this far above the corpus callosum: the cingulate
// gyrus lies on it uncut.
constexpr double kCingulateHeight = 6.0;

// The Sylvian fissure: a 3 mm cleft between frontal and temporal lobe,
// rising backwards, from the lateral surface in to the insula at |x| = 31 mm.
double sylvianDistance(const Point3& q) {
  const double slope = 0.5;
  const double height = -24.0 + slope * (q.y + 28.0);
  const double sheet = std::fabs(q.z - height) / std::sqrt(1.0 + slope * slope) - 1.5;
  return std::max({sheet, 31.0 - std::fabs(q.x), q.y - 22.0, -28.0 - q.y});
}

constexpr TubeNode kBrainstem[] = {
    {{0.0, 6.0, -8.0}, 10.0},    // midbrain, rising into the diencephalon
    {{0.0, 10.0, -24.0}, 10.0},  // upper pons
    {{0.0, 10.0, -36.0}, 12.5},  // pons
    {{0.0, 14.0, -50.0}, 9.0},   // medulla
    {{0.0, 18.0, -70.0}, 7.5},   // through the foramen magnum
};

// Right lateral ventricle from the tip of the frontal horn to the occipital
// horn; the temporal horn branches off at the trigone. The left mirrors it.
constexpr TubeNode kLateralVentricle[] = {
    {{13.0, -34.0, 4.0}, 3.0}, {{6.0, -22.0, 9.0}, 4.5}, {{5.0, -5.0, 10.0}, 4.0},
    {{7.0, 12.0, 11.0}, 4.0},  {{16.0, 30.0, 6.0}, 5.0}, {{17.0, 48.0, 4.0}, 2.5},
};
constexpr TubeNode kTemporalHorn[] = {
    {{16.0, 30.0, 6.0}, 4.0},
    {{27.0, 22.0, -10.0}, 3.5},
    {{29.0, 0.0, -22.0}, 2.5},
    {{28.0, -12.0, -26.0}, 1.5},
};
constexpr Ellipsoid kThirdVentricle{{0.0, 6.0, -4.0}, {2.2, 12.0, 9.0}};
constexpr Ellipsoid kFourthVentricle{{0.0, 25.0, -40.0}, {6.0, 3.0, 7.0}};

struct DeepNucleus {
  Ellipsoid shape;  // right-hand one; the left mirrors it
  double greyShare;
};
constexpr DeepNucleus kDeepNuclei[] = {
    {{{12.0, -16.0, 9.0}, {4.5, 12.0, 8.0}}, 0.8},   // caudate head and body
    {{{24.0, -4.0, 0.0}, {5.0, 14.0, 9.0}}, 0.75},   // putamen
    {{{18.0, -2.0, -2.0}, {3.5, 8.0, 6.0}}, 0.5},    // globus pallidus
    {{{8.0, 12.0, -2.0}, {7.0, 13.0, 8.0}}, 0.6},    // thalamus
    {{{24.0, 5.0, -27.0}, {5.0, 14.0, 5.0}}, 0.85},  // hippocampus
};

}  // namespace

BrainLayout::BrainLayout() : sulci_(kInnerTable.shrunk(kCsfLayer)) {}

double BrainLayout::cerebrumDistance(const Point3& q, double intracranial, double margin) const {
  const double convexity = intracranial + kCsfLayer;
  if (convexity > margin) return convexity;
  const double medial = -interhemisphericDistance(q);
  double d = std::max({convexity, medial, kTentorialGap - posteriorFossaDistance(q), -kCisterns.signedDistance(q),
                       -sylvianDistance(q)});
  if (d > margin) return d;
  // A sulcus is the part of a sheet's neighbourhood that lies less deep than
  // the sulcal depth below the surface it cuts into. The surfaces towards
  // the tentorium and the cisterns stay smooth. Deeper than the deepest
  // sulcus plus the cortex and the margin nothing changes.
  const double reach = kDeepestSulcus + kCortexThickness + margin;
  const auto cut = [&](const SulcalPattern::Sample& s, double surface, double limit) {
    d = std::max(d, std::min({kSulcusHalfWidth - s.distance, s.depth + surface, limit}));
  };
  const double noLimit = 1e30;
  if (-convexity < reach) cut(sulci_.onConvexity(q), convexity, noLimit);
  if (-medial < reach) cut(sulci_.onMedialFace(q), medial, callosalBoxDistance(q) - kCingulateHeight);
  return d;
}

double BrainLayout::cerebellumDistance(const Point3& q, double intracranial, double brainstem, double margin) const {
  const double d =
      std::max({intracranial + kCsfLayer, posteriorFossaDistance(q) + kTentorialGap, kBrainstemGap - brainstem});
  if (d > margin || -d > kFoliumFissureDepth + kCerebellarCortexThickness + margin) return d;
  // The fissures between the folia fan out from the fourth ventricle in the
  // sagittal plane and run across, left to right.
  const double dy = q.y - 26.0, dz = q.z + 34.0;
  const double angle = std::atan2(dz, dy);
  const double offset = angle / kFoliumAngle - std::round(angle / kFoliumAngle);
  const double fissure = std::fabs(offset) * kFoliumAngle * std::sqrt(dy * dy + dz * dz);
  return std::max(d, std::min(kFoliumFissureHalfWidth - fissure, kFoliumFissureDepth + d));
}

double BrainLayout::brainstemDistance(const Point3& q) { return tubeDistance(kBrainstem, std::size(kBrainstem), q); }

double BrainLayout::ventricleDistance(const Point3& q) {
  const Point3 f = foldedX(q);
  return std::min({tubeDistance(kLateralVentricle, std::size(kLateralVentricle), f),
                   tubeDistance(kTemporalHorn, std::size(kTemporalHorn), f), kThirdVentricle.signedDistance(q),
                   kFourthVentricle.signedDistance(q)});
}

double BrainLayout::deepGreyShare(const Point3& q, double voxelMm) {
  const Point3 f = foldedX(q);
  double share = 0.0;
  for (const DeepNucleus& n : kDeepNuclei)
    share = std::max(share, n.greyShare * partialVolume(n.shape.signedDistance(f), voxelMm));
  return share;
}

}  // namespace daxo
