#include "demodata/headphantom.h"

#include <algorithm>
#include <cmath>

#include "demodata/random.h"

namespace daxo {

namespace {

constexpr double kTwoPi = 6.283185307179586;

// An axis-aligned ellipsoid of the reference head (mm).
struct Ellipsoid {
  double cx, cy, cz;  // centre
  double ax, ay, az;  // semi-axes

  // First-order signed distance to the surface (negative inside), exact for
  // a sphere and close to the truth near the surface of an ellipsoid, which
  // is all the partial-volume edge needs.
  double signedDistance(double qx, double qy, double qz) const {
    const double ux = (qx - cx) / ax, uy = (qy - cy) / ay, uz = (qz - cz) / az;
    const double r = std::sqrt(ux * ux + uy * uy + uz * uz);
    const double gx = ux / ax, gy = uy / ay, gz = uz / az;
    const double g = std::sqrt(gx * gx + gy * gy + gz * gz);
    if (g < 1e-12) return -std::min({ax, ay, az});
    return (r - 1.0) * r / g;
  }

  Ellipsoid shrunk(double t) const { return {cx, cy, cz, ax - t, ay - t, az - t}; }
};

double gaussian(double qx, double qy, double qz, double cx, double cy, double cz, double sx, double sy, double sz) {
  const double ux = (qx - cx) / sx, uy = (qy - cy) / sy, uz = (qz - cz) / sz;
  return std::exp(-0.5 * (ux * ux + uy * uy + uz * uz));
}

// Reference-head anatomy (mm; x left to right, y anterior to posterior, z
// inferior to superior). Layer thicknesses: scalp 6, skull 7, CSF 3.
const Ellipsoid kHead{0.0, 5.0, -8.0, 74.0, 94.0, 62.0};
const Ellipsoid kSkullOuter = kHead.shrunk(6.0);
const Ellipsoid kSkullInner = kHead.shrunk(13.0);
const Ellipsoid kBrain = kHead.shrunk(16.0);
const Ellipsoid kWhite = kBrain.shrunk(6.0);  // before the cortical folding
const Ellipsoid kVentricleLeft{-10.0, 2.0, 2.0, 6.0, 24.0, 9.0};
const Ellipsoid kVentricleRight{10.0, 2.0, 2.0, 6.0, 24.0, 9.0};
const Ellipsoid kThalamusLeft{-10.0, 14.0, -8.0, 9.0, 13.0, 9.0};
const Ellipsoid kThalamusRight{10.0, 14.0, -8.0, 9.0, 13.0, 9.0};
const Ellipsoid kFrontalSinus{0.0, -76.0, -30.0, 15.0, 8.0, 10.0};
constexpr double kFissureHalfWidth = 1.5;  // interhemispheric fissure, above kFissureFloor
constexpr double kFissureFloor = 19.0;
constexpr double kFoldDepth = 2.5;        // the grey-white boundary moves +- this much
constexpr double kSulcusHalfWidth = 0.9;  // CSF-filled sulci, reaching this deep below the brain surface:
constexpr double kSulcusDepth = 9.0;
constexpr double kSulcusPeriod = 34.0;  // mm per period of the sulcal pattern
constexpr double kSulcusLining = 3.0;   // white matter keeps this far back from a sulcus

// Positive where the cortex is thicker: a smooth gyral pattern of ~30 mm.
double foldOffset(double qx, double qy, double qz) {
  return kFoldDepth * std::sin(0.21 * qx + 0.3) * std::sin(0.19 * qy + 1.1) * std::sin(0.23 * qz + 0.7);
}

// Approximate distance (mm) to the sulcal surfaces: the zero set of a gyroid,
// a single winding labyrinth, so the sulci meander instead of forming a grid.
double sulcusDistance(double qx, double qy, double qz) {
  const double k = kTwoPi / kSulcusPeriod;
  const double a = k * qx + 0.4, b = k * qy + 1.3, c = k * qz + 2.1;
  const double sa = std::sin(a), ca = std::cos(a), sb = std::sin(b), cb = std::cos(b), sc = std::sin(c),
               cc = std::cos(c);
  const double g = sa * cb + sb * cc + sc * ca;
  const double gx = k * (ca * cb - sc * sa), gy = k * (cb * cc - sa * sb), gz = k * (cc * ca - sb * sc);
  const double gradient = std::sqrt(gx * gx + gy * gy + gz * gz);
  return std::fabs(g) / std::max(gradient, 1e-6);
}

// Fibres run left-right in the callosal body, inferior-superior in the two
// descending tracts, anterior-posterior elsewhere: a blend of the three.
void setFibreDirection(double qx, double qy, double qz, TissueMix& m) {
  const double callosal = gaussian(qx, qy, qz, 0.0, 5.0, 14.0, 14.0, 30.0, 5.0);
  const double descending = gaussian(std::fabs(qx), qy, qz, 22.0, 10.0, -5.0, 8.0, 12.0, 30.0);
  const double other = 0.35;
  const double norm = std::sqrt(callosal * callosal + descending * descending + other * other);
  m.fibreX = static_cast<float>(callosal / norm);
  m.fibreY = static_cast<float>(other / norm);
  m.fibreZ = static_cast<float>(descending / norm);
}

// A smooth receive-coil shading, within 1 +- 0.08 over the head.
double coilShading(double qy, double qz) { return 1.0 + 0.05 * qy / 95.0 - 0.03 * qz / 60.0; }

}  // namespace

HeadPhantom::HeadPhantom(const DemoSettings& settings)
    : frame_(settings), edgeVoxelsPerMm_(1.0 / frame_.mmPerVoxel()), waves_() {
  // Texture: six plane waves of 14 .. 36 mm wavelength, random direction and
  // phase, each contributing at most 1 %.
  Pcg32 rng(settings.seed, 1);
  for (Wave& w : waves_) {
    const double wavelength = rng.nextUniform(14.0, 36.0);
    const double cosTheta = rng.nextUniform(-1.0, 1.0);
    const double phi = rng.nextUniform(0.0, kTwoPi);
    const double sinTheta = std::sqrt(1.0 - cosTheta * cosTheta);
    const double k = kTwoPi / wavelength;
    w = {k * sinTheta * std::cos(phi), k * sinTheta * std::sin(phi), k * cosTheta, rng.nextUniform(0.0, kTwoPi)};
  }
}

TissueMix HeadPhantom::mixAt(double x, double y, double z) const {
  return mixAtReference(frame_.refX(x), frame_.refY(y), frame_.refZ(z));
}

double HeadPhantom::textureAt(double qx, double qy, double qz) const {
  double t = 1.0;
  for (const Wave& w : waves_) t += 0.01 * std::cos(w.kx * qx + w.ky * qy + w.kz * qz + w.phase);
  return t;
}

double HeadPhantom::inside(double distanceMm) const {
  const double t = std::clamp(0.5 - distanceMm * edgeVoxelsPerMm_, 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

bool HeadPhantom::fillTissues(double qx, double qy, double qz, TissueMix& m) const {
  const auto in = [&](const Ellipsoid& e) { return inside(e.signedDistance(qx, qy, qz)); };
  const double head = in(kHead);
  if (head <= 0) return false;
  // Nested regions, each clipped to the one around it so fractions never go negative.
  const double skullOuter = std::min(in(kSkullOuter), head);
  const double intracranial = std::min(in(kSkullInner), skullOuter);
  const double fissure = inside(std::fabs(qx) - kFissureHalfWidth) * inside(kFissureFloor - qz);
  const double brainDistance = kBrain.signedDistance(qx, qy, qz);
  const double sulcus = sulcusDistance(qx, qy, qz);
  const double sulci = inside(sulcus - kSulcusHalfWidth) * inside(-kSulcusDepth - brainDistance);
  const double brain = std::min(inside(brainDistance) * (1.0 - fissure) * (1.0 - sulci), intracranial);
  const double whiteDistance = kWhite.signedDistance(qx, qy, qz) + foldOffset(qx, qy, qz) +
                               kSulcusLining * std::exp(-0.5 * (sulcus / kSulcusLining) * (sulcus / kSulcusLining));
  const double core = std::min(inside(whiteDistance), brain);  // white matter with what lies inside it
  const double ventricles = std::min(std::max(in(kVentricleLeft), in(kVentricleRight)), core);
  const double thalami = std::min(std::max(in(kThalamusLeft), in(kThalamusRight)), core - ventricles);
  const double air = in(kFrontalSinus);  // carves the frontal bone, its scalp and the CSF behind it

  m.head = static_cast<float>(head);
  m.intracranial = static_cast<float>(intracranial);
  m.scalp = static_cast<float>((head - skullOuter) * (1.0 - air));
  m.skull = static_cast<float>((skullOuter - intracranial) * (1.0 - air));
  m.csf = static_cast<float>((intracranial - brain) * (1.0 - air) + ventricles);
  m.grey = static_cast<float>(brain - core + thalami);
  m.white = static_cast<float>(core - ventricles - thalami);
  return true;
}

TissueMix HeadPhantom::mixAtReference(double qx, double qy, double qz) const {
  TissueMix m;
  if (!fillTissues(qx, qy, qz, m)) return m;  // air around the head: no texture or fibres needed
  m.texture = static_cast<float>(textureAt(qx, qy, qz) * coilShading(qy, qz));
  // The activated cortex: occipital, ~18 mm wide.
  m.activation = static_cast<float>(gaussian(qx, qy, qz, 0.0, 68.0, 0.0, 18.0, 18.0, 18.0));
  setFibreDirection(qx, qy, qz, m);
  return m;
}

}  // namespace daxo
