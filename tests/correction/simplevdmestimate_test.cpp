#include "correction/simplevdmestimate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include "correction/vdm.h"
#include "tests/correction/reference_columnwise.h"
#include "testsupport/entrylog.h"
#include "testsupport/fft_for_tests.h"
#include "testsupport/thrownmessage.h"
#include "testsupport/volumes.h"

namespace daxo {
namespace {

using testing::volumeOf;

using testing::EntryLog;
using testing::sameBits;
using testing::thrownMessage;

class ColumnWise : public ::testing::Test {
 protected:
  void SetUp() override { testing::bindFftwForTests(); }
};

// A bright band across the middle rows with ripples along every axis.
double bandObject(double x, double y, double z, int ny) {
  const double r = (y - 0.5 * ny) / (0.2 * ny);
  return 1000.0 * std::exp(-r * r) * (1.0 + 0.3 * std::sin(0.5 * y + 0.4 * x + 0.3 * z));
}

const Sigma3 kSigma{0.5, 1.6, 0.5};

TEST(ColumnAccess, ExtractsAndInsertsColumnsAlongY) {
  Volume v(3, 4, 2);
  for (size_t i = 0; i < v.voxelCount(); ++i) v.data()[i] = static_cast<float>(i);
  const Vector c = extractColumn(v, 2, 1);
  ASSERT_EQ(c.size(), 4);
  for (int y = 0; y < 4; ++y) EXPECT_EQ(c[y], v(2, y, 1));
  Vector w(4);
  for (int y = 0; y < 4; ++y) w[y] = -1.0f - y;
  insertColumn(w, v, 1, 0);
  for (int y = 0; y < 4; ++y) EXPECT_EQ(v(1, y, 0), -1.0f - y);
  EXPECT_EQ(v(0, 0, 0), 0.0f);
  EXPECT_EQ(v(2, 3, 0), 11.0f);
}

TEST(ColumnAccess, RejectsRowsAndSlicesPastTheEnd) {
  Volume v(3, 4, 2, 0.0f);
  const std::string extract = "assertion failure (simplevdmestimate:30): row < vol.nx() && slice < vol.nz()";
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { extractColumn(v, 3, 0); }), extract);
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { extractColumn(v, 0, 2); }), extract);
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { insertColumn(Vector(3, 1.0f), v, 0, 0); }),
            "assertion failure (simplevdmestimate:41): vec.size() == vol.ny()");
  const std::string insert = "assertion failure (simplevdmestimate:42): row < vol.nx() && slice < vol.nz()";
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { insertColumn(Vector(4, 1.0f), v, 3, 0); }), insert);
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { insertColumn(Vector(4, 1.0f), v, 0, 2); }), insert);
  for (size_t i = 0; i < v.voxelCount(); ++i) EXPECT_EQ(v.data()[i], 0.0f);
}

TEST(Invert2x2, MatchesTheHandInverse) {
  // [[4, 7], [2, 6]]: determinant 10, inverse [[0.6, -0.7], [-0.2, 0.4]].
  Matrix m(2, 2);
  m(0, 0) = 4.0f;
  m(0, 1) = 7.0f;
  m(1, 0) = 2.0f;
  m(1, 1) = 6.0f;
  const Matrix inverse = invert2x2(m);
  const float factor = 1.0f / 10.0f;
  EXPECT_EQ(inverse(0, 0), factor * 6.0f);
  EXPECT_EQ(inverse(0, 1), factor * -7.0f);
  EXPECT_EQ(inverse(1, 0), factor * -2.0f);
  EXPECT_EQ(inverse(1, 1), factor * 4.0f);
  EXPECT_NEAR(inverse(0, 0), 0.6f, 1e-6f);
  EXPECT_NEAR(inverse(1, 0), -0.2f, 1e-6f);
  // Singular: not tested, the division by zero shows.
  const Matrix singular = invert2x2(Matrix(2, 2, 1.0f));
  EXPECT_TRUE(std::isinf(singular(0, 0)));
  EXPECT_EQ(thrownMessage<std::logic_error>([] { invert2x2(Matrix(3, 2, 1.0f)); }),
            "assertion failure (simplevdmestimate:50): mat.columns() == 2 && mat.rows() == 2");
  EXPECT_EQ(thrownMessage<std::logic_error>([] { invert2x2(Matrix(2, 1, 1.0f)); }),
            "assertion failure (simplevdmestimate:50): mat.columns() == 2 && mat.rows() == 2");
}

TEST_F(ColumnWise, IdenticalScansGiveZeroAndTheThreeLogLines) {
  const Dimensions d{6, 24, 3};
  const Volume scan = volumeOf(d, [&](double x, double y, double z) { return bandObject(x, y, z, d.y); });
  EntryLog log;
  const Volume v = estimateColumnWise(scan, scan, kSigma, &log, 0);
  for (size_t i = 0; i < v.voxelCount(); ++i) ASSERT_EQ(v.data()[i], 0.0f) << "voxel " << i;
  const std::vector<std::string> expected = {"Column-wise optimisation, sigma: x: 0.5, y: 1.6, sigma.z: 0.5",
                                             "SSD of original AP and PA volumes: 0",
                                             "SSD after applying column wise VDM: 0"};
  EXPECT_EQ(log.entries(), expected);
  EXPECT_EQ(log.pending(), "");
}

TEST_F(ColumnWise, UnequalScansThrowBeforeAnyLogLine) {
  EntryLog log;
  EXPECT_EQ(thrownMessage<std::logic_error>(
                [&] { estimateColumnWise(Volume(4, 8, 2, 200.0f), Volume(4, 8, 3, 200.0f), kSigma, &log, 0); }),
            "assertion failure (simplevdmestimate:71): vol_ap.dimensions() == vol_pa.dimensions()");
  EXPECT_TRUE(log.entries().empty());
}

