#include "correction/rigidmotion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>

#include "correction/registration.h"
#include "testsupport/rigidtesting.h"

namespace daxo {
namespace {

using testing::parametersOf;

constexpr double kEpsilon = 1.0 / (1 << 23);  // float spacing at 1

// R = Rz(r2) Ry(r1) Rx(r0) as a product of the three elementary rotations, in
// double: element (row, column).
using Mat3 = std::array<std::array<double, 3>, 3>;
Mat3 product(const Mat3& a, const Mat3& b) {
  Mat3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r[i][j] += a[i][k] * b[k][j];
  return r;
}
Mat3 referenceRotation(double r0, double r1, double r2) {
  const Mat3 rx{{{1, 0, 0}, {0, std::cos(r0), -std::sin(r0)}, {0, std::sin(r0), std::cos(r0)}}};
  const Mat3 ry{{{std::cos(r1), 0, std::sin(r1)}, {0, 1, 0}, {-std::sin(r1), 0, std::cos(r1)}}};
  const Mat3 rz{{{std::cos(r2), -std::sin(r2), 0}, {std::sin(r2), std::cos(r2), 0}, {0, 0, 1}}};
  return product(rz, product(ry, rx));
}

TEST(RigidMatrix, IsTheProductOfTheElementaryRotationsWithTheTranslationInTheLastRow) {
  const Vector p = parametersOf(0.3f, -0.7f, 1.1f, 4.0f, -5.5f, 2.25f);
  const Matrix4 m = rigidMatrix(p);
  const Mat3 r = referenceRotation(p[0], p[1], p[2]);
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 3; ++column)
      EXPECT_NEAR(m.m[4 * column + row], r[row][column], 4 * kEpsilon) << row << ", " << column;
  EXPECT_EQ(m.m[3], 4.0f);
  EXPECT_EQ(m.m[7], -5.5f);
  EXPECT_EQ(m.m[11], 2.25f);
  EXPECT_EQ(m.m[12], 0.0f);
  EXPECT_EQ(m.m[13], 0.0f);
  EXPECT_EQ(m.m[14], 0.0f);
  EXPECT_EQ(m.m[15], 1.0f);
  // The rigid point map adds the last-row translation: the origin goes to t.
  const Float3 origin = rigidMap(m, {0.0f, 0.0f, 0.0f});
  EXPECT_EQ(origin.x, 4.0f);
  EXPECT_EQ(origin.y, -5.5f);
  EXPECT_EQ(origin.z, 2.25f);
}

TEST(RigidMatrix, ZerosGiveTheIdentityAndTheIdentityGivesZeros) {
  const Matrix4 m = rigidMatrix(Vector(6, 0.0f));
  const Matrix4 identity = Matrix4::identity();
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m.m[i], identity.m[i]) << "element " << i;
  const Vector p = rigidParameters(identity);
  ASSERT_EQ(p.size(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(p[i], 0.0f) << "parameter " << i;
}

TEST(RigidParameters, InvertRigidMatrixForRotationsInsideAQuarterTurn) {
  std::mt19937 engine(42);
  std::uniform_real_distribution<float> angle(-1.5f, 1.5f), shift(-20.0f, 20.0f);
  for (int trial = 0; trial < 500; ++trial) {
    const Vector p =
        parametersOf(angle(engine), angle(engine), angle(engine), shift(engine), shift(engine), shift(engine));
    // Angles 0 are taken too: their cosine ratio is 1 up to rounding.
    Vector q = p;
    if (trial % 5 == 0) q[trial % 3] = 0.0f;
    const Vector back = rigidParameters(rigidMatrix(q));
    // r1 = asin(-m2) is well conditioned. r0 and r2 come from acos of a ratio
    // whose error delta grows with 1 / cos^2 r1 (q = cos r1 is recomputed
    // from the rounded sine); acos turns it into at most sqrt(2 delta), and
    // into delta / |sin r| away from 0.
    const double c1 = std::cos(static_cast<double>(q[1]));
    const double delta = 8.0 * kEpsilon / (c1 * c1);
    EXPECT_NEAR(back[1], q[1], 4.0 * kEpsilon / c1) << "trial " << trial;
    for (int i : {0, 2}) {
      const double tolerance =
          std::min(std::sqrt(2.0 * delta), delta / std::fabs(std::sin(static_cast<double>(q[i])))) + 4.0 * kEpsilon;
      EXPECT_NEAR(back[i], q[i], tolerance) << "trial " << trial << " angle " << i;
    }
    for (int i = 3; i < 6; ++i) EXPECT_EQ(back[i], q[i]);
  }
}

TEST(RotationDerivatives, MatchFiniteDifferencesOfRigidMatrix) {
  const Vector p = parametersOf(0.4f, -0.25f, 0.9f, 1.0f, 2.0f, 3.0f);
  const std::array<Matrix4, 3> d = rotationDerivatives(p);
  const Float3 point{30.0f, -45.0f, 20.0f};
  const double size = 60.0;  // bounds |point|
  const float h = 1.0f / 128.0f;
  for (int l = 0; l < 3; ++l) {
    Vector up = p, down = p;
    up[l] += h;
    down[l] -= h;
    const Float3 a = rigidMap(rigidMatrix(up), point), b = rigidMap(rigidMatrix(down), point);
    const Float3 analytic = rotatePoint(d[static_cast<size_t>(l)], point);
    // Central difference: truncation h^2/6 |d3R/dr3| |p|, where only one
    // elementary rotation depends on each angle, so |d3R/dr3| <= 1; rounding
    // of the mapped points (a few ulps of |p| + |t|) divided by 2h.
    const double tolerance = h * h / 6.0 * size + 8.0 * kEpsilon * (size + 4.0) / (2.0 * h);
    EXPECT_NEAR(analytic.x, (a.x - b.x) / (2.0 * h), tolerance) << "angle " << l;
    EXPECT_NEAR(analytic.y, (a.y - b.y) / (2.0 * h), tolerance) << "angle " << l;
    EXPECT_NEAR(analytic.z, (a.z - b.z) / (2.0 * h), tolerance) << "angle " << l;
    // The translation does not enter the derivatives.
    EXPECT_EQ(d[static_cast<size_t>(l)].m[3], 0.0f);
    EXPECT_EQ(d[static_cast<size_t>(l)].m[15], 0.0f);
  }
}

TEST(DisplayMotion, FlipsTranslationsAndShowsDegrees) {
  const Vector shown = displayMotion(parametersOf(0.1f, 0.0f, 0.0f, 2.0f, 0.0f, 0.0f));
  ASSERT_EQ(shown.size(), 6);
  EXPECT_EQ(shown[0], -2.0f);
  EXPECT_EQ(shown[1], 0.0f);
  EXPECT_TRUE(std::signbit(shown[1])) << "a zero translation is shown as -0";
  EXPECT_TRUE(std::signbit(shown[2]));
  EXPECT_NEAR(shown[3], 5.7296, 1e-4);
  EXPECT_EQ(shown[3], 0.1f * 180.0f / (4.0f * std::atan(1.0f)));
  EXPECT_EQ(shown[4], 0.0f);
  EXPECT_FALSE(std::signbit(shown[4]));
  EXPECT_FALSE(std::signbit(shown[5]));
}

TEST(MotionParameters, AnyCountOtherThanSixIsRefused) {
  for (int32_t n : {0, 5, 7}) {
    const Vector p(n, 0.0f);
    EXPECT_THROW(rigidMatrix(p), std::invalid_argument) << n;
    EXPECT_THROW(displayMotion(p), std::invalid_argument) << n;
    EXPECT_THROW(rotationDerivatives(p), std::invalid_argument) << n;
  }
}

}  // namespace
}  // namespace daxo
