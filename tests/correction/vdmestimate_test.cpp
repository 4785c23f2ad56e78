#include "correction/vdmestimate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "correction/estimationschedule.h"
#include "correction/simplevdmestimate.h"
#include "correction/vdm.h"
#include "correction/vdmfolds.h"
#include "correction/vdminverse.h"
#include "tests/correction/reference_sweep.h"
#include "testsupport/entrylog.h"
#include "testsupport/fft_for_tests.h"
#include "testsupport/thrownmessage.h"
#include "testsupport/volumes.h"
#include "volume/distance.h"

namespace daxo {
namespace {

using testing::EntryLog;
using testing::expectSameVolume;
using testing::identicalBytes;
using testing::sameBits;
using testing::thrownMessage;

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

const std::array<double, 3> kVoxelSize{2.0, 2.5, 3.0};

// A blob with ripples, and its partner displaced by a smooth field with the
// intensity change that goes with it, so the search has something to find.
struct Pair {
  Volume ap, pa;
};

double blob(double x, double y, double z, const Dimensions& d) {
  const double rx = (x - 0.5 * d.x) / (0.35 * d.x), ry = (y - 0.5 * d.y) / (0.35 * d.y),
               rz = (z - 0.5 * d.z) / (0.4 * d.z);
  const double r2 = rx * rx + ry * ry + rz * rz;
  return r2 < 1.0 ? 800.0 * (1.0 - r2) * (1.0 + 0.25 * std::sin(0.9 * y + 0.5 * x - 0.4 * z)) : 0.0;
}

Pair makePair(const Dimensions& d) {
  Pair p{Volume(d), Volume(d)};
  for (int z = 0; z < d.z; ++z)
    for (int y = 0; y < d.y; ++y)
      for (int x = 0; x < d.x; ++x) {
        const double shift = 1.2 * std::sin(0.3 * x) + 0.6;
        p.ap(x, y, z) = static_cast<float>(blob(x, y - shift, z, d));
        p.pa(x, y, z) = static_cast<float>(blob(x, y + shift, z, d));
      }
  return p;
}

class EstimateVdm : public ::testing::Test {
 protected:
  void SetUp() override { testing::bindFftwForTests(); }
};

TEST(StandardSchedule, HasTheFourStages) {
  const EstimationSchedule s = standardSchedule(kVoxelSize);
  ASSERT_EQ(s.localBoxes.size(), 4u);
  ASSERT_EQ(s.shifts.size(), 4u);
  ASSERT_EQ(s.smoothing.size(), 4u);
  const int extents[4] = {7, 7, 5, 5};
  for (int stage = 0; stage < 4; ++stage) {
    const Volume& box = s.localBoxes[stage];
    EXPECT_EQ(box.dimensions(), (Dimensions{extents[stage], extents[stage], extents[stage]}));
    for (size_t i = 0; i < box.voxelCount(); ++i) EXPECT_EQ(box.data()[i], 1.0f);
  }
  // Shifts formed in single precision: float(i) times the float step.
  const std::vector<float> first = {-5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5};
  EXPECT_EQ(s.shifts[0], first);
  ASSERT_EQ(s.shifts[1].size(), 7u);
  for (int k = 0; k < 7; ++k) EXPECT_TRUE(sameBits(s.shifts[1][k], static_cast<float>(2 * k - 6) * 0.4f));
  EXPECT_EQ(s.shifts[1][0], -2.4000001f);
  ASSERT_EQ(s.shifts[2].size(), 11u);
  ASSERT_EQ(s.shifts[3].size(), 11u);
  for (int k = 0; k < 11; ++k) {
    EXPECT_TRUE(sameBits(s.shifts[2][k], static_cast<float>(k - 5) * 0.3f));
    EXPECT_TRUE(sameBits(s.shifts[3][k], static_cast<float>(k - 5) * 0.15f));
  }
  const double widths[4] = {20.0, 12.0, 6.0, 2.0};
  for (int stage = 0; stage < 4; ++stage)
    for (int axis = 0; axis < 3; ++axis)
      EXPECT_EQ(s.smoothing[stage][axis], widths[stage] / std::sqrt(kVoxelSize[axis]));
  EXPECT_EQ(standardColumnSigma(kVoxelSize), (Sigma3{0.5, 1.6, 0.5}));
}

TEST_F(EstimateVdm, RejectsBadArgumentsBeforeAnyLogLine) {
  const Dimensions d{8, 10, 6};
  const Pair p = makePair(d);
  const VdmEstimateSettings standard = standardVdmSettings(kVoxelSize);
  EntryLog log;
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { estimateVdm(p.ap, Volume(8, 10, 5, 0.0f), standard, &log); }),
            "assertion failure (vdmestimate:97): vol_ap.dimensions() == vol_pa.dimensions()");
  VdmEstimateSettings threeShiftLists = standard;
  threeShiftLists.schedule.shifts.resize(3);
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { estimateVdm(p.ap, p.pa, threeShiftLists, &log); }),
            "assertion failure (vdmestimate:98): localbox.size() == s_values.size()");
  VdmEstimateSettings threeSmoothings = standard;
  threeSmoothings.schedule.smoothing.resize(3);
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { estimateVdm(p.ap, p.pa, threeSmoothings, &log); }),
            "assertion failure (vdmestimate:99): localbox.size() == vdm_smoothing.size()");
  EXPECT_TRUE(log.entries().empty());
}

