#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "testsupport/volumes.h"
#include "volume/linalg.h"
#include "volume/matrix.h"
#include "volume/vector.h"
#include "volume/volume.h"

namespace daxo {
namespace {

using testing::randomVolume;

TEST(VolumeModel, DefaultAndMovedFromVolumesAreEmptyButKeepExtents) {
  Volume empty;
  EXPECT_EQ(empty.dimensions(), (Dimensions{0, 0, 0}));
  EXPECT_EQ(empty.data(), nullptr);

  Volume source(3, 4, 5, 2.0f);
  const float* buffer = source.data();
  Volume taken(std::move(source));
  EXPECT_EQ(taken.data(), buffer);
  EXPECT_EQ(source.dimensions(), (Dimensions{3, 4, 5}));  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(source.data(), nullptr);
}

// Element counts are formed in 64 bits: 65536 * 65537 wraps to a small
// positive 32-bit count, which must not be allocated.
TEST(VolumeModel, ImpossibleElementCountsFailWithBadAllocForEveryType) {
  EXPECT_THROW(Volume(-1, 2, 2), std::bad_alloc);
  EXPECT_THROW(Volume(65536, 65537, 1), std::bad_alloc);
  EXPECT_THROW(Volume(2048, 2048, 1024), std::bad_alloc);
  EXPECT_THROW(Vector(-1), std::bad_alloc);
  EXPECT_THROW(Vector(-5, 1.0f), std::bad_alloc);
  EXPECT_THROW(Matrix(-2, 3), std::bad_alloc);
  EXPECT_THROW(Matrix(65536, 65537), std::bad_alloc);

  Volume v(2, 2, 2, 1.0f);
  EXPECT_THROW(v.resizeCentred({65536, 65537, 1}), std::bad_alloc);
  EXPECT_EQ(v.dimensions(), (Dimensions{2, 2, 2}));
  Matrix m(2, 2, 1.0f);
  EXPECT_THROW(m.resize(-1, 4), std::bad_alloc);
  EXPECT_EQ(m.rows(), 2);
}

// Regression: the padded extents were formed as 32-bit sums and could wrap.
TEST(VolumeModel, PadReplicateWithOverflowingWidthFailsAndKeepsTheVolume) {
  Volume v(2, 2, 2, 3.0f);
  EXPECT_THROW(v.padReplicate({1 << 30, 0, 0}), std::bad_alloc);
  EXPECT_EQ(v.dimensions(), (Dimensions{2, 2, 2}));
  EXPECT_EQ(v(1, 1, 1), 3.0f);
}

// Regression: a copy of a moved-from object read uninitialised memory.
TEST(VolumeModel, CopiesOfMovedFromObjectsReadAsZero) {
  Volume v(2, 3, 1, 5.0f);
  Volume taken(std::move(v));
  const Volume copy(v);  // NOLINT(bugprone-use-after-move)
  for (size_t i = 0; i < copy.voxelCount(); ++i) EXPECT_EQ(copy.data()[i], 0.0f);
  Vector w(4, 1.0f);
  Vector wTaken(std::move(w));
  const Vector wCopy(w);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(wCopy[3], 0.0f);
}

// Regression: resizing a moved-from vector or volume to the size it kept left
// it without storage, so writing an element wrote through a null pointer (the
// decomposition resizes the vector it is handed).
TEST(VolumeModel, ResizeGivesAMovedFromObjectStorage) {
  Vector v(4, 1.0f);
  Vector taken(std::move(v));
  v.resize(4);  // NOLINT(bugprone-use-after-move)
  ASSERT_NE(v.data(), nullptr);
  v[3] = 2.0f;
  EXPECT_EQ(v[3], 2.0f);
  Volume volume(2, 3, 1, 5.0f);
  Volume volumeTaken(std::move(volume));
  volume.resizeCentred({3, 2, 1});  // NOLINT(bugprone-use-after-move)
  ASSERT_NE(volume.data(), nullptr);
  EXPECT_EQ(volume(2, 1, 0), 0.0f);
  Matrix a(3, 3, 0.0f);
  a(0, 0) = 2.0f;
  a(1, 1) = 3.0f;
  a(2, 2) = 4.0f;
  Vector w(3, 0.0f);
  Vector wTaken(std::move(w));
  Matrix basis;
  ASSERT_TRUE(svd(a, w, basis));  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(w.size(), 3);
}

TEST(VolumeModel, CopyIsDeepAndAssignmentTakesTheSourceDimensions) {
  Volume a = randomVolume({3, 2, 2}, 1);
  Volume b(5, 5, 5, 0.0f);
  b = a;
  EXPECT_EQ(b.dimensions(), a.dimensions());
  a(0, 0, 0) = 42.0f;
  EXPECT_NE(b(0, 0, 0), 42.0f);
  Volume c(a);
  EXPECT_EQ(c(0, 0, 0), 42.0f);
  EXPECT_NE(c.data(), a.data());
  EXPECT_EQ(a.index(1, 1, 1), 1u + 3u * (1u + 2u * 1u));
}

TEST(VolumeModel, ResizeCentredOffsetsTruncateTowardZero) {
  Volume v(4, 4, 4);
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) v(x, y, z) = 1.0f + x + 4.0f * y + 16.0f * z;
  Volume grown = v;
  grown.resizeCentred({6, 6, 6});
  for (int z = 0; z < 6; ++z)
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 6; ++x) {
        const bool inside = x >= 1 && x <= 4 && y >= 1 && y <= 4 && z >= 1 && z <= 4;
        EXPECT_EQ(grown(x, y, z), inside ? v(x - 1, y - 1, z - 1) : 0.0f);
      }

