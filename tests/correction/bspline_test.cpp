#include "correction/bspline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "correction/bsplinetaps.h"
#include "tests/correction/reference_bspline.h"
#include "testsupport/volumes.h"

namespace daxo {
namespace {

using testing::volumeOf;

using testing::maxAbs;
using testing::randomVolume;
using testing::referenceCoefficients;
using testing::referenceSample;
using testing::sampleRoundingBound;

TEST(BsplineCoefficients, AgreeWithDenseSolveOfEveryLine) {
  // Extents of different lengths so that the shared elimination factors (made
  // for the longest axis) are used on shorter lines too; 1 is the single-voxel
  // line, 2 the shortest real system.
  for (const Dimensions d : {Dimensions{9, 13, 5}, Dimensions{1, 6, 2}, Dimensions{7, 1, 1}}) {
    const Volume src = randomVolume(d, 7, -50.0f, 100.0f);
    const std::vector<double> c = bsplineCoefficients(src);
    const std::vector<double> ref = referenceCoefficients(src);
    ASSERT_EQ(c.size(), ref.size());
    const double tolerance = 1e-12 * maxAbs(ref);
    for (size_t i = 0; i < c.size(); ++i) EXPECT_NEAR(c[i], ref[i], tolerance) << "voxel " << i;
  }
}

TEST(BsplineCoefficients, SingleVoxelLinesScaleByOneAndAHalf) {
  const Volume one(1, 1, 1, 2.0f);
  const std::vector<double> c = bsplineCoefficients(one);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0], 2.0 * 1.5 * 1.5 * 1.5);
  EXPECT_TRUE(bsplineCoefficients(Volume()).empty());
}

TEST(BsplineSample, ReproducesTheSamplesAtVoxelCentres) {
  const Dimensions d{8, 11, 6};
  const Volume src = randomVolume(d, 3, 0.0f, 1000.0f);
  const std::vector<double> c = bsplineCoefficients(src);
  std::vector<Float3> points;
  for (int z = 0; z < d.z; ++z)
    for (int y = 0; y < d.y; ++y)
      for (int x = 0; x < d.x; ++x) points.push_back({float(x), float(y), float(z)});
  std::vector<float> out(points.size());
  bsplineSample(c, d, points, out.data(), Float3{});
  const double tolerance = sampleRoundingBound(c);
  for (size_t i = 0; i < points.size(); ++i) EXPECT_NEAR(out[i], src.data()[i], tolerance) << "voxel " << i;
}

TEST(BsplineSample, ReproducesALinearFunctionAwayFromTheEdges) {
  // Coefficients of a linear function equal its samples, except that the zero
  // coefficients outside pull the solution off near each edge. That deviation
  // solves the homogeneous recursion and decays by r = 2 - sqrt(3) per voxel:
  // at distance k from an edge it is |f(-1)| r^(k+1), f(-1) being the
  // function continued one voxel beyond the edge. Points whose taps keep k
  // voxels from every edge therefore see at most 2 ends x 3 axes x F r^(k+1),
  // F bounding |f| one voxel beyond the volume, plus float rounding.
  const Dimensions d{26, 30, 24};
  const auto f = [](double x, double y, double z) { return 2.0 + 0.5 * x - 0.75 * y + 0.25 * z; };
  const std::vector<double> c = bsplineCoefficients(volumeOf(d, f));
  const int k = 9;
  const double r = 2.0 - std::sqrt(3.0);
  const double bigF = 2.0 + 0.5 * 27 + 0.75 * 31 + 0.25 * 25;
  const double tolerance = 6.0 * bigF * std::pow(r, k + 1) + sampleRoundingBound(c);
  ASSERT_LT(tolerance, 1e-3);
  std::vector<Float3> points;
  std::vector<double> expected;
  for (float z = k + 1; z + 2 <= d.z - 1 - k; z += 0.75f)
    for (float y = k + 1; y + 2 <= d.y - 1 - k; y += 0.625f)
      for (float x = k + 1; x + 2 <= d.x - 1 - k; x += 0.375f) {
        points.push_back({x, y, z});
        expected.push_back(f(x, y, z));
      }
  ASSERT_GT(points.size(), 100u);
  std::vector<float> out(points.size());
  bsplineSample(c, d, points, out.data(), Float3{});
  for (size_t i = 0; i < points.size(); ++i)
    EXPECT_NEAR(out[i], expected[i], tolerance) << points[i].x << " " << points[i].y << " " << points[i].z;
}

