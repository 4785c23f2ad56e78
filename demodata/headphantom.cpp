#include "demodata/headphantom.h"

#include <algorithm>
#include <cmath>

#include "demodata/headlayout.h"

namespace daxo {

namespace {

double gaussian(const Point3& q, const Point3& c, const Point3& sigma) {
  const double ux = (q.x - c.x) / sigma.x, uy = (q.y - c.y) / sigma.y, uz = (q.z - c.z) / sigma.z;
  return std::exp(-0.5 * (ux * ux + uy * uy + uz * uz));
}

// Fibres run left-right in the callosal body, inferior-superior in the
// internal capsules and the brainstem, anterior-posterior elsewhere: a blend
// of the three.
void setFibreDirection(const Point3& q, TissueMix& m) {
  const double callosal = gaussian(q, {0.0, 5.0, 16.0}, {14.0, 30.0, 5.0});
  const double descending = std::max(gaussian(foldedX(q), {22.0, 6.0, -5.0}, {8.0, 12.0, 30.0}),
                                     gaussian(q, {0.0, 10.0, -40.0}, {10.0, 8.0, 25.0}));
  const double other = 0.35;
  const double norm = std::sqrt(callosal * callosal + descending * descending + other * other);
  m.fibreX = static_cast<float>(callosal / norm);
  m.fibreY = static_cast<float>(other / norm);
  m.fibreZ = static_cast<float>(descending / norm);
}

// Receive-coil shading: brighter towards the surface of the head (0.875 at
// the centre, 1.125 at the scalp), with a gentle front-back and top-bottom
// tilt (within 1 +- 0.08).
double coilShading(const Point3& q) {
  const double r = std::min(kHeadEllipsoid.normalisedRadius(q), 1.1);
  return (1.0 + 0.25 * (r * r - 0.5)) * (1.0 + 0.05 * q.y / 95.0 - 0.03 * q.z / 60.0);
}

// Texture: smooth noise at four scales (features of 4 .. 32 mm), the finer
// the stronger, together within 1 +- 0.28.
constexpr double kTextureCellMm[] = {4.0, 8.0, 16.0, 32.0};
constexpr double kTextureAmplitude[] = {0.09, 0.08, 0.06, 0.05};

// The activated cortex: occipital, ~18 mm wide.
constexpr Point3 kActivationCentre{0.0, 68.0, 0.0};
constexpr Point3 kActivationWidth{18.0, 18.0, 18.0};

}  // namespace

HeadPhantom::HeadPhantom(const DemoSettings& settings)
    : frame_(settings),
      brain_(),
      texture_{SmoothNoise(settings.seed, 1), SmoothNoise(settings.seed, 2), SmoothNoise(settings.seed, 3),
               SmoothNoise(settings.seed, 4)} {}

TissueMix HeadPhantom::mixAt(double x, double y, double z) const {
  return mixAtReference({frame_.refX(x), frame_.refY(y), frame_.refZ(z)});
}

double HeadPhantom::textureAt(const Point3& q) const {
  double t = 1.0;
  for (size_t i = 0; i < texture_.size(); ++i) {
    const double cell = kTextureCellMm[i];
    t += kTextureAmplitude[i] * texture_[i].at(q.x / cell, q.y / cell, q.z / cell);
  }
  return t;
}

HeadPhantom::Brain HeadPhantom::brainAt(const Point3& q, double intracranialDistance, double intracranial) const {
  Brain b;
  if (intracranial <= 0) return b;
  // Beyond half a voxel outside a surface nothing of the region shows; one
  // voxel leaves room for the first-order distances.
  const double margin = frame_.mmPerVoxel();
  const double stem = BrainLayout::brainstemDistance(q);
  const double cerebrum = brain_.cerebrumDistance(q, intracranialDistance, margin);
  const double cerebellum = brain_.cerebellumDistance(q, intracranialDistance, stem, margin);
  const double stemShare = inside(stem);
  b.brain = std::min({std::max({inside(cerebrum), inside(cerebellum), stemShare}), intracranial});
  if (b.brain <= 0) return b;
  // White matter lies deeper than the cortical ribbon.
  const double core = inside(cerebrum + BrainLayout::kCortexThickness);
  b.white = std::min({std::max({core, inside(cerebellum + BrainLayout::kCerebellarCortexThickness),
                                (1.0 - BrainLayout::kBrainstemGreyShare) * stemShare}),
                      b.brain});
  // The deep nuclei turn part of the white matter into grey.
  b.white -= std::min(BrainLayout::deepGreyShare(q, frame_.mmPerVoxel()) * core, b.white);
  b.grey = b.brain - b.white;
  // Ventricles take their share from both tissues alike.
  b.ventricles = std::min(inside(BrainLayout::ventricleDistance(q)), b.brain);
  const double keep = 1.0 - b.ventricles / b.brain;
  b.grey *= keep;
  b.white *= keep;
  return b;
}

bool HeadPhantom::fillTissues(const Point3& q, TissueMix& m) const {
  const double head = inside(headDistance(q));
  if (head <= 0) return false;
  // Nested regions, each clipped to the one around it so fractions never go negative.
  const double skullOuter = std::min(inside(skullOuterDistance(q)), head);
  const double intracranialDistanceMm = intracranialDistance(q);
  const double intracranial = std::min(inside(intracranialDistanceMm), skullOuter);
  const Brain brain = brainAt(q, intracranialDistanceMm, intracranial);
  const double softTissue = head - skullOuter;
  const double eye = std::min(inside(eyeDistance(q)), softTissue);
  const double air = inside(airCavityDistance(q));  // replaces bone and soft tissue

  m.head = static_cast<float>(head);
  m.intracranial = static_cast<float>(intracranial);
  m.scalp = static_cast<float>((softTissue - eye) * (1.0 - air));
  m.skull = static_cast<float>((skullOuter - intracranial) * (1.0 - air));
  m.csf = static_cast<float>(intracranial - brain.brain + brain.ventricles + eye);
  m.grey = static_cast<float>(brain.grey);
  m.white = static_cast<float>(brain.white);
  return true;
}

TissueMix HeadPhantom::mixAtReference(const Point3& q) const {
  TissueMix m;
  if (!fillTissues(q, m)) return m;  // air around the head: no texture or fibres needed
  m.texture = static_cast<float>(textureAt(q) * coilShading(q));
  m.activation = static_cast<float>(gaussian(q, kActivationCentre, kActivationWidth));
  setFibreDirection(q, m);
  return m;
}

}  // namespace daxo
