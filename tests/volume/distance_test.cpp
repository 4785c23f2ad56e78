#include "volume/distance.h"

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

Vector vectorOf(std::vector<float> values) { return Vector(std::move(values)); }

TEST(Distance, EqualAndLinearlyRelatedVolumes) {
  const Volume a = randomVolume({8, 7, 6}, 1, 0.0f, 100.0f);
  EXPECT_EQ(ssd(a, a), 0.0);
  EXPECT_EQ(meanSsd(a, a), 0.0);
  EXPECT_NEAR(ncc(a, a), 1.0, 1e-4);
  EXPECT_NEAR(ncc(a, a * 2.0f + 3.0f), 1.0, 1e-4);
  EXPECT_NEAR(ncc(a, -a), -1.0, 1e-4);
  // A constant input has no variance: not finite, and no exception.
  EXPECT_FALSE(std::isfinite(ncc(a, Volume(8, 7, 6, 2.0f))));
}

// The accumulation precisions are part of the results: SSD squares and sums
// the single-precision difference in double, correlations stay in float.
TEST(Distance, SumsUseTheStatedPrecisionAndOrder) {
  const Volume a = randomVolume({9, 8, 7}, 2), b = randomVolume({9, 8, 7}, 3);
  double expectedSsd = 0.0;
  float sa = 0, saa = 0, sb = 0, sbb = 0, sab = 0;
  for (size_t i = 0; i < a.voxelCount(); ++i) {
    const double d = a.data()[i] - b.data()[i];
    expectedSsd += d * d;
    const float x = a.data()[i], y = b.data()[i];
    sa += x;
    saa += x * x;
    sb += y;
    sbb += y * y;
    sab += x * y;
  }
  EXPECT_EQ(ssd(a, b), expectedSsd);
  EXPECT_EQ(meanSsd(a, b), expectedSsd / 504.0);
  const float n = 504.0f;
  const float expectedNcc = (n * sab - sa * sb) / (std::sqrt(n * saa - sa * sa) * std::sqrt(n * sbb - sb * sb));
  EXPECT_EQ(ncc(a, b), static_cast<double>(expectedNcc));

  const VoxelList list = {{1, 2, 3}, {8, 7, 6}, {0, 0, 0}, {1, 2, 3}};
  double listSsd = 0.0;
  for (const Dimensions& p : list) {
    const double d = a(p.x, p.y, p.z) - b(p.x, p.y, p.z);
    listSsd += d * d;
  }
  EXPECT_EQ(ssdAt(a, b, list), listSsd);
  EXPECT_NEAR(nccAt(a, a * 2.0f, list), 1.0, 1e-5);
  EXPECT_EQ(ssdAt(a, b, {}), 0.0);
  EXPECT_TRUE(std::isnan(nccAt(a, b, {})));
}

TEST(Distance, MeanSquaredDifferenceSkipsZeroEntries) {
  EXPECT_EQ(meanSquaredDifferenceNonZero(vectorOf({1, 0, 3}), vectorOf({2, 5, 0})), 1.0);
  EXPECT_EQ(meanSquaredDifferenceNonZero(vectorOf({0, 0}), vectorOf({0, 0})), 0.0);
  EXPECT_EQ(meanSquaredDifferenceNonZero(vectorOf({1, 4, 2}), vectorOf({3, 1, 2})), 13.0 / 3.0);
  EXPECT_TRUE(std::isnan(meanSquaredDifferenceNonZero(vectorOf({NAN, 1}), vectorOf({1, 1}))));
}

TEST(Distance, MismatchedInputsRaiseTheirAssertions) {
  const Volume a(4, 4, 4, 1.0f), b(4, 4, 5, 1.0f);
  auto text = [](const std::string& line, const std::string& condition) {
    return "assertion failure (distance:" + line + "): " + condition;
  };
  auto message = [](auto&& call) { return thrownMessage<std::logic_error>(call); };
  EXPECT_EQ(message([&] { ssd(a, b); }), text("15", "dim1 == dim2"));
  EXPECT_EQ(message([&] { meanSsd(a, b); }), text("15", "dim1 == dim2"));
  EXPECT_EQ(message([&] { ncc(a, b); }), text("37", "dim1 == dim2"));
  EXPECT_EQ(message([&] { ssdAt(a, b, {}); }), text("63", "vol1.dimensions() == vol2.dimensions()"));
  EXPECT_EQ(message([&] { nccAt(a, b, {}); }), text("76", "vol1.dimensions() == vol2.dimensions()"));
  EXPECT_EQ(message([&] { meanSquaredDifferenceNonZero(Vector(3, 1.0f), Vector(2, 1.0f)); }),
            text("133", "vec1.size() == vec2.size()"));
}

}  // namespace
}  // namespace daxo
