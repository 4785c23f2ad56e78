#include "correction/localsweep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "correction/boxtrials.h"
#include "correction/shiftcosts.h"
#include "correction/vdm.h"
#include "tests/correction/reference_sweep.h"
#include "testsupport/volumes.h"
#include "volume/vectorlanes.h"

namespace daxo {
namespace {

using testing::volumeOf;

using testing::expectSameVolume;
using testing::randomVolume;

TEST(BuildBoxLists, ClipsTheBoxAtTheVolumeCorners) {
  const Dimensions volume{10, 9, 8}, box{7, 7, 7};
  VoxelList voxels, boxVoxels;
  buildBoxLists(volume, {0, 0, 0}, box, voxels, boxVoxels);
  ASSERT_EQ(voxels.size(), 64u);
  ASSERT_EQ(boxVoxels.size(), 64u);
  // z outermost, then y, then x; box coordinates 3 .. 6 on every axis.
  size_t k = 0;
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x, ++k) {
        EXPECT_EQ(voxels[k], (Dimensions{x, y, z}));
        EXPECT_EQ(boxVoxels[k], (Dimensions{x + 3, y + 3, z + 3}));
      }
  // The far corner keeps box coordinates 0 .. 3; the lists are rebuilt, not
  // appended to.
  buildBoxLists(volume, {9, 8, 7}, box, voxels, boxVoxels);
  ASSERT_EQ(voxels.size(), 64u);
  EXPECT_EQ(voxels.front(), (Dimensions{6, 5, 4}));
  EXPECT_EQ(boxVoxels.front(), (Dimensions{0, 0, 0}));
  EXPECT_EQ(voxels.back(), (Dimensions{9, 8, 7}));
  EXPECT_EQ(boxVoxels.back(), (Dimensions{3, 3, 3}));
  // Inside, the whole box; a box of unequal extents.
  buildBoxLists(volume, {5, 4, 4}, {3, 5, 1}, voxels, boxVoxels);
  ASSERT_EQ(voxels.size(), 15u);
  EXPECT_EQ(voxels.front(), (Dimensions{4, 2, 4}));
  EXPECT_EQ(voxels[3], (Dimensions{4, 3, 4}));
  EXPECT_EQ(boxVoxels.back(), (Dimensions{2, 4, 0}));
}

// Identical scans whose intensity varies along y: a voxel whose box stays
// inside rows 1 .. ny - 2 for every shift finds SSD 0 only at shift 0.
TEST(SweepStage, IdenticalScansKeepTheMapWhereTheBoxStaysInside) {
  const Dimensions d{6, 16, 5};
  const Volume scan = volumeOf(d, [](int x, int y, int z) { return 400.0f + 150.0f * std::sin(0.6f * y + x + z); });
  Volume F = scan, G = scan, acc(d, 0.0f), weights(d, 0.25f);
  const Volume v(d, 0.0f), box(3, 3, 3, 1.0f);
  const size_t searched =
      sweepStage({F, G, scan, scan, v}, {box, {-1.0f, -0.5f, 0.0f, 0.5f, 1.0f}, true}, {acc, weights});
  EXPECT_EQ(searched, d.x * d.y * d.z + 0u);
  for (int z = 0; z < d.z; ++z)
    for (int y = 3; y <= d.y - 4; ++y)
      for (int x = 0; x < d.x; ++x) EXPECT_EQ(acc(x, y, z), 0.0f) << x << " " << y << " " << z;
  for (size_t i = 0; i < weights.voxelCount(); ++i) EXPECT_EQ(weights.data()[i], 1.0f);
}

// Equal costs keep the first shift of the list; voxels dark in both warped
// scans keep their value and weight.
TEST(SweepStage, EqualCostsChooseTheFirstShiftAndDarkVoxelsAreLeft) {
  const Dimensions d{8, 10, 4};
  const Volume scan = volumeOf(d, [](int x, int, int) { return x < 5 ? 200.0f : 50.0f; });
  Volume F = scan, G = scan, weights(d, 0.25f);
  const Volume v = randomVolume(d, 3, -0.5f, 0.5f);
  Volume acc = v;
  const std::vector<float> shifts = {-5.0f, -4.0f, 0.0f, 4.0f, 5.0f};
  sweepStage({F, G, scan, scan, v}, {Volume(3, 3, 3, 1.0f), shifts, true}, {acc, weights});
  for (int z = 0; z < d.z; ++z)
    for (int y = 0; y < d.y; ++y)
      for (int x = 0; x < d.x; ++x) {
        if (x < 5) {
          EXPECT_EQ(acc(x, y, z), v(x, y, z) + -5.0f);
          EXPECT_EQ(weights(x, y, z), 1.0f);
        } else {
          EXPECT_EQ(acc(x, y, z), v(x, y, z));
          EXPECT_EQ(weights(x, y, z), 0.25f);
        }
      }
}

// One voxel bright in F only: it alone is searched, and afterwards its box
// holds the last shift's samples in F and G, not the chosen shift's.
TEST(SweepStage, LeavesTheLastTrialInTheWarpedScans) {
  const Dimensions d{7, 12, 5};
  const Volume Am = volumeOf(d, [](int x, int y, int z) { return 5.0f * y + x + z; });
  const Volume Pm = volumeOf(d, [](int x, int y, int z) { return 90.0f - 5.0f * y + x - z; });
  Volume F(d, 0.0f), G(d, 0.0f), acc(d, 0.0f), weights(d, 0.25f);
  const Dimensions centre{3, 6, 2};
  F(centre.x, centre.y, centre.z) = 150.0f;
  const Volume v = volumeOf(d, [](int x, int, int z) { return 0.1f * x - 0.2f * z; });
  const Volume box(3, 3, 3, 1.0f);
  const std::vector<float> shifts = {-1.0f, 0.0f, 1.5f};
  EXPECT_EQ(sweepStage({F, G, Am, Pm, v}, {box, shifts, true}, {acc, weights}), 1u);
  Volume expectedF(d, 0.0f), expectedG(d, 0.0f);
  expectedF(centre.x, centre.y, centre.z) = 150.0f;
  VoxelList voxels, boxVoxels;
  buildBoxLists(d, centre, box.dimensions(), voxels, boxVoxels);
  warpLinearY(expectedF, Am, v, voxels, box, boxVoxels, shifts.back(), false);
  warpLinearY(expectedG, Pm, v, voxels, box, boxVoxels, shifts.back(), true);
  expectSameVolume(F, expectedF, "F");
  expectSameVolume(G, expectedG, "G");
  EXPECT_EQ(weights(centre.x, centre.y, centre.z), 1.0f);
  EXPECT_NE(acc(centre.x, centre.y, centre.z), 0.0f);
}

// An empty shift list has no best shift: nothing is searched or changed.
TEST(SweepStage, RegressionEmptyShiftListChangesNothing) {
  const Dimensions d{4, 6, 3};
  const Volume scan = randomVolume(d, 5, 0.0f, 1000.0f);
  Volume F = scan, G = scan, acc(d, 0.5f), weights(d, 0.25f);
  EXPECT_EQ(sweepStage({F, G, scan, scan, Volume(d, 0.0f)}, {Volume(3, 3, 3, 1.0f), {}, true}, {acc, weights}), 0u);
  expectSameVolume(F, scan, "F");
  expectSameVolume(G, scan, "G");
  expectSameVolume(acc, Volume(d, 0.5f), "acc");
  expectSameVolume(weights, Volume(d, 0.25f), "weights");
}

// Random scans with dark and bright voxels and a map that sends some boxes out
// of the volume: the sweep matches the obvious one bit for bit in the map, the
// weights and the warped scans it leaves behind, for both costs, for boxes of
// varying values (trials from the voxel lists), of one value (trials from the
// per-slice table, also with a box deeper than the volume), and of one value
// with more shifts than the table holds; on 1, 2 and 3 threads.
TEST(SweepStage, IsBitIdenticalToTheReference) {
  const Dimensions d{9, 14, 6};
  const Volume Am = randomVolume(d, 11, 0.0f, 300.0f);
  const Volume Pm = randomVolume(d, 12, 0.0f, 300.0f);
  const Volume v = randomVolume(d, 13, -4.0f, 4.0f);
  const std::vector<float> shifts = {-2.0f, -0.7f, 0.0f, 0.7f, 2.0f, 0.0f};
  std::vector<float> manyShifts;
  for (int i = -20; i <= 20; ++i) manyShifts.push_back(0.1f * static_cast<float>(i));
  struct Case {
    const char* name;
    Volume box;
    const std::vector<float>& shifts;
  };
  const Case cases[] = {{"varying box", randomVolume({3, 5, 7}, 14, 0.5f, 1.5f), shifts},
                        {"uniform box", Volume(5, 3, 7, 1.3f), shifts},
                        {"uniform box deeper than the volume", Volume(3, 3, 9, 0.8f), shifts},
                        {"uniform box, 41 shifts", Volume(3, 3, 3, 1.0f), manyShifts}};
  for (const Case& c : cases)
    for (bool useSsd : {true, false})
      for (int threads : {1, 2, 3}) {
        SCOPED_TRACE(std::string(c.name) + (useSsd ? ", SSD, " : ", NCC, ") + std::to_string(threads) + " threads");
        ColumnThreads pool(threads);
        Volume F = randomVolume(d, 15, 0.0f, 250.0f), G = Am;
        Volume acc = v, weights(d, 0.25f);
        Volume refF = F, refG = G, refAcc = v, refWeights(d, 0.25f);
        const size_t searched = sweepStage({F, G, Am, Pm, v}, {c.box, c.shifts, useSsd}, {acc, weights}, &pool);
        testing::referenceSweep(refF, refG, Am, Pm, v, c.box, c.shifts, useSsd, refAcc, refWeights);
        expectSameVolume(acc, refAcc, "acc");
        expectSameVolume(weights, refWeights, "weights");
        expectSameVolume(F, refF, "F");
        expectSameVolume(G, refG, "G");
        size_t expected = 0;
        for (size_t i = 0; i < weights.voxelCount(); ++i) expected += weights.data()[i] == 1.0f;
        EXPECT_EQ(searched, expected);
        EXPECT_GT(searched, 100u);
      }
}

// The trials of a uniform box, at every vector width this computer runs,
// give the costs of the listed trials bit for bit: for centres inside and at
// the corners, shift lists that fill their blocks or not, voxels whose
// positions leave the column for some shifts (a map of +-4 on 14 rows), and
// box voxels that an earlier centre covered (they start from the leftovers).
template <typename Costs>
void expectEveryWidthMatchesTheListedTrials(const char* measure) {
  const Dimensions d{21, 14, 6};
  const Volume Am = randomVolume(d, 31, 0.0f, 300.0f), Pm = randomVolume(d, 32, 0.0f, 300.0f);
  const Volume v = randomVolume(d, 33, -4.0f, 4.0f);
  Volume F = randomVolume(d, 34, 0.0f, 250.0f), G = randomVolume(d, 35, 0.0f, 250.0f);
  const Volume box(5, 3, 7, 1.3f);
  std::vector<float> sixteen;
  for (int i = -8; i < 8; ++i) sixteen.push_back(0.3f * static_cast<float>(i));
  const std::vector<std::vector<float>> shiftLists = {{-2.0f, -0.7f, 0.0f, 0.7f, 2.0f, 0.0f}, sixteen};
  const Dimensions centres[] = {{10, 7, 3}, {0, 0, 0}, {20, 13, 5}, {3, 12, 1}};
  for (const std::vector<float>& shifts : shiftLists) {
    UniformLeftovers leftovers;
    ColumnThreads single(1);
    computeLeftovers(TrialVolumes{F, G, Am, Pm, v}, 1.3f, shifts, single, leftovers);
    // Every third voxel was covered by the centre of ordinal 0.
    leftovers.firstCover.assign(v.voxelCount(), UniformLeftovers::kNever);
    for (size_t i = 0; i < v.voxelCount(); i += 3) leftovers.firstCover[i] = 0;
    Volume startF = F, startG = G;
    for (size_t i = 0; i < v.voxelCount(); i += 3) {
      startF.data()[i] = leftovers.leftF[i];
      startG.data()[i] = leftovers.leftG[i];
    }
    for (const Dimensions& centre : centres) {
      Volume listedF = startF, listedG = startG;
      ListedBoxTrials listed(TrialVolumes{listedF, listedG, Am, Pm, v}, box, shifts);
      VoxelList voxels, boxVoxels;
      buildBoxLists(d, centre, box.dimensions(), voxels, boxVoxels);
      Costs expected(shifts.size());
      listed.run(voxels, boxVoxels, expected);
      for (int width : vectorWidths()) {
        SCOPED_TRACE(std::string(measure) + ", " + std::to_string(shifts.size()) + " shifts, width " +
                     std::to_string(width) + ", centre " + std::to_string(centre.x) + " " + std::to_string(centre.y) +
                     " " + std::to_string(centre.z));
        UniformBoxTrials trials(TrialVolumes{F, G, Am, Pm, v}, box, shifts, leftovers, width);
        Costs costs(shifts.size());
        trials.run(centre, 1, costs);
        ASSERT_EQ(costs.costs().size(), expected.costs().size());
        EXPECT_EQ(std::memcmp(costs.costs().data(), expected.costs().data(), shifts.size() * sizeof(double)), 0);
      }
    }
  }
}

TEST(UniformBoxTrials, EveryWidthGivesTheListedCosts) {
  expectEveryWidthMatchesTheListedTrials<SsdCosts>("SSD");
  expectEveryWidthMatchesTheListedTrials<CorrelationCosts>("NCC");
}

TEST(SweepStage, RejectsVolumesOfOtherExtentsAndAliasedScans) {
  const Dimensions d{4, 5, 3};
  Volume F(d, 0.0f), G(d, 0.0f), acc(d, 0.0f), weights(d, 0.25f), small(4, 5, 2, 0.0f);
  const Volume scan(d, 200.0f), v(d, 0.0f), box(3, 3, 3, 1.0f);
  EXPECT_THROW(sweepStage({F, G, scan, scan, v}, {box, {0.0f}, true}, {small, weights}), std::invalid_argument);
  EXPECT_THROW(sweepStage({F, G, F, scan, v}, {box, {0.0f}, true}, {acc, weights}), std::invalid_argument);
  EXPECT_THROW(sweepStage({F, F, scan, scan, v}, {box, {0.0f}, true}, {acc, weights}), std::invalid_argument);
  Volume map(d, 0.0f);
  EXPECT_THROW(sweepStage({F, G, scan, scan, map}, {box, {0.0f}, true}, {map, weights}), std::invalid_argument);
}

}  // namespace
}  // namespace daxo
