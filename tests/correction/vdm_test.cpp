#include "correction/vdm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "correction/bspline.h"
#include "tests/correction/reference_bspline.h"
#include "testsupport/thrownmessage.h"
#include "testsupport/volumes.h"
#include "volume/volumetransform.h"

namespace daxo {
namespace {

using testing::randomVolume;
using testing::referenceCoefficients;
using testing::referenceSample;
using testing::sameBits;
using testing::sampleRoundingBound;
using testing::thrownMessage;

// A map mixing smooth fractional shifts, whole-voxel shifts (fraction 0, the
// case where the fourth y tap has weight 0), shifts that leave the volume and
// non-finite values.
Volume mixedMap(const Dimensions& d) {
  Volume v = randomVolume(d, 21, -3.0f, 3.0f);
  float* p = v.data();
  for (size_t i = 0; i < v.voxelCount(); i += 5) p[i] = std::round(p[i]);
  p[1] = 1e30f;
  p[2] = -1e30f;
  p[3] = std::numeric_limits<float>::quiet_NaN();
  p[4] = std::numeric_limits<float>::infinity();
  p[v.voxelCount() - 1] = 2.0f;
  return v;
}

// warpCubic evaluated the long way: all points listed, then bsplineSample.
Volume cubicThroughSampler(const Volume& src, const Volume& vdm, bool negate) {
  std::vector<Float3> points;
  for (int z = 0; z < src.nz(); ++z)
    for (int y = 0; y < src.ny(); ++y)
      for (int x = 0; x < src.nx(); ++x) {
        const float d = negate ? -vdm(x, y, z) : vdm(x, y, z);
        points.push_back({float(x), float(y) + d, float(z)});
      }
  Volume out(src.dimensions());
  bsplineSample(bsplineCoefficients(src), src.dimensions(), points, out.data(), Float3{});
  return out;
}

TEST(WarpCubic, IsBitIdenticalToSamplingTheListedPoints) {
  const Dimensions d{9, 12, 7};
  const Volume vdm = mixedMap(d);
  // A checkerboard of +-1e7 under small values, sampled half-way between rows:
  // the large terms cancel, so that even the rounding of the double sums shows
  // in the float results.
  Volume checkerboard = randomVolume(d, 6, -1.0f, 1.0f);
  Volume halfway = randomVolume(d, 10, -2.0f, 2.0f);
  for (int z = 0; z < d.z; ++z)
    for (int y = 0; y < d.y; ++y)
      for (int x = 0; x < d.x; ++x) {
        checkerboard(x, y, z) += (x + y + z) % 2 ? 1e7f : -1e7f;
        halfway(x, y, z) = std::round(halfway(x, y, z)) + 0.5f;
      }
  struct Case {
    Volume source, map;
  };
  for (const Case& test : {Case{randomVolume(d, 4, 0.0f, 1000.0f), vdm}, Case{checkerboard, halfway}})
    for (bool negate : {false, true}) {
      Volume dst(d);
      warpCubic(dst, test.source, test.map, negate);
      const Volume expected = cubicThroughSampler(test.source, test.map, negate);
      for (size_t i = 0; i < dst.voxelCount(); ++i)
        ASSERT_TRUE(sameBits(dst.data()[i], expected.data()[i])) << "voxel " << i << " negate " << negate;
    }
  Volume src = randomVolume(d, 4, 0.0f, 1000.0f);
  // A source with infinities makes coefficients non-finite, where a weight-0
  // tap would turn into NaN; the warp must still agree with the sampler.
  src(4, 6, 3) = std::numeric_limits<float>::infinity();
  Volume dst(d);
  warpCubic(dst, src, vdm, false);
  const Volume expected = cubicThroughSampler(src, vdm, false);
  for (size_t i = 0; i < dst.voxelCount(); ++i)
    ASSERT_TRUE(sameBits(dst.data()[i], expected.data()[i])) << "voxel " << i;
}

TEST(WarpCubic, AgreesWithTheSlowReferenceSpline) {
  const Dimensions d{8, 10, 6};
  const Volume src = randomVolume(d, 8, -200.0f, 800.0f);
  const Volume vdm = randomVolume(d, 9, -2.5f, 2.5f);
  const std::vector<double> c = referenceCoefficients(src);
  const double tolerance = sampleRoundingBound(c) + 1e-9;
  for (bool negate : {false, true}) {
    Volume dst(d);
    warpCubic(dst, src, vdm, negate);
    for (int z = 0; z < d.z; ++z)
      for (int y = 0; y < d.y; ++y)
        for (int x = 0; x < d.x; ++x) {
          const float shift = negate ? -vdm(x, y, z) : vdm(x, y, z);
          EXPECT_NEAR(dst(x, y, z), referenceSample(c, d, x, float(y) + shift, z), tolerance);
        }
  }
}

TEST(Warps, ZeroMapReturnsTheSourceIncludingEdges) {
  const Dimensions d{6, 9, 5};
  const Volume src = randomVolume(d, 12, 0.0f, 500.0f);
  const Volume zero(d, 0.0f);
  Volume cubic(d), trilinear(d);
  warpCubic(cubic, src, zero, false);
  warpTrilinear(trilinear, src, zero, true);
  const double tolerance = sampleRoundingBound(bsplineCoefficients(src));
  for (size_t i = 0; i < src.voxelCount(); ++i) {
    EXPECT_NEAR(cubic.data()[i], src.data()[i], tolerance) << "voxel " << i;
    EXPECT_EQ(trilinear.data()[i], src.data()[i]) << "voxel " << i;
  }
}

TEST(Warps, ConstantMapOfOneShiftsByOneRow) {
  const Dimensions d{5, 10, 4};
  const Volume src = randomVolume(d, 13, 0.0f, 500.0f);
  const Volume one(d, 1.0f);
  Volume cubic(d), trilinear(d);
  warpCubic(cubic, src, one, false);
  warpTrilinear(trilinear, src, one, false);
  const std::vector<double> c = referenceCoefficients(src);
  const double tolerance = sampleRoundingBound(c);
  for (int z = 0; z < d.z; ++z)
    for (int x = 0; x < d.x; ++x) {
      for (int y = 0; y + 1 < d.y; ++y) {
        EXPECT_NEAR(cubic(x, y, z), src(x, y + 1, z), tolerance);
        EXPECT_EQ(trilinear(x, y, z), src(x, y + 1, z));
      }
      // Beyond the last row the source is 0: the spline keeps only the tail of
      // the last row's coefficients, the trilinear sample nothing.
      const int last = d.y - 1;
      EXPECT_NEAR(cubic(x, last, z), referenceSample(c, d, x, d.y, z), tolerance);
      EXPECT_EQ(trilinear(x, last, z), 0.0f);
    }
}

TEST(Warps, OppositeSignsMeetOnAVolumeShiftedByTwoRows) {
  // B is A moved up by two rows; A with +1 and B with -1 both land on A(y + 1).
  const Dimensions d{4, 24, 3};
  const Volume a = randomVolume(d, 14, 0.0f, 100.0f);
  Volume b(d, 0.0f);
  for (int z = 0; z < d.z; ++z)
    for (int y = 0; y + 2 < d.y; ++y)
      for (int x = 0; x < d.x; ++x) b(x, y, z) = a(x, y + 2, z);
  const Volume one(d, 1.0f);
  Volume fa(d), fb(d), ta(d), tb(d);
  warpCubic(fa, a, one, false);
  warpCubic(fb, b, one, true);
  warpTrilinear(ta, a, one, false);
  warpTrilinear(tb, b, one, true);
  for (int z = 0; z < d.z; ++z)
    for (int x = 0; x < d.x; ++x) {
      for (int y = 1; y + 2 < d.y; ++y) EXPECT_EQ(ta(x, y, z), tb(x, y, z));
      // The two splines differ only through their edges (b is cut at the top,
      // a at the bottom); that difference decays by 2 - sqrt(3) per row.
      for (int y = 9; y + 9 < d.y; ++y) EXPECT_NEAR(fa(x, y, z), fb(x, y, z), 1e-3);
    }
}

TEST(WarpLinearY, MatchesTrilinearWhereverTheShiftStaysInside) {
  const Dimensions d{6, 11, 4};
  const Volume src = randomVolume(d, 15, 0.0f, 100.0f);
  const Volume vdm = randomVolume(d, 16, -3.0f, 3.0f);
  const Volume box(1, 1, 1, 7.0f);
  VoxelList voxels, boxVoxels;
  for (int z = 0; z < d.z; ++z)
    for (int y = 0; y < d.y; ++y)
      for (int x = 0; x < d.x; ++x) {
        voxels.push_back({x, y, z});
        boxVoxels.push_back({0, 0, 0});
      }
  for (bool negate : {false, true}) {
    Volume linear(d, -1.0f), trilinear(d);
    warpLinearY(linear, src, vdm, voxels, box, boxVoxels, 0.0f, negate);
    warpTrilinear(trilinear, src, vdm, negate);
    int inside = 0;
    for (int z = 0; z < d.z; ++z)
      for (int y = 0; y < d.y; ++y)
        for (int x = 0; x < d.x; ++x) {
          const float yy = float(y) + (negate ? -vdm(x, y, z) : vdm(x, y, z));
          if (yy > 0.0f && yy < float(d.y - 1)) {
            ++inside;
            EXPECT_EQ(linear(x, y, z), trilinear(x, y, z));
          } else {
            EXPECT_EQ(linear(x, y, z), -1.0f);
          }
        }
    EXPECT_GT(inside, 100);
  }
}

TEST(WarpLinearY, TrialShiftScalesTheBoxValueOfEachListedVoxel) {
  // Each listed voxel takes its shift from its own box voxel: the result equals
  // a trilinear warp with the map v + scale * box(b) at those voxels, and no
  // other voxel is touched.
  const Dimensions d{5, 12, 3};
  const Volume src = randomVolume(d, 17, 0.0f, 100.0f);
  const Volume vdm = randomVolume(d, 18, -1.0f, 1.0f);
  const Volume box = randomVolume({3, 3, 3}, 19, 0.0f, 1.0f);
  const float scale = 1.5f;
  VoxelList voxels, boxVoxels;
  for (int z = 0; z < 3; ++z)
    for (int y = 4; y < 7; ++y)
      for (int x = 1; x < 4; ++x) {
        voxels.push_back({x, y, z});
        boxVoxels.push_back({x - 1, 6 - y, 2 - z});
      }
  Volume shifted = vdm;
  for (size_t k = 0; k < voxels.size(); ++k) {
    const Dimensions p = voxels[k], b = boxVoxels[k];
    shifted(p.x, p.y, p.z) = vdm(p.x, p.y, p.z) + scale * box(b.x, b.y, b.z);
  }
  for (bool negate : {false, true}) {
    Volume linear(d, -1.0f), expected(d);
    warpLinearY(linear, src, vdm, voxels, box, boxVoxels, scale, negate);
    warpTrilinear(expected, src, shifted, negate);
    Volume untouched(d, -1.0f);
    for (const Dimensions& p : voxels) untouched(p.x, p.y, p.z) = expected(p.x, p.y, p.z);
    for (size_t i = 0; i < linear.voxelCount(); ++i) EXPECT_EQ(linear.data()[i], untouched.data()[i]) << i;
  }
}

TEST(WarpLinearY, PositionsOnTheFirstOrLastRowAreLeftAlone) {
  const Dimensions d{2, 6, 1};
  Volume src(d, 3.0f);
  Volume vdm(d, 0.0f);
  vdm(0, 2, 0) = -2.0f;  // lands exactly on row 0
  vdm(1, 2, 0) = 3.0f;   // lands exactly on row ny - 1
  VoxelList voxels, boxVoxels;
  for (int y = 0; y < d.y; ++y)
    for (int x = 0; x < d.x; ++x) {
      voxels.push_back({x, y, 0});
      boxVoxels.push_back({0, 0, 0});
    }
  Volume dst(d, -1.0f);
  warpLinearY(dst, src, vdm, voxels, Volume(1, 1, 1, 0.0f), boxVoxels, 0.0f, false);
  for (int x = 0; x < d.x; ++x) {
    EXPECT_EQ(dst(x, 0, 0), -1.0f);
    EXPECT_EQ(dst(x, d.y - 1, 0), -1.0f);
    EXPECT_EQ(dst(x, 2, 0), -1.0f);
    EXPECT_EQ(dst(x, 1, 0), 3.0f);
  }
}

TEST(WarpLinearY, RegressionPositionJustBelowTheLastRowReadsInsideTheVolume) {
  // With ny = 3 a position one float below 2 has yy + 1 rounding up to 3 = ny;
  // the upper row must stay at ny - 1 instead of reading past the volume. The
  // voxel is the last of the buffer, so a read past the column is a read past
  // the allocation.
  const Dimensions d{1, 3, 1};
  Volume src(d);
  src(0, 0, 0) = 10.0f;
  src(0, 1, 0) = 20.0f;
  src(0, 2, 0) = 30.0f;
  Volume vdm(d, 0.0f);
  const float justBelow = std::nextafter(2.0f, 0.0f);
  ASSERT_EQ(justBelow + 1.0f, 3.0f);
  vdm(0, 2, 0) = justBelow - 2.0f;
  Volume dst(d, -1.0f);
  warpLinearY(dst, src, vdm, {{0, 2, 0}}, Volume(1, 1, 1, 0.0f), {{0, 0, 0}}, 0.0f, false);
  const float f = justBelow - 1.0f;
  EXPECT_EQ(dst(0, 2, 0), (1.0f - f) * 20.0f + f * 30.0f);
}

TEST(CorrectVolume, TransposedDataIsShiftedAlongX) {
  // A volume (a, b, c) with its phase encoding along x takes a map of extents
  // (b, a, c); a map of +1 then moves the content one voxel along x.
  const Dimensions d{9, 5, 3};
  const Volume src = randomVolume(d, 20, 0.0f, 100.0f);
  const Volume map(Dimensions{5, 9, 3}, 1.0f);
  const Volume corrected = correctVolume(map, src, true);
  ASSERT_EQ(corrected.dimensions(), d);
  const double tolerance = sampleRoundingBound(bsplineCoefficients(src));
  for (int z = 0; z < d.z; ++z)
    for (int y = 0; y < d.y; ++y)
      for (int x = 0; x + 1 < d.x; ++x) EXPECT_NEAR(corrected(x, y, z), src(x + 1, y, z), tolerance);
  // Untransposed, the result is the plain cubic warp with the project's map.
  const Volume own = randomVolume(d, 22, -1.0f, 1.0f);
  Volume expected(d);
  warpCubic(expected, src, own, false);
  const Volume plain = correctVolume(own, src, false);
  for (size_t i = 0; i < plain.voxelCount(); ++i) EXPECT_EQ(plain.data()[i], expected.data()[i]);
}

TEST(CorrectVolume, MapOfTheWrongFrameFailsTheDimensionCheck) {
  const Volume src(9, 5, 3, 1.0f);
  const Volume map(9, 5, 3, 0.0f);
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { correctVolume(map, src, true); }),
            "assertion failure (vdm:70): dst.dimensions() == src.dimensions()");
}

