#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "correction/bspline.h"
#include "correction/registration.h"
#include "tests/correction/reference_bspline.h"
#include "testsupport/volumes.h"

namespace daxo {
namespace {

using testing::volumeOf;

using testing::maxAbs;
using testing::randomVolume;
using testing::referenceSample;
using testing::sampleRoundingBound;

// Points on a lattice that reaches two voxels beyond every face, so that taps
// are cut off on every side. With a binary-fraction step every coordinate is
// a short binary fraction too.
std::vector<Float3> pointsAcross(const Dimensions& d, float step) {
  std::vector<Float3> points;
  for (float z = -2.5f; z < d.z + 1.5f; z += step)
    for (float y = -2.25f; y < d.y + 1.5f; y += step * 0.75f)
      for (float x = -2.75f; x < d.x + 1.5f; x += step * 1.25f) points.push_back({x, y, z});
  return points;
}

const std::vector<float>& component(const SplineGradientSamples& s, int axis) {
  return axis == 0 ? s.dx : axis == 1 ? s.dy : s.dz;
}

// Largest third difference of the coefficients along `axis` (zero outside):
// the spline's third derivative along that axis is minus this difference times
// weights of the other axes that sum to 1, so it bounds |f'''|.
double maxThirdDifference(const std::vector<double>& c, const Dimensions& d, int axis) {
  auto at = [&](int x, int y, int z) {
    if (x < 0 || y < 0 || z < 0 || x >= d.x || y >= d.y || z >= d.z) return 0.0;
    return c[static_cast<size_t>(x) + static_cast<size_t>(d.x) * (y + static_cast<size_t>(d.y) * z)];
  };
  const int step[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const int* s = step[axis];
  double m = 0.0;
  for (int z = -2; z < d.z + 2; ++z)
    for (int y = -2; y < d.y + 2; ++y)
      for (int x = -2; x < d.x + 2; ++x) {
        const double third = at(x + 2 * s[0], y + 2 * s[1], z + 2 * s[2]) - 3.0 * at(x + s[0], y + s[1], z + s[2]) +
                             3.0 * at(x, y, z) - at(x - s[0], y - s[1], z - s[2]);
        m = std::max(m, std::fabs(third));
      }
  return m;
}

TEST(BsplineSampleGradient, ValueIsBsplineSampleAndGradientIsTheSplineDerivative) {
  const Dimensions d{7, 9, 5};
  const std::vector<double> c = bsplineCoefficients(randomVolume(d, 17, -100.0f, 100.0f));
  const std::vector<Float3> points = pointsAcross(d, 0.75f);
  const SplineGradientSamples s = bsplineSampleGradient(c, d, points, Float3{});
  ASSERT_EQ(s.value.size(), points.size());
  std::vector<float> value(points.size());
  bsplineSample(c, d, points, value.data(), Float3{});
  // Four float products and three float additions of terms no larger than
  // max|c| times the derivative weights, whose magnitudes sum to at most 1.5.
  const double tolerance = 1.5 * sampleRoundingBound(c) + 1e-9;
  for (size_t i = 0; i < points.size(); ++i) {
    const Float3 p = points[i];
    EXPECT_EQ(s.value[i], value[i]) << "point " << i;
    for (int axis = 0; axis < 3; ++axis)
      EXPECT_NEAR(component(s, axis)[i], referenceSample(c, d, p.x, p.y, p.z, axis), tolerance)
          << "axis " << axis << " at " << p.x << " " << p.y << " " << p.z;
  }
}

TEST(BsplineSampleGradient, MatchesFiniteDifferencesOfBsplineSample) {
  const Dimensions d{12, 10, 8};
  const std::vector<double> c = bsplineCoefficients(
      volumeOf(d, [](int x, int y, int z) { return 300.0f * std::sin(0.5f * x - 0.3f * y) * std::cos(0.4f * z); }));
  const std::vector<Float3> points = pointsAcross(d, 0.875f);
  const SplineGradientSamples s = bsplineSampleGradient(c, d, points, Float3{});
  // Steps and lattice positions are binary fractions, so p +- h is exact.
  const float h = 1.0f / 64.0f;
  for (int axis = 0; axis < 3; ++axis) {
    std::vector<Float3> plus = points, minus = points;
    for (size_t i = 0; i < points.size(); ++i) {
      float* up = axis == 0 ? &plus[i].x : axis == 1 ? &plus[i].y : &plus[i].z;
      float* down = axis == 0 ? &minus[i].x : axis == 1 ? &minus[i].y : &minus[i].z;
      *up += h;
      *down -= h;
    }
    std::vector<float> above(points.size()), below(points.size());
    bsplineSample(c, d, plus, above.data(), Float3{});
    bsplineSample(c, d, minus, below.data(), Float3{});
    // Central difference: truncation h^2/6 |f'''|, rounding of the two
    // samples divided by 2h, and the rounding of the analytic gradient.
    const double tolerance =
        h * h / 6.0 * maxThirdDifference(c, d, axis) + sampleRoundingBound(c) / h + 1.5 * sampleRoundingBound(c);
    ASSERT_LT(tolerance, 0.1);
    for (size_t i = 0; i < points.size(); ++i) {
      const double difference = (static_cast<double>(above[i]) - below[i]) / (2.0 * h);
      EXPECT_NEAR(component(s, axis)[i], difference, tolerance) << "axis " << axis << " point " << i;
    }
  }
  EXPECT_GT(maxAbs(std::vector<double>(s.dx.begin(), s.dx.end())), 50.0);
}

TEST(BsplineSampleGradient, PhysicalPointsAndReusedStorageGiveTheSameSamples) {
  // Power-of-two voxel sizes make the unit conversion exact; the gradient is
  // per voxel coordinate in both units.
  const Dimensions d{8, 10, 6};
  const Float3 voxelSize{2.0f, 0.5f, 4.0f};
  const Float3 extent{voxelSize.x * d.x, voxelSize.y * d.y, voxelSize.z * d.z};
  const std::vector<double> c = bsplineCoefficients(randomVolume(d, 5, 0.0f, 10.0f));
  const std::vector<Float3> voxelPoints = pointsAcross(d, 0.875f);
  std::vector<Float3> physicalPoints;
  for (const Float3& p : voxelPoints) physicalPoints.push_back(testing::physicalPoint(p, voxelSize, extent));
  const SplineGradientSamples byVoxel = bsplineSampleGradient(c, d, voxelPoints, Float3{});
  // Storage left from a larger call is reused and cut to the point count.
  SplineGradientSamples byPhysical = bsplineSampleGradient(c, d, pointsAcross(d, 0.5f), Float3{});
  bsplineSampleGradient(c, d, physicalPoints, extent, byPhysical);
  EXPECT_EQ(byPhysical.value, byVoxel.value);
  EXPECT_EQ(byPhysical.dx, byVoxel.dx);
  EXPECT_EQ(byPhysical.dy, byVoxel.dy);
  EXPECT_EQ(byPhysical.dz, byVoxel.dz);
}

TEST(BsplineSampleGradient, PositionsWithoutTapsInsideGiveZeros) {
  const Dimensions d{4, 4, 4};
  const std::vector<double> c = bsplineCoefficients(Volume(d, 5.0f));
  const std::vector<Float3> points = {
      {-2.0f, 1.0f, 1.0f}, {1.0f, 5.0f, 1.0f}, {1.0f, 1.0f, 1e30f}, {1.0f, std::nanf(""), 1.0f}};
  const SplineGradientSamples s = bsplineSampleGradient(c, d, points, Float3{});
  for (size_t i = 0; i < points.size(); ++i) {
    EXPECT_EQ(s.value[i], 0.0f);
    EXPECT_EQ(s.dx[i], 0.0f);
    EXPECT_EQ(s.dy[i], 0.0f);
    EXPECT_EQ(s.dz[i], 0.0f);
  }
}

}  // namespace
}  // namespace daxo
