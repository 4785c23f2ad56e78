#include "demodata/smoothnoise.h"

#include <gtest/gtest.h>

#include <cmath>

#include "demodata/random.h"

namespace daxo {
namespace {

TEST(SmoothNoise, StaysWithinUnitRangeWithAModerateSpread) {
  const SmoothNoise noise(7, 1);
  Pcg32 rng(1, 0);
  double sum = 0, sumSquares = 0;
  const int n = 20000;
  for (int i = 0; i < n; ++i) {
    const double v = noise.at(rng.nextUniform(-50, 50), rng.nextUniform(-50, 50), rng.nextUniform(-50, 50));
    ASSERT_GE(v, -1.0);
    ASSERT_LE(v, 1.0);
    sum += v;
    sumSquares += v * v;
  }
  const double mean = sum / n, sd = std::sqrt(sumSquares / n - mean * mean);
  EXPECT_NEAR(mean, 0.0, 0.05);
  EXPECT_GT(sd, 0.2);
  EXPECT_LT(sd, 0.4);
}

TEST(SmoothNoise, IsContinuousAcrossCellFacesAndSmoothWithin) {
  const SmoothNoise noise(7, 1);
  Pcg32 rng(2, 0);
  for (int i = 0; i < 200; ++i) {
    // Either side of a face of the lattice, on each axis (negative cells included).
    const double a = std::floor(rng.nextUniform(-20, 20)), b = rng.nextUniform(-20, 20), c = rng.nextUniform(-20, 20);
    const double e = 1e-9;
    EXPECT_NEAR(noise.at(a - e, b, c), noise.at(a + e, b, c), 1e-7);
    EXPECT_NEAR(noise.at(b, a - e, c), noise.at(b, a + e, c), 1e-7);
    EXPECT_NEAR(noise.at(b, c, a - e), noise.at(b, c, a + e), 1e-7);
  }
  // The slope of trilinear blending of values in -1 .. 1 with the fade
  // (slope at most 15 / 8) is at most 2 * 15 / 8 per axis.
  for (int i = 0; i < 2000; ++i) {
    const double x = rng.nextUniform(-20, 20), y = rng.nextUniform(-20, 20), z = rng.nextUniform(-20, 20);
    const double h = 1e-3;
    EXPECT_LE(std::fabs(noise.at(x + h, y, z) - noise.at(x, y, z)) / h, 3.75 + 1e-6);
  }
}

TEST(SmoothNoise, DependsOnSeedAndStreamOnly) {
  const SmoothNoise a(7, 1), sameAgain(7, 1), otherSeed(8, 1), otherStream(7, 2);
  int differentSeed = 0, differentStream = 0;
  for (int i = 0; i < 50; ++i) {
    const double x = 0.37 * i, y = -1.3 * i, z = 2.1 + 0.5 * i;
    EXPECT_EQ(a.at(x, y, z), sameAgain.at(x, y, z));
    differentSeed += a.at(x, y, z) != otherSeed.at(x, y, z);
    differentStream += a.at(x, y, z) != otherStream.at(x, y, z);
  }
  EXPECT_EQ(differentSeed, 50);
  EXPECT_EQ(differentStream, 50);
}

}  // namespace
}  // namespace daxo