// A box of even extent would make the box coordinates run one past its end.
TEST_F(EstimateVdm, RegressionEvenBoxExtentIsRejectedBeforeAnyWork) {
  const Dimensions d{8, 10, 6};
  const Pair p = makePair(d);
  VdmEstimateSettings settings = standardVdmSettings(kVoxelSize);
  settings.schedule.localBoxes[2] = Volume(5, 4, 5, 1.0f);
  EntryLog log;
  const std::string message = thrownMessage<std::invalid_argument>([&] { estimateVdm(p.ap, p.pa, settings, &log); });
  EXPECT_NE(message.find("stage 3 is 5 x 4 x 5"), std::string::npos) << message;
  EXPECT_TRUE(log.entries().empty());
}

// A NaN voxel spreads through the filters and the warps: the start's cost is
// NaN, the map comes back without local optimisation, marked with -99.
TEST_F(EstimateVdm, NotANumberStartStopsWithTheMarker) {
  const Dimensions d{8, 10, 6};
  Pair p = makePair(d);
  p.pa(4, 5, 3) = std::nanf("");
  VdmEstimateSettings settings = standardVdmSettings(kVoxelSize);
  settings.useSsd = true;
  EntryLog log;
  const VdmEstimate estimate = estimateVdm(p.ap, p.pa, settings, &log);
  EXPECT_TRUE(estimate.stoppedOnNotANumber);
  const Volume& v = estimate.map;
  ASSERT_EQ(log.entries().size(), 5u);
  EXPECT_TRUE(startsWith(log.entries()[0], "Column-wise optimisation, sigma: "));
  EXPECT_TRUE(startsWith(log.entries()[3], "SSD after applying smoothed VDM: "));
  EXPECT_TRUE(std::isnan(std::stod(log.entries()[3].substr(std::strlen("SSD after applying smoothed VDM: ")))));
  EXPECT_EQ(log.entries()[4],
            "Not-a-number values detected. Local optimization skipped. Please start again trying higher order.");
  EXPECT_EQ(v(0, 0, 0), -99.0f);
  // The rest is the smoothed column-wise start.
  Volume start = estimateColumnWise(p.ap, p.pa, standardColumnSigma(kVoxelSize), nullptr, 0);
  smooth(start, {1.5, 1.5, 1.5}, {0, 0, 0}, true);
  start(0, 0, 0) = -99.0f;
  expectSameVolume(v, start);
}

