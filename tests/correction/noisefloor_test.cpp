// The noise floor of magnitude scans: its measure and its removal.
#include "correction/noisefloor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "correction/variationalestimate.h"
#include "demodata/accuracy.h"
#include "demodata/truthpair.h"

using daxo::Volume;

namespace {

// A bright ball on a dark background, smooth inside, with Gaussian noise of
// the given deviation added everywhere.
Volume noisyBall(double deviation, uint32_t seed) {
  Volume v(96, 96, 4, 0.0f);
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, deviation);
  for (int32_t z = 0; z < v.nz(); ++z)
    for (int32_t y = 0; y < v.ny(); ++y)
      for (int32_t x = 0; x < v.nx(); ++x) {
        const double r = std::hypot(x - 47.5, y - 47.5);
        const double signal = r < 40.0 ? 800.0 + 4.0 * x - 3.0 * y : 0.0;
        v(x, y, z) = static_cast<float>(signal + noise(random));
      }
  return v;
}

}  // namespace

// The measure finds the noise's deviation on a ramp it cancels, and the
// bright region is the ball without the background.
TEST(NoiseFloor, MeasuresTheNoiseInsideTheHead) {
  for (const double deviation : {5.0, 20.0, 60.0}) {
    SCOPED_TRACE(deviation);
    const Volume v = noisyBall(deviation, 7);
    const Volume head = daxo::brightRegion(v, 0.15);
    EXPECT_EQ(head(48, 48, 2), 1.0f);
    EXPECT_EQ(head(2, 2, 2), 0.0f);
    // The voxels by the ball's rim (a step of 800), about a seventh of the
    // region, raise the median by about an eighth.
    EXPECT_NEAR(daxo::highPassNoise(v, head), 1.12 * deviation, 0.04 * deviation);
  }
  const Volume flat(1, 1, 1, 3.0f);
  EXPECT_EQ(daxo::highPassNoise(flat, flat), 0.0);  // no voxel has its neighbours
}

TEST(NoiseFloor, RemovesTheFloorVoxelByVoxel) {
  Volume v(5, 1, 1, 0.0f);
  const float values[] = {0.0f, -2.0f, 3.0f, 5.0f, 100.0f};
  for (int32_t x = 0; x < 5; ++x) v(x, 0, 0) = values[x];
  const Volume out = daxo::withoutNoiseFloor(v, 4.0);
  const float expected[] = {0.0f, 0.0f, 0.0f, 3.0f, static_cast<float>(std::sqrt(10000.0 - 16.0))};
  for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(out(x, 0, 0), expected[x]) << x;
}

// Magnitude noise leaves a floor in the dark edges of the head that the
// distortion does not move; compared through their Jacobians, the scans
// then disagree there unless the floor is removed.
TEST(NoiseFloor, RemovingItRecoversTheFieldBetter) {
  daxo::TruthPairRecipe setup;
  setup.extents = {48, 48, 24};
  setup.noise *= 2;
  setup.bumps = {daxo::FieldBump{7, 23.5, 16, 9, 9, 7 * std::exp(-0.5) / 0.85, 6}};
  const daxo::TruthPair pair = daxo::makeTruthPair(setup);
  // The smoothing across PE the same everywhere: following the signal, it
  // is weaker where the floor would pull the map flat, which leaves the floor
  // less to do on this small head (3 % here, 16 % on the full-size one).
  daxo::VariationalSettings with, without;
  with.weights.signalReference = without.weights.signalReference = 0.0;
  without.removeNoiseFloor = false;
  const double kept = daxo::displacementError(daxo::estimateVariational(pair.first, pair.second, without, nullptr),
                                              pair.truth, pair.mask)
                          .rms;
  const double removed =
      daxo::displacementError(daxo::estimateVariational(pair.first, pair.second, with, nullptr), pair.truth, pair.mask)
          .rms;
  EXPECT_LT(removed, 0.95 * kept) << "with the floor " << kept << ", without " << removed;
}
