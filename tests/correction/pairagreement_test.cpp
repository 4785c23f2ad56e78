#include "correction/pairagreement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "testsupport/volumes.h"

namespace daxo {
namespace {

using testing::rowOf;

TEST(MaskedCorrelation, MatchesHandComputedValues) {
  const Volume all = rowOf({1, 1, 1, 1});
  EXPECT_NEAR(maskedCorrelation(rowOf({1, 2, 3, 4}), rowOf({3, 5, 7, 9}), all), 1.0, 1e-15);
  EXPECT_NEAR(maskedCorrelation(rowOf({1, 2, 3, 4}), rowOf({4, 3, 2, 1}), all), -1.0, 1e-15);
  // (1, 2, 3) against (1, 3, 2): centred (-1, 0, 1) and (-1, 1, 0) give 1 / sqrt(2 * 2) = 0.5.
  // The fourth voxel would spoil it but is masked out.
  EXPECT_NEAR(maskedCorrelation(rowOf({1, 2, 3, 50}), rowOf({1, 3, 2, -50}), rowOf({1, 1, 1, 0})), 0.5, 1e-15);
}

TEST(MaskedCorrelation, LargeOffsetsDoNotCancel) {
  // Offsets of 1e6 in float would destroy a one-pass sum of squares.
  EXPECT_NEAR(maskedCorrelation(rowOf({1e6f + 1, 1e6f + 2, 1e6f + 3}), rowOf({1, 3, 2}), rowOf({1, 1, 1})), 0.5, 1e-12);
}

TEST(MaskedCorrelation, ConstantVolumeGivesNaNAndBadInputThrows) {
  EXPECT_TRUE(std::isnan(maskedCorrelation(rowOf({2, 2, 2}), rowOf({1, 2, 3}), rowOf({1, 1, 1}))));
  EXPECT_THROW(maskedCorrelation(rowOf({1, 2}), rowOf({1, 2}), rowOf({0, 0})), std::invalid_argument);
  EXPECT_THROW(maskedCorrelation(rowOf({1, 2}), rowOf({1, 2}), rowOf({1})), std::invalid_argument);
}

TEST(PairHeadMask, ATenthOfTheBrightMeanWithoutNoiseOrNaN) {
  // Means: 0, 5, 50, 100 x 96 voxels, NaN; the 99th percentile is 100.
  std::vector<float> a(100, 100.0f), b(100, 100.0f);
  a[0] = b[0] = 0.0f;
  a[1] = 0.0f;
  b[1] = 10.0f;  // mean 5: below a tenth of 100
  a[2] = 40.0f;
  b[2] = 60.0f;  // mean 50: inside
  a[3] = NAN;
  const Volume mask = pairHeadMask(rowOf(a), rowOf(b));
  EXPECT_EQ(mask.data()[0], 0.0f);
  EXPECT_EQ(mask.data()[1], 0.0f);
  EXPECT_EQ(mask.data()[2], 1.0f);
  EXPECT_EQ(mask.data()[3], 0.0f);
  EXPECT_EQ(mask.data()[50], 1.0f);
  EXPECT_EQ(pairHeadMask(rowOf({0, 0}), rowOf({0, 0})).data()[1], 0.0f);
  EXPECT_THROW(pairHeadMask(rowOf({1, 2}), rowOf({1})), std::invalid_argument);
}

}  // namespace
}  // namespace daxo