TEST_F(EstimateVdm, FlatScansStopOnNotANumber) {
  VdmEstimateSettings settings = standardVdmSettings(kVoxelSize);
  settings.useIc = true;
  EntryLog log;
  const VdmEstimate estimate = estimateVdm(Volume(6, 10, 4, 500.0f), Volume(6, 10, 4, 520.0f), settings, &log);
  EXPECT_TRUE(estimate.stoppedOnNotANumber);
  const Volume& v = estimate.map;
  ASSERT_EQ(log.entries().size(), 5u);
  EXPECT_TRUE(startsWith(log.entries()[3], "NCC after applying smoothed VDM: "));
  EXPECT_EQ(v(0, 0, 0), -99.0f);
  EXPECT_TRUE(std::isnan(v(1, 0, 0)));
}

// Scans without voxels have a NaN start (0 / 0); the marker has no voxel to
// go to, and the columns of no rows must not be searched for a maximum.
TEST_F(EstimateVdm, RegressionScansWithoutVoxelsReturnAnEmptyMap) {
  VdmEstimateSettings settings = standardVdmSettings(kVoxelSize);
  settings.useSsd = true;
  for (const Dimensions& d : {Dimensions{0, 0, 0}, Dimensions{4, 0, 3}}) {
    EntryLog log;
    const VdmEstimate estimate = estimateVdm(Volume(d), Volume(d), settings, &log);
    EXPECT_EQ(estimate.map.dimensions(), d);
    EXPECT_TRUE(estimate.stoppedOnNotANumber);
    ASSERT_EQ(log.entries().size(), 5u);
    EXPECT_TRUE(startsWith(log.entries()[4], "Not-a-number values detected."));
  }
}

TEST_F(EstimateVdm, EmptyScheduleReturnsTheSmoothedStartAndLogsTheClosingLines) {
  const Dimensions d{8, 12, 6};
  const Pair p = makePair(d);
  VdmEstimateSettings settings = standardVdmSettings(kVoxelSize);
  settings.schedule = {};
  EntryLog log;
  const Volume v = estimateVdm(p.ap, p.pa, settings, &log).map;
  Volume start = estimateColumnWise(p.ap, p.pa, settings.columnSigma, nullptr, 0);
  smooth(start, {1.5, 1.5, 1.5}, {0, 0, 0}, true);
  expectSameVolume(v, start);
  const std::vector<std::string>& e = log.entries();
  ASSERT_EQ(e.size(), 8u);
  EXPECT_TRUE(startsWith(e[3], "NCC after applying smoothed VDM: "));
  EXPECT_EQ(e[4], "\nStarting local optimizations");
  EXPECT_TRUE(startsWith(e[5], "Other distance measure SSD: "));
  EXPECT_TRUE(startsWith(e[6], "\nTime taken: "));
  EXPECT_EQ(e[7], "Inverse consistency check VDM: PASSED");
}

TEST_F(EstimateVdm, IdenticalScansStartFromZero) {
  const Dimensions d{8, 12, 6};
  const Pair p = makePair(d);
  VdmEstimateSettings settings = standardVdmSettings(kVoxelSize);
  settings.useSsd = true;
  EntryLog log;
  const Volume v = estimateVdm(p.ap, p.ap, settings, &log).map;
  ASSERT_EQ(log.entries().size(), 16u);
  EXPECT_EQ(log.entries()[2], "SSD after applying column wise VDM: 0");
  EXPECT_EQ(log.entries()[3], "SSD after applying smoothed VDM: 0");
  EXPECT_EQ(v.dimensions(), d);
}