  Volume big = randomVolume({6, 6, 6}, 2);
  Volume cut = big;
  cut.resizeCentred({3, 3, 3});  // offset (3 - 6) / 2 = -1
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(cut(x, y, z), big(x + 1, y + 1, z + 1));

  Volume same = randomVolume({4, 4, 2}, 3);
  const float* buffer = same.data();
  const float first = same(1, 0, 0);
  same.resizeCentred({4, 2, 4});
  EXPECT_EQ(same.data(), buffer);
  EXPECT_EQ(same(1, 0, 0), first);
}

TEST(VolumeModel, TransposePadAndDerivative) {
  const Volume v = randomVolume({3, 5, 2}, 4);
  const Volume t = transposeXY(v);
  EXPECT_EQ(t.dimensions(), (Dimensions{5, 3, 2}));
  EXPECT_EQ(t(4, 2, 1), v(2, 4, 1));
  const Volume back = transposeXY(t);
  for (size_t i = 0; i < v.voxelCount(); ++i) EXPECT_EQ(back.data()[i], v.data()[i]);

  Volume single(1, 1, 1, 7.5f);
  single.padReplicate({7, 7, 7});
  ASSERT_EQ(single.dimensions(), (Dimensions{15, 15, 15}));
  for (size_t i = 0; i < single.voxelCount(); ++i) EXPECT_EQ(single.data()[i], 7.5f);

  Volume padded = v;
  padded.padReplicate({2, 1, 3});
  ASSERT_EQ(padded.dimensions(), (Dimensions{7, 7, 8}));
  for (int z = 0; z < 8; ++z)
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 7; ++x)
        EXPECT_EQ(padded(x, y, z), v(std::clamp(x - 2, 0, 2), std::clamp(y - 1, 0, 4), std::clamp(z - 3, 0, 1)));

  const Volume d = derivativeY(v);
  for (int z = 0; z < 2; ++z)
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(d(x, 0, z), 0.0f);
      EXPECT_EQ(d(x, 4, z), 0.0f);
      for (int y = 1; y < 4; ++y) EXPECT_EQ(d(x, y, z), (v(x, y + 1, z) - v(x, y - 1, z)) * 0.5f);
    }
  const Volume flat = derivativeY(randomVolume({3, 2, 2}, 5));
  for (size_t i = 0; i < flat.voxelCount(); ++i) EXPECT_EQ(flat.data()[i], 0.0f);
}

