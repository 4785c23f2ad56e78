// The pair report's figures and rescaled pair on the demo head, whose scans
// are dimmed where the field stretches them and brightened where it
// compresses them, as real ones are.
#include "pipeline/pairreportdata.h"

#include <gtest/gtest.h>

#include <cmath>

#include "correction/pairagreement.h"
#include "correction/vdm.h"
#include "demodata/demosettings.h"
#include "demodata/displacementfield.h"
#include "demodata/distortedscan.h"

namespace daxo::pipeline {
namespace {

double meanAbsoluteDifferenceInside(const Volume& a, const Volume& b, const Volume& mask) {
  double sum = 0.0;
  size_t count = 0;
  for (size_t i = 0; i < a.voxelCount(); ++i) {
    if (mask.data()[i] == 0.0f) continue;
    sum += std::fabs(double(a.data()[i]) - double(b.data()[i]));
    ++count;
  }
  return sum / double(count);
}

TEST(PairReportData, TheCorrectedPairIsRescaledByTheMapsStretchAlongThePhaseAxisAndItsAgreementComesFirst) {
  const DemoSettings settings = smallDemoSettings();
  const Volume scan0 = distortedScan(settings, PhaseDirection::First);
  const Volume scan1 = distortedScan(settings, PhaseDirection::Second);
  const Volume map = trueDisplacement(settings);
  const report::PairReportInputs in = pairReportInputs(scan0, scan1, map, {2.5, 2.5, 2.5}, false);

  // The reference: each corrected scan times 1 +- the map's central
  // difference along y (0 on the first and last rows).
  const Volume corrected0 = correctVolume(map, scan0, false);
  const Volume corrected1 = correctVolume(map * -1.0f, scan1, false);
  ASSERT_EQ(in.rescaled0.dimensions(), map.dimensions());
  ASSERT_EQ(in.rescaled1.dimensions(), map.dimensions());
  for (int z = 0; z < map.nz(); ++z)
    for (int y = 0; y < map.ny(); ++y)
      for (int x = 0; x < map.nx(); ++x) {
        const float slope = y == 0 || y == map.ny() - 1 ? 0.0f : (map(x, y + 1, z) - map(x, y - 1, z)) * 0.5f;
        ASSERT_FLOAT_EQ(in.rescaled0(x, y, z), corrected0(x, y, z) * (1.0f + slope)) << x << " " << y << " " << z;
        ASSERT_FLOAT_EQ(in.rescaled1(x, y, z), corrected1(x, y, z) * (1.0f - slope)) << x << " " << y << " " << z;
      }

  // With the true map, the rescaled pair is what the correction brings
  // together: closer than the plain corrected pair, by correlation and by
  // the difference the page shows.
  EXPECT_GT(maskedCorrelation(in.rescaled0, in.rescaled1, in.headMask),
            maskedCorrelation(in.corrected0, in.corrected1, in.headMask) + 0.005);
  EXPECT_LT(meanAbsoluteDifferenceInside(in.rescaled0, in.rescaled1, in.headMask),
            0.8 * meanAbsoluteDifferenceInside(in.corrected0, in.corrected1, in.headMask));
  ASSERT_GE(in.numbers.size(), 2u);
  EXPECT_EQ(in.numbers[0].first, "Correlation inside the head, rescaled by the local stretch");
  EXPECT_EQ(in.numbers[1].first, "Correlation inside the head");

  // Phase encoding along x: the same pair transposed gives the same
  // volumes transposed, the stretch taken along x.
  const report::PairReportInputs alongX =
      pairReportInputs(transposeXY(scan0), transposeXY(scan1), transposeXY(map), {2.5, 2.5, 2.5}, true);
  EXPECT_EQ(alongX.phaseAxis, 0);
  const Volume expected0 = transposeXY(in.rescaled0);
  const Volume expected1 = transposeXY(in.rescaled1);
  for (size_t i = 0; i < expected0.voxelCount(); ++i) {
    ASSERT_FLOAT_EQ(alongX.rescaled0.data()[i], expected0.data()[i]) << i;
    ASSERT_FLOAT_EQ(alongX.rescaled1.data()[i], expected1.data()[i]) << i;
  }
  EXPECT_EQ(alongX.numbers, in.numbers);
}

}  // namespace
}  // namespace daxo::pipeline
