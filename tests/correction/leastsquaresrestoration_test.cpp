// Least-squares restoration of a pair of opposite polarity: closer to the
// undistorted head than either scan corrected alone, the same for swapped
// scans, and exact where there is no distortion.
#include "correction/leastsquaresrestoration.h"

#include <gtest/gtest.h>

#include <cmath>

#include "correction/pairmotion.h"
#include "demodata/anatomypair.h"
#include "demodata/displacementfield.h"
#include "demodata/headvolumes.h"
#include "testsupport/volumes.h"

namespace {

using daxo::Volume;

double rmsInside(const Volume& a, const Volume& b, const Volume& mask) {
  double sum = 0.0;
  size_t n = 0;
  for (size_t i = 0; i < a.voxelCount(); ++i)
    if (mask.data()[i] != 0.0f) {
      const double d = static_cast<double>(a.data()[i]) - b.data()[i];
      sum += d * d;
      ++n;
    }
  return std::sqrt(sum / static_cast<double>(n));
}

TEST(LeastSquaresRestoration, BeatsEitherCorrectedScanAndIgnoresTheOrder) {
  daxo::DemoSettings settings;
  settings.nx = 48;
  settings.ny = 48;
  settings.nz = 24;
  settings.field = daxo::DemoField::Strong;  // compresses up to several rows into one voxel
  const Volume object = daxo::gaussianSmoothed(daxo::headObject(settings), 0.8);
  const Volume head = daxo::headMask(settings);
  const Volume field = daxo::trueDisplacement(settings);
  daxo::AnatomyPairRecipe recipe;
  recipe.noise = 10.0;
  const daxo::TruthPair pair = daxo::makeAnatomyPair(object, field, head, recipe);
  daxo::ColumnThreads threads(2);
  const Volume restored = daxo::restoreLeastSquares(pair.first, pair.second, pair.truth, {}, &threads);
  Volume a, b;
  daxo::correctPair(pair.first, pair.second, pair.truth, a, b);
  const double lsr = rmsInside(restored, object, head);
  EXPECT_LT(lsr, 0.8 * rmsInside(a, object, head));
  EXPECT_LT(lsr, 0.8 * rmsInside(b, object, head));

  const Volume swapped = daxo::restoreLeastSquares(pair.second, pair.first, pair.truth * -1.0f, {}, nullptr);
  EXPECT_TRUE(daxo::testing::identicalBytes(restored, swapped));

  // No distortion: the mean of the two scans, up to the faint smoothing.
  const Volume still = daxo::restoreLeastSquares(object, object, Volume(object.dimensions(), 0.0f));
  EXPECT_LT(rmsInside(still, object, head), 1e-3 * rmsInside(object, Volume(object.dimensions(), 0.0f), head) + 2.0);
  EXPECT_THROW(daxo::restoreLeastSquares(object, object, Volume(8, 8, 8, 0.0f)), std::invalid_argument);
}

}  // namespace
