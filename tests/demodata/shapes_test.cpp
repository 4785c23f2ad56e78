#include "demodata/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "demodata/random.h"

namespace daxo {
namespace {

constexpr double kPi = 3.141592653589793;

double length(const Point3& a, const Point3& b) {
  return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

// Distance from q to the ellipsoid's surface by brute force: the closest of
// points spread over the surface every ~1 mm, refined around the best one.
double bruteForceSurfaceDistance(const Ellipsoid& e, const Point3& q) {
  const auto surface = [&](double theta, double phi) {
    return Point3{e.centre.x + e.semiAxes.x * std::sin(theta) * std::cos(phi),
                  e.centre.y + e.semiAxes.y * std::sin(theta) * std::sin(phi),
                  e.centre.z + e.semiAxes.z * std::cos(theta)};
  };
  double best = 1e30, bestTheta = 0, bestPhi = 0;
  for (int i = 0; i <= 200; ++i) {
    for (int j = 0; j < 400; ++j) {
      const double theta = kPi * i / 200, phi = 2 * kPi * j / 400;
      const double d = length(surface(theta, phi), q);
      if (d < best) best = d, bestTheta = theta, bestPhi = phi;
    }
  }
  for (double step = kPi / 200; step > 1e-8; step *= 0.5) {
    for (bool moved = true; moved;) {
      moved = false;
      const double theta = bestTheta, phi = bestPhi;
      for (double dt : {-step, step}) {
        for (double dp : {-step, 0.0, step}) {
          const double d = length(surface(theta + dt, phi + dp), q);
          if (d < best) best = d, bestTheta = theta + dt, bestPhi = phi + dp, moved = true;
        }
      }
      for (double dp : {-step, step}) {
        const double d = length(surface(theta, phi + dp), q);
        if (d < best) best = d, bestTheta = theta, bestPhi = phi + dp, moved = true;
      }
    }
  }
  return best;
}

TEST(Ellipsoid, SignedDistanceIsExactForASphereAndCloseNearAnEllipsoid) {
  const Ellipsoid sphere{{1, 2, 3}, {10, 10, 10}};
  EXPECT_NEAR(sphere.signedDistance({1, 2, 3}), -10.0, 1e-12);
  EXPECT_NEAR(sphere.signedDistance({1, 2, 18}), 5.0, 1e-12);
  EXPECT_NEAR(sphere.signedDistance({1 + 6, 2 + 0, 3}), -4.0, 1e-12);
  EXPECT_NEAR(sphere.normalisedRadius({1, 2, 8}), 0.5, 1e-12);

  // Within 2 mm of the surface of an elongated ellipsoid (like the skull's),
  // the first-order distance errs by a few hundredths of a millimetre.
  const Ellipsoid e{{0, 5, -8}, {61, 81, 49}};
  Pcg32 rng(11, 0);
  for (int i = 0; i < 12; ++i) {
    const double theta = rng.nextUniform(0.1, kPi - 0.1), phi = rng.nextUniform(0, 2 * kPi);
    const double offset = rng.nextUniform(-2, 2);
    const Point3 s{e.semiAxes.x * std::sin(theta) * std::cos(phi), e.semiAxes.y * std::sin(theta) * std::sin(phi),
                   e.semiAxes.z * std::cos(theta)};
    // Move along the outward normal by `offset`.
    Point3 n{s.x / (e.semiAxes.x * e.semiAxes.x), s.y / (e.semiAxes.y * e.semiAxes.y),
             s.z / (e.semiAxes.z * e.semiAxes.z)};
    const double norm = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    const Point3 q{e.centre.x + s.x + offset * n.x / norm, e.centre.y + s.y + offset * n.y / norm,
                   e.centre.z + s.z + offset * n.z / norm};
    const double truth = bruteForceSurfaceDistance(e, q);
    EXPECT_NEAR(e.signedDistance(q), offset < 0 ? -truth : truth, 0.05) << i;
  }
}

// Signed distance to the union of the balls swept along the polyline (radius
// interpolated along each segment), by sampling the axis finely.
double bruteForceTubeDistance(const TubeNode* nodes, size_t count, const Point3& q) {
  double best = 1e30;
  for (size_t i = 0; i + 1 < count; ++i) {
    for (int k = 0; k <= 20000; ++k) {
      const double t = k / 20000.0;
      const Point3& a = nodes[i].at;
      const Point3& b = nodes[i + 1].at;
      const Point3 p{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z)};
      best = std::min(best, length(p, q) - (nodes[i].radius + t * (nodes[i + 1].radius - nodes[i].radius)));
    }
  }
  return best;
}

TEST(TubeDistance, MatchesTheSweptBallsExactlyWithoutTaperAndClosely) {
  // A bent chain of two segments of constant radius.
  const TubeNode straight[] = {{{0, 0, 0}, 3}, {{10, 0, 0}, 3}, {{10, 12, 5}, 3}};
  // A tapered segment: 3 mm down to 1 mm over 11 mm.
  const TubeNode tapered[] = {{{10, 12, 5}, 3}, {{2, 20, 5}, 1}};
  Pcg32 rng(12, 0);
  for (int i = 0; i < 40; ++i) {
    const Point3 q{rng.nextUniform(-5, 15), rng.nextUniform(-5, 25), rng.nextUniform(-5, 10)};
    // The sampled axis point lies within 1e-3 mm of the true nearest one.
    EXPECT_NEAR(tubeDistance(straight, 3, q), bruteForceTubeDistance(straight, 3, q), 2e-3);
    // With a taper m (radius change per length) the nearest axis point's
    // radius is used instead of the best one along the axis: too large by at
    // most the distance to the axis times 1 - sqrt(1 - m^2) (1.6 % here).
    const double reference = bruteForceTubeDistance(tapered, 2, q);
    const double result = tubeDistance(tapered, 2, q);
    const double m = 2.0 / std::hypot(8.0, 8.0), toAxis = result + 3.0;
    EXPECT_GE(result, reference - 2e-3);
    EXPECT_LE(result, reference + 2e-3 + toAxis * (1 - std::sqrt(1 - m * m)));
  }
  EXPECT_NEAR(tubeDistance(straight, 3, {5, 0, 0}), -3.0, 1e-12);  // on the axis
  EXPECT_NEAR(tubeDistance(straight, 3, {-4, 0, 0}), 1.0, 1e-12);  // beyond the first end cap
}

TEST(PartialVolume, RisesOverOneVoxelAroundTheSurface) {
  for (double voxel : {2.5, 5.0}) {
    EXPECT_EQ(partialVolume(-voxel / 2, voxel), 1.0);
    EXPECT_EQ(partialVolume(-10 * voxel, voxel), 1.0);
    EXPECT_EQ(partialVolume(voxel / 2, voxel), 0.0);
    EXPECT_EQ(partialVolume(10 * voxel, voxel), 0.0);
    EXPECT_NEAR(partialVolume(0, voxel), 0.5, 1e-15);
    // Symmetric about the surface and falling throughout.
    double previous = 1.0;
    for (double d = -voxel / 2; d <= voxel / 2; d += voxel / 50) {
      const double v = partialVolume(d, voxel);
      EXPECT_LE(v, previous + 1e-15);
      EXPECT_NEAR(v + partialVolume(-d, voxel), 1.0, 1e-12);
      previous = v;
    }
  }
  EXPECT_EQ(smoothStep(2, 4, 1), 0.0);
  EXPECT_EQ(smoothStep(2, 4, 5), 1.0);
  EXPECT_NEAR(smoothStep(2, 4, 3), 0.5, 1e-15);
}

TEST(BelowSurface, IsExactForATiltedPlane) {
  // z = 0.5 x - 0.25 y + 3: normal (-0.5, 0.25, 1) / |.|.
  const auto plane = [](double x, double y) { return 0.5 * x - 0.25 * y + 3; };
  const double norm = std::sqrt(0.25 + 0.0625 + 1.0);
  Pcg32 rng(13, 0);
  for (int i = 0; i < 20; ++i) {
    const Point3 q{rng.nextUniform(-20, 20), rng.nextUniform(-20, 20), rng.nextUniform(-20, 20)};
    const double expected = (q.z - plane(q.x, q.y)) / norm;
    EXPECT_NEAR(belowSurface(plane, q), expected, 1e-9);
  }
  EXPECT_EQ(foldedX({-3, 1, 2}).x, 3.0);
  EXPECT_EQ(foldedX({3, 1, 2}).x, 3.0);
}

}  // namespace
}  // namespace daxo
