#include "correction/vdminverse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "tests/correction/reference_bspline.h"
#include "testsupport/volumes.h"

namespace daxo {
namespace {

using testing::randomVolume;

// The inverse of one column the slow way: the linear interpolant of the map
// along the column, g(y0) = y0 + v(y0), is increasing for a fold-free column;
// bisection finds g(y0) = e, and the inverse is y0 - e. Returns false when e
// lies outside [g(0), g(n - 1)).
bool referenceInverse(const std::vector<double>& v, double e, double& u) {
  const int n = static_cast<int>(v.size());
  auto g = [&](double y) {
    const int i = std::min(static_cast<int>(std::floor(y)), n - 2);
    const double f = y - i;
    return y + (1.0 - f) * v[i] + f * v[i + 1];
  };
  if (e < g(0.0) || e >= g(n - 1.0)) return false;
  double lo = 0.0, hi = n - 1.0;
  for (int step = 0; step < 100; ++step) {
    const double mid = 0.5 * (lo + hi);
    (g(mid) <= e ? lo : hi) = mid;
  }
  u = lo - e;
  return true;
}

TEST(InvertVdm, ZeroAndConstantMaps) {
  // Zero map: every row maps to itself; the last row has no landing position
  // above it and takes row ny - 2's value, 0.
  const Volume zero = invertVdm(Volume(3, 7, 2, 0.0f));
  for (size_t i = 0; i < zero.voxelCount(); ++i) EXPECT_EQ(zero.data()[i], 0.0f);
  // Constant k = 0.25: rows 1 .. ny-1 come out exactly -0.25 in single
  // precision; row 0 lies before the first landing position and takes row 1's.
  const Volume constant = invertVdm(Volume(3, 7, 2, 0.25f));
  for (size_t i = 0; i < constant.voxelCount(); ++i) EXPECT_EQ(constant.data()[i], -0.25f);
}

TEST(InvertVdm, AgreesWithBisectionOnAFoldFreeRandomMap) {
  const int nx = 4, ny = 40, nz = 3;
  std::mt19937 engine(31);
  std::uniform_real_distribution<float> step(-0.8f, 0.8f), start(-6.0f, 6.0f);
  Volume v(nx, ny, nz);
  for (int z = 0; z < nz; ++z)
    for (int x = 0; x < nx; ++x) {
      v(x, 0, z) = start(engine);
      for (int y = 1; y < ny; ++y) v(x, y, z) = v(x, y - 1, z) + step(engine);
    }
  const Volume u = invertVdm(v);
  int checked = 0;
  for (int z = 0; z < nz; ++z)
    for (int x = 0; x < nx; ++x) {
      std::vector<double> col(ny);
      for (int y = 0; y < ny; ++y) col[y] = v(x, y, z);
      // Rows outside the span take the value of the nearest row that has one.
      int firstInside = -1, lastInside = -1;
      for (int e = 0; e < ny; ++e) {
        double expected;
        if (!referenceInverse(col, e, expected)) continue;
        if (firstInside < 0) firstInside = e;
        lastInside = e;
        EXPECT_NEAR(u(x, e, z), expected, 1e-4) << x << " " << e << " " << z;
        ++checked;
      }
      ASSERT_GE(firstInside, 0);
      for (int e = 0; e < firstInside; ++e) EXPECT_EQ(u(x, e, z), u(x, firstInside, z));
      for (int e = lastInside + 1; e < ny; ++e) EXPECT_EQ(u(x, e, z), u(x, lastInside, z));
    }
  EXPECT_GT(checked, nx * nz * ny / 2);
}

TEST(InvertVdm, RegressionRowsOutsideTheMappedSpanGetTheNearestValue) {
  // Column 0 lands on 3.5 .. 7 (rows 0 .. 3 before the span, row 7 at its end);
  // column 1 lands entirely beyond the column and has no value anywhere.
  Volume v(2, 8, 1);
  for (int y = 0; y < 8; ++y) {
    v(0, y, 0) = 3.5f - 0.5f * y;
    v(1, y, 0) = 100.0f;
  }
  const Volume u = invertVdm(v);
  // Inside: y0 + 3.5 - 0.5 y0 = e gives y0 = 2 (e - 3.5), u = e - 7.
  for (int e = 4; e <= 6; ++e) EXPECT_FLOAT_EQ(u(0, e, 0), e - 7.0f);
  for (int e = 0; e < 4; ++e) EXPECT_EQ(u(0, e, 0), u(0, 4, 0));
  EXPECT_EQ(u(0, 7, 0), u(0, 6, 0));
  for (int e = 0; e < 8; ++e) {
    EXPECT_TRUE(std::isfinite(u(0, e, 0)));
    EXPECT_EQ(u(1, e, 0), 0.0f);
  }
}

TEST(ModulateIntensities, RegressionZeroMapLeavesBothScansUnchangedEverywhere) {
  const Dimensions d{5, 9, 3};
  const Volume a = randomVolume(d, 41, 0.0f, 1000.0f);
  const Volume p = randomVolume(d, 42, 0.0f, 1000.0f);
  Volume am, pm;
  modulateIntensities(am, pm, a, p, Volume(d, 0.0f));
  ASSERT_EQ(am.dimensions(), d);
  ASSERT_EQ(pm.dimensions(), d);
  for (size_t i = 0; i < a.voxelCount(); ++i) {
    EXPECT_EQ(am.data()[i], a.data()[i]) << "voxel " << i;
    EXPECT_EQ(pm.data()[i], p.data()[i]) << "voxel " << i;
  }
}

TEST(ModulateIntensities, LinearMapScalesByTheJacobianOfTheInverse) {
  // v = c (y - m) lands row y at (1 + c) y - c m; the inverse has slope
  // s = 1 / (1 + c) - 1 = -c / (1 + c). With c = 1/8 the first scan gains
  // 1 - s = 10/9 and the second 1 + s = 8/9, wherever the sampled rows of s
  // stay away from the first and last row.
  const int nx = 3, ny = 17, nz = 2;
  const float c = 0.125f, m = 8.0f;
  Volume v(nx, ny, nz);
  for (int z = 0; z < nz; ++z)
    for (int y = 0; y < ny; ++y)
      for (int x = 0; x < nx; ++x) v(x, y, z) = c * (y - m);
  const Volume a = randomVolume(v.dimensions(), 43, 1.0f, 100.0f);
  const Volume p = randomVolume(v.dimensions(), 44, 1.0f, 100.0f);
  // Outputs may be the inputs themselves.
  Volume am = a, pm = p;
  modulateIntensities(am, pm, am, pm, v);
  int checkedA = 0, checkedP = 0;
  for (int z = 0; z < nz; ++z)
    for (int y = 0; y < ny; ++y)
      for (int x = 0; x < nx; ++x) {
        const float forward = y + v(x, y, z), backward = y - v(x, y, z);
        if (forward >= 1.0f && forward <= ny - 2.0f) {
          EXPECT_NEAR(am(x, y, z) / a(x, y, z), 10.0 / 9.0, 1e-5);
          ++checkedA;
        }
        if (backward >= 1.0f && backward <= ny - 2.0f) {
          EXPECT_NEAR(pm(x, y, z) / p(x, y, z), 8.0 / 9.0, 1e-5);
          ++checkedP;
        }
      }
  EXPECT_GT(checkedA, nx * nz * 10);
  EXPECT_GT(checkedP, nx * nz * 10);
}

}  // namespace
}  // namespace daxo
