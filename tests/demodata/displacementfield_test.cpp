#include "demodata/displacementfield.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "demodata/headphantom.h"
#include "demodata/random.h"

namespace daxo {
namespace {

DemoSettings smallGrid() {
  DemoSettings s = smallDemoSettings();
  s.maxShiftVoxels = 2.5;
  return s;
}

TEST(DisplacementField, AnalyticDerivativeMatchesFiniteDifferences) {
  for (const DemoSettings& s : {DemoSettings{}, smallGrid()}) {
    const DisplacementField field(s);
    Pcg32 rng(5, 0);
    double worst = 0;
    for (int i = 0; i < 2000; ++i) {
      const double x = rng.nextUniform(-2, s.nx + 1), y = rng.nextUniform(-2, s.ny + 1),
                   z = rng.nextUniform(-2, s.nz + 1);
      // Central difference: truncation error h^2/6 |d'''| < 1e-9 here,
      // rounding about 1e-16 * 5 / h = 5e-12.
      const double h = 1e-4;
      const double numeric = (field.at(x, y + h, z) - field.at(x, y - h, z)) / (2 * h);
      worst = std::max(worst, std::fabs(field.derivativeY(x, y, z) - numeric));
    }
    EXPECT_LT(worst, 1e-8);
  }
}

// Peak |d| and peak |dd/dy| on a lattice of quarter-voxel spacing in y.
struct Peaks {
  double value = 0, slope = 0;
  double x = 0, y = 0, z = 0;  // where the peak value is
};
Peaks measurePeaks(const DemoSettings& s) {
  const DisplacementField field(s);
  Peaks p;
  for (int z = 0; z < s.nz; ++z) {
    for (int x = 0; x < s.nx; ++x) {
      for (double y = 0; y <= s.ny - 1; y += 0.25) {
        const double d = std::fabs(field.at(x, y, z));
        if (d > p.value) p = {d, p.slope, double(x), y, double(z)};
        p.slope = std::max(p.slope, std::fabs(field.derivativeY(x, y, z)));
      }
    }
  }
  return p;
}

TEST(DisplacementField, PeaksNearTheRequestedShiftWithoutFolding) {
  const DemoSettings s;
  const Peaks p = measurePeaks(s);
  const DisplacementField field(s);
  EXPECT_DOUBLE_EQ(field.amplitude(), 5.0);  // not lowered at the default size
  // The lattice misses the true peak by a fraction of a voxel: within 2 %.
  EXPECT_GT(p.value, 0.98 * 5.0);
  EXPECT_LE(p.value, 5.0 + 1e-9);
  EXPECT_LT(p.slope, DisplacementField::kMaxSlope + 0.005);
  // The strongest shift is anterior (low y) and inferior (low z), central in x.
  EXPECT_LT(p.y, 0.35 * s.ny);
  EXPECT_LT(p.z, 0.4 * s.nz);
  EXPECT_NEAR(p.x, 0.5 * (s.nx - 1), 0.1 * s.nx);
}

TEST(DisplacementField, StrongAtTheTemporalLobesAndWeakOnTop) {
  const DemoSettings s;
  const DisplacementField field(s);
  // Temporal lobes: 48 mm lateral of the centre, 5 mm anterior, 34 mm down
  // (the grid centre is at 47.5, 47.5, 23.5; 2.5 mm voxels).
  const double left = field.at(47.5 - 48 / 2.5, 47.5 - 5 / 2.5, 23.5 - 34 / 2.5);
  const double right = field.at(47.5 + 48 / 2.5, 47.5 - 5 / 2.5, 23.5 - 34 / 2.5);
  EXPECT_GT(left, 3.0);
  EXPECT_NEAR(left, right, 1e-12);  // symmetric
  EXPECT_LT(std::fabs(field.at(47.5, 47.5, s.nz - 1)), 1.0);
}

TEST(DisplacementField, StrongestWhereTheBrainMeetsTheSinusesAndTheMastoids) {
  // The anatomy under the field's blobs: the largest shift falls on the
  // skull base between the orbits, behind the frontal sinus, with the frontal
  // lobes a centimetre above on either side of the interhemispheric fissure,
  // and the temporal blobs cover the temporal lobes
  // (their centres lie at the lobes' lateral surface). Inside the skull the
  // slope stays below 0.35; the steepest slopes lie in the face.
  const DemoSettings s;
  const HeadPhantom phantom(s);
  const DisplacementField field(s);
  const Peaks p = measurePeaks(s);
  const TissueMix atPeak = phantom.mixAt(p.x, p.y, p.z);
  EXPECT_GT(atPeak.intracranial, 0.2f);
  EXPECT_GT(atPeak.skull, 0.2f);
  for (double side : {-1.0, 1.0}) {
    const TissueMix above = phantom.mixAt(p.x + side * 10 / 2.5, p.y, p.z + 10 / 2.5);
    EXPECT_GT(above.grey + above.white, 0.9f) << side;
  }
  for (double side : {-1.0, 1.0}) {
    const double x = 47.5 + side * 40 / 2.5, y = 47.5 - 5 / 2.5, z = 23.5 - 34 / 2.5;
    const TissueMix m = phantom.mixAt(x, y, z);
    EXPECT_GT(m.grey + m.white, 0.9f) << side;
    EXPECT_GT(field.at(x, y, z), 3.0) << side;
  }
  double steepestInside = 0;
  for (int z = 0; z < s.nz; ++z)
    for (int y = 0; y < s.ny; ++y)
      for (int x = 0; x < s.nx; x += 2)
        if (phantom.mixAt(x, y, z).intracranial >= 0.5f)
          steepestInside = std::max(steepestInside, std::fabs(field.derivativeY(x, y, z)));
  EXPECT_LT(steepestInside, 0.35);
  EXPECT_GT(steepestInside, 0.25);
}

TEST(DisplacementField, LowersTheShiftWhereTheGridIsTooCoarseToHoldIt) {
  // 32 x 32 x 16 holds the whole head in a third of the voxels: a 5-voxel
  // shift would make |dd/dy| exceed 1.
  DemoSettings s;
  s.nx = 32;
  s.ny = 32;
  s.nz = 16;
  const DisplacementField field(s);
  EXPECT_LT(field.amplitude(), 3.0);
  const Peaks p = measurePeaks(s);
  EXPECT_LT(p.slope, DisplacementField::kMaxSlope + 0.005);
  EXPECT_GT(p.slope, 0.4);  // lowered just enough
  EXPECT_NEAR(p.value, field.amplitude(), 0.05 * field.amplitude());
}

TEST(DisplacementField, TrueDisplacementSamplesTheFieldAtVoxelCentres) {
  const DemoSettings s = smallGrid();
  const DisplacementField field(s);
  const Volume d = trueDisplacement(s);
  ASSERT_EQ(d.dimensions(), (Dimensions{48, 48, 24}));
  for (int z = 0; z < s.nz; z += 5)
    for (int y = 0; y < s.ny; y += 3)
      for (int x = 0; x < s.nx; x += 7) EXPECT_FLOAT_EQ(d(x, y, z), static_cast<float>(field.at(x, y, z)));
}

}  // namespace
}  // namespace daxo
