#include "volume/volumetransform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>

#include "testsupport/thrownmessage.h"
#include "testsupport/volumes.h"

namespace daxo {
namespace {

using testing::randomVolume;
using testing::thrownMessage;

Matrix4 rigid(float angle, float tx, float ty, float tz) {
  Matrix4 m = Matrix4::identity();
  m.m[0] = std::cos(angle);
  m.m[1] = std::sin(angle);
  m.m[4] = -std::sin(angle);
  m.m[5] = std::cos(angle);
  m.m[12] = tx;
  m.m[13] = ty;
  m.m[14] = tz;
  return m;
}

// Trilinear sample in double, corners outside taken as 0.
double referenceSample(const Volume& v, double x, double y, double z) {
  const double fx = std::floor(x), fy = std::floor(y), fz = std::floor(z);
  double sum = 0.0;
  for (int dz = 0; dz < 2; ++dz)
    for (int dy = 0; dy < 2; ++dy)
      for (int dx = 0; dx < 2; ++dx) {
        const int cx = int(fx) + dx, cy = int(fy) + dy, cz = int(fz) + dz;
        if (cx < 0 || cy < 0 || cz < 0 || cx >= v.nx() || cy >= v.ny() || cz >= v.nz()) continue;
        const double w = (dx ? x - fx : 1 - (x - fx)) * (dy ? y - fy : 1 - (y - fy)) * (dz ? z - fz : 1 - (z - fz));
        sum += w * v(cx, cy, cz);
      }
  return sum;
}

TEST(VolumeTransform, MatrixProductInverseAndTranslation) {
  Matrix4 a, b;
  for (int i = 0; i < 16; ++i) {
    a.m[i] = 0.5f + i;
    b.m[i] = 1.0f - 0.25f * i;
  }
  const Matrix4 ab = multiply(a, b);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      float s = a(r, 0) * b(0, c) + a(r, 1) * b(1, c);
      s = s + a(r, 2) * b(2, c);
      s = s + a(r, 3) * b(3, c);
      EXPECT_EQ(ab(r, c), s);
    }

  const Matrix4 m = rigid(0.3f, 2.0f, -1.0f, 0.5f);
  const Matrix4 product = multiply(inverse(m), m);
  const Matrix4 id = Matrix4::identity();
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(product.m[i], id.m[i], 1e-6f);

  const Matrix4 singular = inverse(Matrix4{});
  EXPECT_FALSE(std::isfinite(singular.m[0]));

  const Matrix4 t = translated(m, 1.0f, 2.0f, 3.0f);
  const Matrix4 viaProduct = multiply(m, Matrix4::translation(1.0f, 2.0f, 3.0f));
  for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(t.m[i], viaProduct.m[i]);
}

TEST(VolumeTransform, TrilinearSampleEdges) {
  const Volume v = randomVolume({4, 3, 2}, 1);
  EXPECT_EQ(sampleTrilinear(v, 2, 1, 1), v(2, 1, 1));
  EXPECT_FLOAT_EQ(sampleTrilinear(v, -0.5f, 0, 0), 0.5f * v(0, 0, 0));
  EXPECT_FLOAT_EQ(sampleTrilinear(v, 3.5f, 2, 1), 0.5f * v(3, 2, 1));
  EXPECT_EQ(sampleTrilinear(v, -1.5f, 0, 0), 0.0f);
  EXPECT_EQ(sampleTrilinear(v, 0, 0, 2.0f), 0.0f);
  EXPECT_EQ(sampleTrilinear(v, 1e30f, 0, 0), 0.0f);
  EXPECT_TRUE(std::isnan(sampleTrilinear(v, 1, NAN, 0)));
}

TEST(VolumeTransform, ResampleAffineIdentityAndHalfVoxelShift) {
  const Volume src = randomVolume({5, 4, 3}, 2);
  Volume dst(src.dimensions());
  resampleAffine(dst, src, Matrix4::identity());
  for (size_t i = 0; i < src.voxelCount(); ++i) EXPECT_EQ(dst.data()[i], src.data()[i]);

  resampleAffine(dst, src, Matrix4::translation(0.5f, 0, 0));
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 4; ++x) EXPECT_FLOAT_EQ(dst(x, y, z), 0.5f * src(x, y, z) + 0.5f * src(x + 1, y, z));
      EXPECT_FLOAT_EQ(dst(4, y, z), 0.5f * src(4, y, z));
    }
}

// A rotation with scaling and translation against positions and weights
// formed in double. The float position carries a rounding of about
// eps * 20 voxels = 1.2e-6 voxel, times neighbour differences below 2, plus
// the float weights' rounding: 2e-5 covers both with margin.
TEST(VolumeTransform, ResampleAffineMatchesTheDirectFormula) {
  const Volume src = randomVolume({12, 10, 8}, 3);
  Matrix4 m = multiply(rigid(0.4f, 1.3f, -0.7f, 0.45f), Matrix4::translation(0, 0, 0));
  m.m[10] = 0.9f;
  m.m[2] = 0.1f;
  Volume dst(14, 9, 8);
  resampleAffine(dst, src, m);
  for (int z = 0; z < 8; ++z)
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 14; ++x) {
        const double sx = m.m[12] + double(z) * m.m[8] + (double(y) * m.m[4] + double(x) * m.m[0]);
        const double sy = m.m[13] + double(z) * m.m[9] + (double(y) * m.m[5] + double(x) * m.m[1]);
        const double sz = m.m[14] + double(z) * m.m[10] + (double(y) * m.m[6] + double(x) * m.m[2]);
        EXPECT_NEAR(dst(x, y, z), referenceSample(src, sx, sy, sz), 2e-5) << x << "," << y << "," << z;
      }
}

TEST(VolumeTransform, ResamplingAboutCentresAndToSize) {
  const Volume src = randomVolume({4, 4, 4}, 4, 1.0f, 2.0f);
  Volume dst(6, 6, 6);
  transformAboutCentres(dst, src, Matrix4::identity());
  for (int z = 0; z < 6; ++z)
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 6; ++x) {
        const bool inside = x >= 1 && x <= 4 && y >= 1 && y <= 4 && z >= 1 && z <= 4;
        EXPECT_EQ(dst(x, y, z), inside ? src(x - 1, y - 1, z - 1) : 0.0f);
      }

  const Volume ones(64, 64, 30, 1.0f);
  Volume big(128, 128, 30);
  resampleToSize(big, ones);
  EXPECT_EQ(big(0, 0, 0), 0.5625f);  // samples (-0.25, -0.25, 0)
  EXPECT_EQ(big(64, 64, 15), 1.0f);
}

TEST(VolumeTransform, SameSourceAndDestinationIsRejected) {
  Volume v = randomVolume({3, 3, 3}, 5);
  const float before = v(1, 1, 1);
  const std::string text = "): &dst != &src";
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { resampleAffine(v, v, Matrix4::identity()); }),
            "assertion failure (volumetransform:14" + text);
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { transformAboutCentres(v, v, Matrix4::identity()); }),
            "assertion failure (volumetransform:27" + text);
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { resampleToSize(v, v); }),
            "assertion failure (volumetransform:38" + text);
  EXPECT_EQ(v(1, 1, 1), before);
}

}  // namespace
}  // namespace daxo
