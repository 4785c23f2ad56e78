#include "demodata/accuracy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "testsupport/volumes.h"

namespace daxo {
namespace {

using testing::rowOf;

TEST(DisplacementError, MatchesHandComputedFiguresInsideTheMask) {
  // |v - d| inside the mask: 0, 1, 2, 3 (the fifth voxel, error 100, is masked out).
  const Volume v = rowOf({1, 2, 5, -3, 100});
  const Volume d = rowOf({1, 1, 3, 0, 0});
  const Volume mask = rowOf({1, 1, 1, 1, 0});
  const DisplacementError e = displacementError(v, d, mask);
  EXPECT_EQ(e.voxels, 4u);
  EXPECT_DOUBLE_EQ(e.rms, std::sqrt((0.0 + 1 + 4 + 9) / 4));
  // Nearest rank: ceil(0.95 * 4) = 4, the largest error.
  EXPECT_DOUBLE_EQ(e.percentile95, 3.0);
}

TEST(DisplacementError, NinetyFifthPercentileIsTheNearestRank) {
  // Errors 1 .. 40: rank ceil(0.95 * 40) = 38.
  std::vector<float> v, d, m;
  for (int i = 40; i >= 1; --i) {
    v.push_back(static_cast<float>(i % 2 ? i : -i));
    d.push_back(0);
    m.push_back(0.5f);  // any nonzero value selects the voxel
  }
  const DisplacementError e = displacementError(rowOf(v), rowOf(d), rowOf(m));
  EXPECT_EQ(e.voxels, 40u);
  EXPECT_DOUBLE_EQ(e.percentile95, 38.0);
}

TEST(DisplacementError, NonFiniteEstimateIsReportedAsInfinitelyWrong) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const DisplacementError e = displacementError(rowOf({0, nan}), rowOf({0, 0}), rowOf({1, 1}));
  EXPECT_TRUE(std::isinf(e.rms));
  EXPECT_TRUE(std::isinf(e.percentile95));
}

TEST(DisplacementError, RejectsEmptyMaskAndMismatchedExtents) {
  EXPECT_THROW(displacementError(rowOf({1, 2}), rowOf({1, 2}), rowOf({0, 0})), std::invalid_argument);
  EXPECT_THROW(displacementError(rowOf({1, 2}), rowOf({1, 2, 3}), rowOf({1, 1})), std::invalid_argument);
}

}  // namespace
}  // namespace daxo
