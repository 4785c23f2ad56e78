#include "demodata/anatomypair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "correction/noisefloor.h"
#include "demodata/smoothnoise.h"

namespace daxo {
namespace {

// A head with fine texture (features about 1.5 voxels across, a third of its
// signal: like real anatomy at 2-3 mm), a smooth field of up to 2 voxels,
// and pairs made from it with known noise.
struct TexturedHead {
  static constexpr double kNoise = 0.02;
  Volume object{48, 56, 20}, head{48, 56, 20}, field{48, 56, 20};

  TexturedHead() {
    const SmoothNoise texture(11, 1);
    for (int32_t z = 0; z < 20; ++z)
      for (int32_t y = 0; y < 56; ++y)
        for (int32_t x = 0; x < 48; ++x) {
          const double u = (x - 23.5) / 18.0, v = (y - 27.5) / 22.0, w = (z - 9.5) / 9.0;
          const bool inside = u * u + v * v + w * w < 1.0;
          object(x, y, z) = inside ? static_cast<float>(1.0 + 0.35 * texture.at(x / 1.5, y / 1.5, z / 1.5)) : 0.0f;
          head(x, y, z) = inside ? 1.0f : 0.0f;
          field(x, y, z) = static_cast<float>(2.0 * std::exp(-(u * u + v * v + w * w)) * std::sin(0.9 * u + 0.4));
        }
  }

  TruthPair pair(uint64_t seed) const {
    AnatomyPairRecipe recipe;
    recipe.noise = kNoise;
    recipe.seed = seed;
    return makeAnatomyPair(object, field, head, recipe);
  }
};

// The pair's own measure finds the noise the pairs were given, where a
// high-pass filter on one scan counts the texture too; a volume whose scans
// disagree (here the second scan of one pair moved a voxel along x, as motion
// between the runs would) only raises its own measure, and the least is
// taken.
TEST(PairNoise, FindsTheNoiseOfTexturedPairsThroughTheirMap) {
  const TexturedHead h;
  const TruthPair a = h.pair(1), b = h.pair(2);
  Volume moved(b.second.dimensions(), 0.0f);
  for (int32_t z = 0; z < moved.nz(); ++z)
    for (int32_t y = 0; y < moved.ny(); ++y)
      for (int32_t x = 1; x < moved.nx(); ++x) moved(x, y, z) = b.second(x - 1, y, z);

  const double measured = pairNoise({a.first, b.first}, {a.second, moved}, h.field, h.head);
  EXPECT_NEAR(measured, TexturedHead::kNoise, 0.1 * TexturedHead::kNoise);
  EXPECT_GT(pairNoise({b.first}, {moved}, h.field, h.head), 2.0 * measured);
  EXPECT_GT(highPassNoise(a.first, h.head), 1.5 * TexturedHead::kNoise);
  EXPECT_EQ(pairNoise({}, {}, h.field, h.head), 0.0);
}

// A field resampled from 3 mm to 2 mm voxels keeps its smoothness: the second
// differences of a quadratic stay constant inside the grid (away from the
// spline's ends), where a trilinear resampling bends it at the source's planes.
TEST(ResampledCentred, CubicResamplingPutsNoKinksIntoAField) {
  Volume field(30, 30, 20);
  for (int32_t z = 0; z < 20; ++z)
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 30; ++x) field(x, y, z) = static_cast<float>(0.02 * (x - 14.5) * (x - 14.5) + 0.1 * y);
  const Dimensions extents{45, 45, 30};
  const Volume cubic = resampledCentredCubic(field, {3.0, 3.0, 3.0}, extents, {2.0, 2.0, 2.0});
  const Volume linear = resampledCentred(field, {3.0, 3.0, 3.0}, extents, {2.0, 2.0, 2.0});
  const double expected = 0.02 * 2.0 * (2.0 / 3.0) * (2.0 / 3.0);  // f'' in voxels of the new grid
  double cubicWorst = 0.0, linearWorst = 0.0;
  for (int32_t x = 12; x + 12 < extents.x; ++x) {
    const auto second = [x](const Volume& v) { return v(x + 1, 22, 15) - 2.0 * v(x, 22, 15) + v(x - 1, 22, 15); };
    cubicWorst = std::max(cubicWorst, std::fabs(second(cubic) - expected));
    linearWorst = std::max(linearWorst, std::fabs(second(linear) - expected));
  }
  EXPECT_LT(cubicWorst, 0.02 * expected);
  EXPECT_GT(linearWorst, 0.2 * expected);
  EXPECT_NEAR(cubic(22, 22, 15), linear(22, 22, 15), 0.01);
}

}  // namespace
}  // namespace daxo
