#include "demodata/sulcalpattern.h"

#include <cmath>

#include "demodata/random.h"

namespace daxo {

namespace {

constexpr double kTwoPi = 6.283185307179586;
// The pattern is part of the anatomy, the same for every data set.
constexpr uint64_t kAnatomySeed = 0x5eed0fc0a7e3ull;
// Wavelengths (mm) of the waves: a line along the surface meets a sulcus
// every 10 to 15 mm.
constexpr double kShortestWavelength = 15.0;
constexpr double kLongestWavelength = 18.0;
constexpr double kDepthWavelength = 70.0;
constexpr double kMeanDepth = 10.0;  // sulcal depth below the surface: 10 +- 4 mm
constexpr double kDepthSpread = 4.0;
// How far the point where the field is read moves back from the envelope
// towards q (0: the sheets run straight to the centre).
constexpr double kLean = 0.35;

}  // namespace

SulcalPattern::SulcalPattern(const Ellipsoid& envelope)
    : envelope_(envelope), waves_(), depthWave_(), gradientFloor2_(0) {
  Pcg32 rng(kAnatomySeed, 2);
  const auto drawWave = [&](double wavelength) {
    const double cosTheta = rng.nextUniform(-1.0, 1.0);
    const double phi = rng.nextUniform(0.0, kTwoPi);
    const double sinTheta = std::sqrt(1.0 - cosTheta * cosTheta);
    const double k = kTwoPi / wavelength;
    return Wave{k * sinTheta * std::cos(phi), k * sinTheta * std::sin(phi), k * cosTheta, rng.nextUniform(0.0, kTwoPi)};
  };
  double meanK2 = 0;
  for (Wave& w : waves_) {
    w = drawWave(rng.nextUniform(kShortestWavelength, kLongestWavelength));
    meanK2 += (w.kx * w.kx + w.ky * w.ky + w.kz * w.kz) / waves_.size();
  }
  depthWave_ = drawWave(kDepthWavelength);
  // The field's gradient along a surface has mean square (2 / 3) * (n / 2) *
  // mean k^2 for n unit waves; its floor is the root of that.
  gradientFloor2_ = (2.0 / 3.0) * 0.5 * static_cast<double>(waves_.size()) * meanK2;
}

SulcalPattern::Sample SulcalPattern::sheetAt(const Point3& p, const Point3& normal, double scale) const {
  double f = 0, gx = 0, gy = 0, gz = 0;
  for (const Wave& w : waves_) {
    const double angle = w.kx * p.x + w.ky * p.y + w.kz * p.z + w.phase;
    const double s = std::sin(angle);
    f += std::cos(angle);
    gx -= s * w.kx;
    gy -= s * w.ky;
    gz -= s * w.kz;
  }
  // Only the gradient along the surface moves the zero set across it.
  const double along = gx * normal.x + gy * normal.y + gz * normal.z;
  gx -= along * normal.x;
  gy -= along * normal.y;
  gz -= along * normal.z;
  const double tangential2 = gx * gx + gy * gy + gz * gz;
  // First-order distance to the zero set where the field is read, scaled
  // back to the point asked for. Where the gradient is weak (near the
  // crossings of sheets) |f| / |grad f| would change faster than the
  // distance can; the floor under the gradient keeps the estimate's slope
  // near 1, widening the sulci a little there instead.
  const double distance = std::fabs(f) / std::sqrt(tangential2 + gradientFloor2_) / scale;
  const double depth = kMeanDepth + kDepthSpread * std::cos(depthWave_.kx * p.x + depthWave_.ky * p.y +
                                                            depthWave_.kz * p.z + depthWave_.phase);
  return {distance, depth};
}

SulcalPattern::Sample SulcalPattern::onConvexity(const Point3& q) const {
  const Point3& c = envelope_.centre;
  const Point3& a = envelope_.semiAxes;
  const double r = envelope_.normalisedRadius(q);
  if (r < 1e-6) return {1e30, kMeanDepth};
  // The point of the envelope on the ray from the centre through q, moved
  // part of the way back to q: the sheets then lean and bend a little
  // instead of running straight to the centre. The pattern narrows along
  // the rays by the factor toSurface.
  const double toSurface = (1.0 - kLean) / r + kLean;
  const Point3 p{c.x + (q.x - c.x) * toSurface, c.y + (q.y - c.y) * toSurface, c.z + (q.z - c.z) * toSurface};
  Point3 n{(p.x - c.x) / (a.x * a.x), (p.y - c.y) / (a.y * a.y), (p.z - c.z) / (a.z * a.z)};
  const double norm = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
  n = {n.x / norm, n.y / norm, n.z / norm};
  return sheetAt(p, n, toSurface);
}

SulcalPattern::Sample SulcalPattern::onMedialFace(const Point3& q) const {
  // Read on the mid-sagittal plane: sheets at right angles to the medial
  // faces. Shifted by half the envelope's width so the medial pattern does
  // not repeat the convexity's.
  return sheetAt({envelope_.semiAxes.x * 0.5, q.y, q.z}, {1.0, 0.0, 0.0}, 1.0);
}

}  // namespace daxo