// The whole sequence of a run, the stage lines with their numbers.
TEST_F(EstimateVdm, LogsEveryLineInOrder) {
  const Dimensions d{10, 14, 6};
  const Pair p = makePair(d);
  VdmEstimateSettings settings = standardVdmSettings(kVoxelSize);
  settings.useSsd = true;
  EntryLog log;
  estimateVdm(p.ap, p.pa, settings, &log);
  const std::vector<std::string>& e = log.entries();
  ASSERT_EQ(e.size(), 3u + 2u + 4u * 2u + 3u);
  EXPECT_EQ(e[0], "Column-wise optimisation, sigma: x: 0.5, y: 1.6, sigma.z: 0.5");
  EXPECT_TRUE(startsWith(e[1], "SSD of original AP and PA volumes: "));
  EXPECT_TRUE(startsWith(e[2], "SSD after applying column wise VDM: "));
  EXPECT_TRUE(startsWith(e[3], "SSD after applying smoothed VDM: "));
  EXPECT_EQ(e[4], "\nStarting local optimizations");
  const char* widths[4] = {"14.1421", "8.48528", "4.24264", "1.41421"};  // 20, 12, 6, 2 over sqrt(2)
  for (int stage = 0; stage < 4; ++stage) {
    const std::string& smoothedLine = e[5 + 2 * stage];
    const std::string prefix = std::string("Smoothed (") + widths[stage] + ") and needed ";
    EXPECT_TRUE(startsWith(smoothedLine, prefix)) << smoothedLine;
    const std::string count = smoothedLine.substr(prefix.size(), smoothedLine.find(' ', prefix.size()) - prefix.size());
    EXPECT_EQ(std::to_string(std::stoul(count)), count);
    EXPECT_EQ(smoothedLine.substr(prefix.size() + count.size()), " iterations to improve inverse consistency");
    EXPECT_TRUE(startsWith(e[6 + 2 * stage], "Finished iteration with SSD: ")) << e[6 + 2 * stage];
  }
  EXPECT_TRUE(startsWith(e[13], "Other distance measure NCC: "));
  EXPECT_TRUE(startsWith(e[14], "\nTime taken: "));
  EXPECT_TRUE(e[15] == "Inverse consistency check VDM: PASSED" ||
              e[15] == "Inverse consistency check VDM: some inconsistencies found");
  EXPECT_EQ(log.pending(), "");
}

// The estimation written out step by step with the library's pieces and the
// obvious sweep; `useIc` modulates the scans by the inverse map's derivative.
Volume referenceEstimate(const Volume& ap, const Volume& pa, const EstimationSchedule& s, bool useSsd, bool useIc) {
  Volume v = estimateColumnWise(ap, pa, standardColumnSigma(kVoxelSize), nullptr, 0);
  smooth(v, {1.5, 1.5, 1.5}, {0, 0, 0}, true);
  Volume Am = ap, Pm = pa, F(ap.dimensions()), G(pa.dimensions());
  auto prepare = [&] {
    if (useIc) modulateIntensities(Am, Pm, ap, pa, v);
    warpCubic(F, Am, v, false);
    warpCubic(G, Pm, v, true);
  };
  prepare();
  for (size_t stage = 0; stage < s.shifts.size(); ++stage) {
    Volume acc = v, weights(v.dimensions(), 0.25f);
    testing::referenceSweep(F, G, Am, Pm, v, s.localBoxes[stage], s.shifts[stage], useSsd, acc, weights);
    v = acc;
    convolveMasked3D(v, gaussianKernel3D({9, 9, 9}, s.smoothing[stage], {0, 0, 0}, false), weights, true);
    reduceFolds(v);
    prepare();
  }
  return v;
}

TEST_F(EstimateVdm, IsBitIdenticalToTheStepByStepReference) {
  const Dimensions d{10, 16, 7};
  const Pair p = makePair(d);
  VdmEstimateSettings settings = standardVdmSettings(kVoxelSize);
  EstimationSchedule& s = settings.schedule;
  s.localBoxes.resize(2);
  s.shifts = {s.shifts[0], s.shifts[2]};
  s.smoothing.resize(2);
  s.localBoxes[1] = Volume(5, 5, 5, 1.0f);
  for (bool useSsd : {true, false})
    for (bool useIc : {false, true}) {
      SCOPED_TRACE(std::string(useSsd ? "SSD" : "NCC") + (useIc ? " with" : " without") + " intensity modulation");
      settings.useSsd = useSsd;
      settings.useIc = useIc;
      const Volume v = estimateVdm(p.ap, p.pa, settings, nullptr).map;
      expectSameVolume(v, referenceEstimate(p.ap, p.pa, s, useSsd, useIc));
      // The stages did move the map away from its start.
      const Volume start = referenceEstimate(p.ap, p.pa, EstimationSchedule{}, useSsd, useIc);
      EXPECT_FALSE(identicalBytes(v, start));
    }
}

}  // namespace
}  // namespace daxo