// Calls the warp selected by `which` (0 cubic, 1 trilinear, 2 linear in y).
void callWarp(int which, Volume& dst, const Volume& src, const Volume& vdm) {
  const VoxelList voxels = {{0, 1, 0}};
  switch (which) {
    case 0:
      warpCubic(dst, src, vdm, false);
      break;
    case 1:
      warpTrilinear(dst, src, vdm, false);
      break;
    default:
      warpLinearY(dst, src, vdm, voxels, Volume(1, 1, 1, 1.0f), {{0, 0, 0}}, 0.0f, false);
  }
}

std::string failureText(int which, Volume& dst, const Volume& src, const Volume& vdm) {
  return thrownMessage<std::logic_error>([&] { callWarp(which, dst, src, vdm); });
}

TEST(Warps, ChecksComeInOrderAndWriteNothing) {
  const int firstLine[3] = {70, 14, 41};
  const Dimensions d{3, 4, 2}, other{3, 4, 3};
  for (int which = 0; which < 3; ++which) {
    const std::string prefix = "assertion failure (vdm:";
    const std::string line = std::to_string(firstLine[which]);
    const std::string line2 = std::to_string(firstLine[which] + 1);
    const std::string line3 = std::to_string(firstLine[which] + 2);
    const Volume src(d, 1.0f), badMap(other, 0.0f), map(d, 0.0f);
    Volume wrongDst(other, 5.0f), dst(d, 5.0f);
    // Both the destination and the map are wrong: the destination is named.
    EXPECT_EQ(failureText(which, wrongDst, src, badMap), prefix + line + "): dst.dimensions() == src.dimensions()");
    EXPECT_EQ(failureText(which, dst, src, badMap), prefix + line2 + "): vdm.dimensions() == src.dimensions()");
    // dst and src the same object, with matching dimensions everywhere.
    Volume same(d, 5.0f);
    EXPECT_EQ(failureText(which, same, same, map), prefix + line3 + "): &dst != &src");
    for (size_t i = 0; i < dst.voxelCount(); ++i) {
      EXPECT_EQ(dst.data()[i], 5.0f);
      EXPECT_EQ(same.data()[i], 5.0f);
    }
    for (size_t i = 0; i < wrongDst.voxelCount(); ++i) EXPECT_EQ(wrongDst.data()[i], 5.0f);
  }
}

}  // namespace
}  // namespace daxo