// vol_pa(x, y, z) = vol_ap(x, y - 2, z): the content moved two rows towards
// +y. The columns end near a = 1, b = -1, so the map is near -1 where the band
// is, and the two corrected scans agree there.
TEST_F(ColumnWise, RecoversAShiftOfTwoRows) {
  const Dimensions d{8, 32, 4};
  const Volume ap = volumeOf(d, [&](double x, double y, double z) { return bandObject(x, y, z, d.y); });
  const Volume pa = volumeOf(d, [&](double x, double y, double z) { return bandObject(x, y - 2.0, z, d.y); });
  EntryLog log;
  const Volume v = estimateColumnWise(ap, pa, kSigma, &log, 0);
  ASSERT_EQ(log.entries().size(), 3u);
  Volume correctedAp(d), correctedPa(d);
  warpTrilinear(correctedAp, ap, v, false);
  warpTrilinear(correctedPa, pa, v, true);
  double worst = 0.0, mismatch = 0.0, scale = 0.0;
  for (int z = 0; z < d.z; ++z)
    for (int y = 8; y < 24; ++y)
      for (int x = 0; x < d.x; ++x) {
        worst = std::max(worst, std::fabs(v(x, y, z) + 1.0));
        mismatch = std::max(mismatch, std::fabs(double(correctedAp(x, y, z)) - correctedPa(x, y, z)));
        scale = std::max(scale, static_cast<double>(ap(x, y, z)));
      }
  EXPECT_LT(worst, 0.02);
  EXPECT_LT(mismatch, 0.01 * scale);
  // The final line reports the corrected pair's agreement, far below the input's.
  const double before = std::stod(log.entries()[1].substr(std::strlen("SSD of original AP and PA volumes: ")));
  const double after = std::stod(log.entries()[2].substr(std::strlen("SSD after applying column wise VDM: ")));
  EXPECT_LT(after, 0.01 * before);
}

// Columns whose filtered maximum stays at or below 100 in either scan are never
// fitted, however their bright neighbours move.
TEST_F(ColumnWise, LeavesDarkColumnsAtZero) {
  const Dimensions d{10, 32, 3};
  auto object = [&](double x, double y, double z) { return x < 4 ? 60.0 : bandObject(x, y, z, d.y); };
  const Volume ap = volumeOf(d, object);
  Volume pa = volumeOf(d, [&](double x, double y, double z) { return object(x, y - 1.5, z); });
  // Columns 5 .. 7 are bright in the first scan only; the filter (sigma 0.5
  // along x) keeps the middle one dark in the second.
  for (int z = 0; z < d.z; ++z)
    for (int y = 0; y < d.y; ++y)
      for (int x = 5; x <= 7; ++x) pa(x, y, z) = 40.0f;
  const Volume v = estimateColumnWise(ap, pa, kSigma, nullptr, 0);
  for (int z = 0; z < d.z; ++z)
    for (int y = 0; y < d.y; ++y) {
      for (int x : {0, 1, 2}) EXPECT_EQ(v(x, y, z), 0.0f) << x << " " << y << " " << z;
      EXPECT_EQ(v(6, y, z), 0.0f);
    }
  EXPECT_NEAR(v(9, 16, 1), -0.75f, 0.05f);
}

// Flat scans leave the 2 x 2 systems singular: the NaNs flow into the map
// untrapped (the full estimation detects them).
TEST_F(ColumnWise, SingularColumnsGiveNotANumber) {
  EntryLog log;
  const Volume v = estimateColumnWise(Volume(5, 12, 2, 500.0f), Volume(5, 12, 2, 550.0f), kSigma, &log, 0);
  for (size_t i = 0; i < v.voxelCount(); ++i) EXPECT_TRUE(std::isnan(v.data()[i])) << "voxel " << i;
  ASSERT_EQ(log.entries().size(), 3u);
  EXPECT_EQ(log.entries()[1], "SSD of original AP and PA volumes: 2500");
}

// The fitted pair with stretch, shift and intensity differences varying over
// the columns, bright and dark columns side by side, and a flat bright column
// whose fit is (nearly) singular, against the slow reference, bit for bit, for
// plain smoothing and the derivative filters.
TEST_F(ColumnWise, IsBitIdenticalToTheReference) {
  const Dimensions d{10, 28, 3};
  auto first = [&](double x, double y, double z) {
    return x == 4 ? 30.0 : x == 9 ? 500.0 : bandObject(x, y, z, d.y) + 20.0 * z;
  };
  auto second = [&](double x, double y, double z) {
    const double c = 0.5 * d.y;
    return 1.1 * first(x, (y - c) * (1.0 + 0.02 * x) + c - 1.5 + 0.2 * x, z);
  };
  const Volume ap = volumeOf(d, first), pa = volumeOf(d, second);
  for (int order : {0, 1, 2}) {
    const Volume v = estimateColumnWise(ap, pa, kSigma, nullptr, order);
    const Volume expected = testing::referenceColumnWise(ap, pa, kSigma, order);
    bool moved = false;
    for (size_t i = 0; i < v.voxelCount(); ++i) {
      const float a = v.data()[i], b = expected.data()[i];
      ASSERT_TRUE(sameBits(a, b)) << "order " << order << " voxel " << i << ": " << a << " vs " << b;
      moved = moved || a != 0.0f;
    }
    // The first-derivative filter leaves every column below the threshold.
    EXPECT_EQ(moved, order != 1) << "order " << order;
  }
}

}  // namespace
}  // namespace daxo