TEST(BsplineSample, AgreesWithTheSlowReferenceEverywhereIncludingOutside) {
  const Dimensions d{7, 9, 5};
  const Volume src = randomVolume(d, 11, -100.0f, 100.0f);
  const std::vector<double> c = bsplineCoefficients(src);
  std::vector<Float3> points;
  for (float z = -2.5f; z < d.z + 1.5f; z += 0.7f)
    for (float y = -2.25f; y < d.y + 1.5f; y += 0.55f)
      for (float x = -2.75f; x < d.x + 1.5f; x += 0.9f) points.push_back({x, y, z});
  std::vector<float> out(points.size());
  bsplineSample(c, d, points, out.data(), Float3{});
  const double tolerance = sampleRoundingBound(c) + 1e-9;
  for (size_t i = 0; i < points.size(); ++i) {
    const Float3 p = points[i];
    EXPECT_NEAR(out[i], referenceSample(c, d, p.x, p.y, p.z), tolerance) << p.x << " " << p.y << " " << p.z;
  }
}

TEST(BsplineSample, PositionsWithoutTapsInsideGiveZero) {
  const Dimensions d{4, 4, 4};
  const std::vector<double> c = bsplineCoefficients(Volume(d, 5.0f));
  const float nan = std::nanf("");
  const std::vector<Float3> points = {
      {-2.0f, 1.0f, 1.0f}, {1.0f, 5.0f, 1.0f}, {1.0f, 1.0f, 1e30f}, {1.0f, nan, 1.0f}, {-1e30f, 1.0f, 1.0f}};
  std::vector<float> out(points.size(), -1.0f);
  bsplineSample(c, d, points, out.data(), Float3{});
  for (float value : out) EXPECT_EQ(value, 0.0f);
}

TEST(BsplineSample, PhysicalUnitsAddressTheSameSplineAsVoxelUnits) {
  // Voxel sizes that are powers of two make the unit conversion exact, so the
  // two ways of addressing a point must agree bit for bit.
  const Dimensions d{8, 10, 6};
  const Float3 voxelSize{2.0f, 0.5f, 4.0f};
  const Float3 extent{voxelSize.x * d.x, voxelSize.y * d.y, voxelSize.z * d.z};
  const std::vector<double> c = bsplineCoefficients(randomVolume(d, 5, 0.0f, 10.0f));
  std::vector<Float3> voxelPoints, physicalPoints;
  for (float z = -1.5f; z < d.z + 1; z += 0.875f)
    for (float y = -2.0f; y < d.y + 1; y += 0.625f)
      for (float x = -1.25f; x < d.x + 1; x += 0.75f) {
        voxelPoints.push_back({x, y, z});
        physicalPoints.push_back(testing::physicalPoint({x, y, z}, voxelSize, extent));
      }
  std::vector<float> byVoxel(voxelPoints.size()), byPhysical(voxelPoints.size());
  bsplineSample(c, d, voxelPoints, byVoxel.data(), Float3{});
  bsplineSample(c, d, physicalPoints, byPhysical.data(), extent);
  for (size_t i = 0; i < byVoxel.size(); ++i) EXPECT_EQ(byVoxel[i], byPhysical[i]) << "point " << i;
  // The physical origin is the volume's centre: between voxels 3 and 4 on x.
  std::vector<float> centre(1), between(1);
  bsplineSample(c, d, {{0.0f, 0.0f, 0.0f}}, centre.data(), extent);
  bsplineSample(c, d, {{3.5f, 4.5f, 2.5f}}, between.data(), Float3{});
  EXPECT_EQ(centre[0], between[0]);
}

TEST(BsplineWeights, DerivativesMatchFiniteDifferences) {
  const double h = 1e-6;
  for (double t = 0.0; t < 1.0; t += 0.0625) {
    double w[4], plus[4], minus[4], dw[4];
    bspline::cubicWeights(t, w);
    bspline::cubicWeights(t + h, plus);
    bspline::cubicWeights(t - h, minus);
    bspline::cubicWeightDerivatives(t, dw);
    EXPECT_NEAR(w[0] + w[1] + w[2] + w[3], 1.0, 1e-15);
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(w[i], testing::splineKernel(t + 1.0 - i), 1e-15) << "tap " << i << " t " << t;
      EXPECT_NEAR(dw[i], (plus[i] - minus[i]) / (2.0 * h), 1e-8) << "tap " << i << " t " << t;
    }
  }
}

}  // namespace
}  // namespace daxo
