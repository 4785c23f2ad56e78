#include "correction/registration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "correction/rigidmotion.h"
#include "tests/correction/reference_bspline.h"
#include "testsupport/fft_for_tests.h"
#include "testsupport/rigidtesting.h"
#include "testsupport/thrownmessage.h"
#include "testsupport/volumes.h"

namespace daxo {
namespace {

using testing::largestCornerShift;
using testing::maxAbs;
using testing::parametersOf;
using testing::randomVolume;
using testing::referenceSample;
using testing::sampleRoundingBound;
using testing::thrownMessage;

class RegisterRigid : public ::testing::Test {
 protected:
  void SetUp() override { testing::bindFftwForTests(); }
};

Float3 extentOf(const Dimensions& d, const Float3& voxelSize) {
  return {voxelSize.x * d.x, voxelSize.y * d.y, voxelSize.z * d.z};
}

// Gaussian blobs (peaks up to 900, widths about a tenth of the field of view)
// on a zero background; `centres` in fractions of the field of view.
struct Blob {
  float x, y, z, peak;
  float width = 0.12f;
};
Volume blobs(const Dimensions& d, std::initializer_list<Blob> centres) {
  Volume v(d, 0.0f);
  for (int z = 0; z < d.z; ++z)
    for (int y = 0; y < d.y; ++y)
      for (int x = 0; x < d.x; ++x) {
        float sum = 0.0f;
        for (const Blob& b : centres) {
          const float dx = (x + 0.5f) / d.x - b.x, dy = (y + 0.5f) / d.y - b.y, dz = (z + 0.5f) / d.z - b.z;
          sum += b.peak * std::exp(-(dx * dx + dy * dy + dz * dz) / (2.0f * b.width * b.width));
        }
        v(x, y, z) = sum;
      }
  return v;
}

// Four blobs in no symmetric arrangement, so that every motion changes the
// picture (two isotropic blobs alone would not see a rotation about the line
// through them).
Volume head(const Dimensions& d) {
  return blobs(d, {{0.38f, 0.42f, 0.45f, 900.0f},
                   {0.6f, 0.55f, 0.5f, 700.0f},
                   {0.5f, 0.38f, 0.6f, 500.0f},
                   {0.45f, 0.62f, 0.42f, 800.0f}});
}

TEST_F(RegisterRigid, IdenticalVolumesTakeOneZeroStep) {
  const Dimensions d{24, 24, 20};
  const Float3 extent = extentOf(d, {2.0f, 2.5f, 3.0f});
  const Volume v = head(d);
  Vector p(6, 0.0f);
  EXPECT_EQ(registerRigid(v, extent, v, extent, {16, 16, 16}, p), 1u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(p[i], 0.0f) << "parameter " << i;
}

TEST_F(RegisterRigid, EmptyMaskRunsToTheStepLimitWithoutMoving) {
  // No voxel of the fixed volume exceeds 75, so no sample point is kept: the
  // cost is NaN and every step is 0.
  const Dimensions d{16, 16, 16};
  const Float3 extent = extentOf(d, {2.0f, 2.0f, 2.0f});
  const Volume fixed(d, 75.0f);
  const Volume moving = head(d);
  Vector p = parametersOf(0.01f, -0.02f, 0.03f, 1.0f, -2.0f, 0.5f);
  const Vector start = p;
  EXPECT_EQ(registerRigid(fixed, extent, moving, extent, {12, 12, 12}, p), 300u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(p[i], start[i]) << "parameter " << i;
}

TEST_F(RegisterRigid, RecoversAKnownMotionWithAnisotropicVoxels) {
  // Regression: the spline gradient is per voxel coordinate and has to be
  // divided by the voxel size (mm per voxel) to give the gradient per mm;
  // multiplying by it instead stopped this run 0.6 mm off after many small
  // steps with these voxel sizes.
  //
  // The moving volume is the fixed one under a known motion g (2 degrees about
  // z, smaller rotations about x and y, 1.5 mm along x), so the registration
  // should find the inverse of g: mapping through the result and then g is
  // the identity. The pair differs only by the motion and one spline
  // resampling of a smooth volume, so Gauss-Newton converges in a few steps.
  // It stops once the mean squared difference falls by less than 1; with the
  // blobs' gradients (RMS of some tens of units per mm over the mask) that
  // leaves a misregistration of a few hundredths of a mm before the last
  // step. 0.05 mm is 1/40 of the smallest voxel.
  const Dimensions d{24, 22, 20};
  const Float3 extent = extentOf(d, {2.0f, 2.5f, 3.0f});
  const Volume fixed = head(d);
  const float twoDegrees = 2.0f * 3.14159265f / 180.0f;
  const Vector g = parametersOf(0.02f, -0.015f, twoDegrees, 1.5f, -1.0f, 0.8f);
  const Volume moving = resampleRigid(fixed, extent, g);
  Vector p(6, 0.0f);
  const unsigned steps = registerRigid(fixed, extent, moving, extent, {20, 20, 20}, p);
  EXPECT_GE(steps, 2u);
  EXPECT_LE(steps, 6u);
  EXPECT_LT(largestCornerShift(extent, p, g), 0.05f);
  EXPECT_NEAR(p[2], -twoDegrees, 1e-3);
}

TEST_F(RegisterRigid, SamplesOnlyWhereTheFixedVolumeIsBright) {
  // The moving volume holds an extra small blob in a corner where the fixed
  // volume is dark. Those points lie outside the mask (fixed > 75, widened by
  // about 4 mm), so the pair registers as identical: the blob reaches the kept
  // points only through the spline coefficients, which decay by a factor 0.27
  // per voxel, and the step stays far below 1e-3 mm. Sampled, the blob would
  // pull the run about 0.01 mm off.
  const Dimensions d{24, 24, 24};
  const Float3 extent = extentOf(d, {2.0f, 2.0f, 2.0f});
  const Volume fixed = head(d);
  Volume moving = blobs(d, {{0.85f, 0.85f, 0.85f, 800.0f, 0.05f}});
  for (size_t i = 0; i < moving.voxelCount(); ++i) moving.data()[i] += fixed.data()[i];
  Vector p(6, 0.0f);
  EXPECT_EQ(registerRigid(fixed, extent, moving, extent, {16, 16, 16}, p), 1u);
  EXPECT_LT(largestCornerShift(extent, p, Vector(6, 0.0f)), 1e-3f);
}

TEST_F(RegisterRigid, NonFiniteNormalMatrixFailsTheInversion) {
  // A NaN voxel in the moving volume spreads through its spline into the
  // samples and the normal matrix, whose decomposition cannot converge.
  const Dimensions d{16, 16, 16};
  const Float3 extent = extentOf(d, {2.0f, 2.0f, 2.0f});
  const Volume fixed = head(d);
  Volume moving = fixed;
  moving(8, 8, 8) = std::numeric_limits<float>::quiet_NaN();
  Vector p(6, 0.0f);
  EXPECT_EQ(thrownMessage<std::runtime_error>([&] {
              registerRigid(fixed, extent, moving, extent, {12, 12, 12}, p);
            }),
            "Matrix Inversion Failed!");
}

TEST_F(RegisterRigid, RefusesParameterVectorsOtherThanSix) {
  const Dimensions d{8, 8, 8};
  const Float3 extent = extentOf(d, {2.0f, 2.0f, 2.0f});
  const Volume v = head(d);
  Vector five(5, 0.25f);
  EXPECT_THROW(registerRigid(v, extent, v, extent, {8, 8, 8}, five), std::invalid_argument);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(five[i], 0.25f);
  EXPECT_THROW(resampleRigid(v, extent, five), std::invalid_argument);
}

TEST(ResampleRigid, ZeroMotionReproducesTheVolume) {
  const Dimensions d{9, 11, 7};
  const Volume v = randomVolume(d, 23, 0.0f, 1000.0f);
  const Float3 extent = extentOf(d, {1.7f, 2.3f, 3.1f});
  const Volume out = resampleRigid(v, extent, Vector(6, 0.0f));
  ASSERT_EQ(out.dimensions(), d);
  // The spline interpolates at voxel centres; the centred positions come back
  // to voxel units within a few ulps of the extent per voxel size, which the
  // spline's slope (at most about 2 max|c| per voxel) turns into intensity.
  const std::vector<double> c = bsplineCoefficients(v);
  const double tolerance = sampleRoundingBound(c) + 2.0 * maxAbs(c) * 16.0 * 11 / (1 << 24);
  for (size_t i = 0; i < v.voxelCount(); ++i) EXPECT_NEAR(out.data()[i], v.data()[i], tolerance) << "voxel " << i;
}

TEST(ResampleRigid, AgreesWithTheSlowReferenceUnderAMotion) {
  // Output voxel at centred position p is the spline of the input at R p + t,
  // evaluated here in double from the same rigid matrix.
  const Dimensions d{10, 8, 9};
  const Float3 voxelSize{2.0f, 2.5f, 1.5f};
  const Float3 extent = extentOf(d, voxelSize);
  const Volume v = randomVolume(d, 29, 0.0f, 1000.0f);
  const Vector motion = parametersOf(0.1f, -0.2f, 0.15f, 1.5f, -2.0f, 0.75f);
  const Volume out = resampleRigid(v, extent, motion);
  const std::vector<double> c = bsplineCoefficients(v);
  const Matrix4 m = rigidMatrix(motion);
  const double size[3] = {voxelSize.x, voxelSize.y, voxelSize.z};
  const double full[3] = {extent.x, extent.y, extent.z};
  // Float positions carry a few ulps of the field of view (at most 15 mm from
  // the centre, plus the translation): under 1e-5 voxel, times the slope.
  const double tolerance = sampleRoundingBound(c) + 2.0 * maxAbs(c) * 1e-5;
  for (int z = 0; z < d.z; ++z)
    for (int y = 0; y < d.y; ++y)
      for (int x = 0; x < d.x; ++x) {
        const double p[3] = {(x + 0.5) * size[0] - full[0] / 2, (y + 0.5) * size[1] - full[1] / 2,
                             (z + 0.5) * size[2] - full[2] / 2};
        double u[3];
        for (int r = 0; r < 3; ++r) {
          const double q = m.m[r] * p[0] + m.m[4 + r] * p[1] + m.m[8 + r] * p[2] + m.m[4 * r + 3];
          u[r] = (q + full[r] / 2) / size[r] - 0.5;
        }
        EXPECT_NEAR(out(x, y, z), referenceSample(c, d, u[0], u[1], u[2]), tolerance) << x << " " << y << " " << z;
      }
}

}  // namespace
}  // namespace daxo