TEST(VolumeModel, ArithmeticIsVoxelWiseAndNegationFlipsTheSignBit) {
  const Volume a = randomVolume({4, 3, 2}, 6), b = randomVolume({4, 3, 2}, 7);
  const Volume product = a * b, scaled = a * 3.0f, shifted = a + 0.25f, negated = -a;
  Volume inPlace = a;
  inPlace *= b;
  inPlace *= 2.0f;
  for (size_t i = 0; i < a.voxelCount(); ++i) {
    EXPECT_EQ(product.data()[i], a.data()[i] * b.data()[i]);
    EXPECT_EQ(scaled.data()[i], a.data()[i] * 3.0f);
    EXPECT_EQ(shifted.data()[i], a.data()[i] + 0.25f);
    EXPECT_EQ(negated.data()[i], -a.data()[i]);
    EXPECT_EQ(inPlace.data()[i], a.data()[i] * b.data()[i] * 2.0f);
  }
  const Volume zero = -Volume(2, 2, 2, 0.0f);
  EXPECT_EQ(zero(1, 1, 1), 0.0f);
  EXPECT_TRUE(std::signbit(zero(1, 1, 1)));
}

TEST(VectorModel, SampleLinearFadesToZeroWithinOneElementOutside) {
  Vector v(4);
  for (int i = 0; i < 4; ++i) v[i] = 2.0f + i;
  EXPECT_EQ(v.sampleLinear(-0.5f), 0.5f * v[0]);
  EXPECT_EQ(v.sampleLinear(3.5f), 0.5f * v[3]);
  EXPECT_EQ(v.sampleLinear(1.25f), 0.25f * v[2] + 0.75f * v[1]);
  EXPECT_EQ(v.sampleLinear(2.0f), v[2]);
  for (float t : {-1.5f, -1e9f, 4.0f, 4.7f, 1e9f}) EXPECT_EQ(v.sampleLinear(t), 0.0f) << t;
  EXPECT_TRUE(std::isnan(v.sampleLinear(NAN)));

  const Vector ramp = centredRamp(5);
  const float expected[5] = {-2.5f, -1.5f, -0.5f, 0.5f, 1.5f};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ramp[i], expected[i]);
  // Centred sampling addresses elements by index.
  const Vector atRamp = sampleAtCentred(v, centredRamp(4));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(atRamp[i], v[i]);
  Vector positions(2);
  positions[0] = 0.5f;
  positions[1] = -2.0f;
  const Vector sampled = sampleAt(v, positions);
  EXPECT_EQ(sampled[0], 0.5f * v[1] + 0.5f * v[0]);
  EXPECT_EQ(sampled[1], 0.0f);
}

TEST(VectorModel, ArithmeticUtilitiesAndStorage) {
  std::vector<float> sequence = {3.0f, -1.0f, 3.0f, 7.0f, -4.0f};
  const Vector v(std::move(sequence));
  EXPECT_TRUE(sequence.empty());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(v.max(), 7.0f);
  EXPECT_EQ(v.min(), -4.0f);
  const Vector a = affine(v, 2.0f, 1.0f), q = v / 2.0f, diff = a - v;
  Vector acc = v;
  acc += v;
  acc -= q;
  for (int i = 0; i < v.size(); ++i) {
    EXPECT_EQ(a[i], v[i] * 2.0f + 1.0f);
    EXPECT_EQ(q[i], v[i] / 2.0f);
    EXPECT_EQ(diff[i], a[i] - v[i]);
    EXPECT_EQ(acc[i], (v[i] + v[i]) - q[i]);
  }
  Vector r(5, 0.0f);
  const float* buffer = r.data();
  r.resize(5);
  EXPECT_EQ(r.data(), buffer);
  r.resize(3);
  EXPECT_EQ(r.size(), 3);
}

TEST(MatrixModel, ColumnMajorLayoutAndReallocationRules) {
  Matrix m(2, 3, 0.0f);
  m(1, 2) = 4.0f;
  EXPECT_EQ(m.data()[1 + 2 * 2], 4.0f);
  const Matrix filled({3, 2}, 1.5f);
  EXPECT_EQ(filled.rows(), 3);
  EXPECT_EQ(filled(2, 1), 1.5f);
  const float* buffer = m.data();
  m.resize(3, 2);  // same element count: buffer kept
  EXPECT_EQ(m.data(), buffer);
  EXPECT_EQ(m.rows(), 3);
  Matrix copy;
  copy = filled;
  EXPECT_EQ(copy(1, 1), 1.5f);
  EXPECT_NE(copy.data(), filled.data());
}

}  // namespace
}  // namespace daxo
