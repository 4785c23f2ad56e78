#include "demodata/headphantom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "demodata/headvolumes.h"
#include "demodata/signalmodel.h"

namespace daxo {
namespace {

DemoSettings smallGrid() {
  DemoSettings s;
  s.nx = 48;
  s.ny = 48;
  s.nz = 24;
  return s;
}

bool sameBytes(const Volume& a, const Volume& b) {
  return a.dimensions() == b.dimensions() && std::memcmp(a.data(), b.data(), a.voxelCount() * sizeof(float)) == 0;
}

TEST(HeadPhantom, TissueFractionsArePartialVolumesInsideTheHead) {
  const DemoSettings s = smallGrid();
  const HeadPhantom phantom(s);
  // A half-voxel lattice, so edges are met between voxel centres too.
  for (double z = -1; z <= s.nz; z += 0.5) {
    for (double y = -1; y <= s.ny; y += 0.5) {
      for (double x = -1; x <= s.nx; x += 0.5) {
        const TissueMix m = phantom.mixAt(x, y, z);
        const float parts[] = {m.scalp, m.skull, m.csf, m.grey, m.white};
        float sum = 0;
        for (float p : parts) {
          ASSERT_GE(p, -1e-6f) << x << " " << y << " " << z;
          sum += p;
        }
        ASSERT_LE(sum, m.head + 1e-5f);
        ASSERT_LE(m.intracranial, m.head);
        ASSERT_NEAR(m.fibreX * m.fibreX + m.fibreY * m.fibreY + m.fibreZ * m.fibreZ, 1.0f, 1e-5f);
      }
    }
  }
}

// Smallest and largest intensity of the voxels made (almost) purely of one tissue.
struct Range {
  double low = 1e30, high = -1e30;
  int count = 0;
  void add(double v) {
    low = std::min(low, v);
    high = std::max(high, v);
    ++count;
  }
};

TEST(HeadPhantom, IntensitiesAreSpinEchoLike) {
  const DemoSettings s;
  const HeadPhantom phantom(s);
  const SignalModel signal{Contrast{}};
  Range grey, white, csf, skull, all;
  for (int z = 0; z < s.nz; ++z) {
    for (int y = 0; y < s.ny; ++y) {
      for (int x = 0; x < s.nx; ++x) {
        const TissueMix m = phantom.mixAt(x, y, z);
        const double v = signal(m);
        all.add(v);
        if (m.head == 0) {
          ASSERT_EQ(v, 0.0);  // air around the head is exactly dark
        }
        if (m.grey > 0.99f) grey.add(v);
        if (m.white > 0.99f) white.add(v);
        if (m.csf > 0.99f) csf.add(v);
        if (m.skull > 0.99f) skull.add(v);
      }
    }
  }
  // Every tissue class is present in quantity.
  EXPECT_GT(grey.count, 5000);
  EXPECT_GT(white.count, 10000);
  EXPECT_GT(csf.count, 1000);
  EXPECT_GT(skull.count, 1000);
  // Grey brighter than white, CSF brightest, skull dark; nothing above ~1600.
  EXPECT_GT(white.low, 450);
  EXPECT_LT(white.high, 750);
  EXPECT_GT(grey.low, 650);
  EXPECT_LT(grey.high, 1000);
  EXPECT_GT(csf.low, 1050);
  EXPECT_LT(skull.high, 60);
  EXPECT_LT(all.high, 1600);
}

TEST(HeadPhantom, AnatomyScalesWithTheFieldOfView) {
  // Half the voxels per axis at the same voxel size: the same head at half
  // the size, filling the same share of the grid.
  DemoSettings big;
  const DemoSettings small = smallGrid();
  const auto share = [](const Volume& mask) {
    double inside = 0;
    for (size_t i = 0; i < mask.voxelCount(); ++i) inside += mask.data()[i];
    return inside / static_cast<double>(mask.voxelCount());
  };
  const double bigShare = share(headMask(big)), smallShare = share(headMask(small));
  EXPECT_GT(bigShare, 0.2);
  EXPECT_NEAR(smallShare, bigShare, 0.03);
  const double brainShare = share(intracranialMask(small));
  EXPECT_GT(brainShare, 0.5 * smallShare);
  EXPECT_LT(brainShare, smallShare);
  // The same point of the head, voxel (2x + 0.5) of the big grid and x of
  // the small one, holds the same tissue.
  const HeadPhantom a(big), b(small);
  for (double x : {10.0, 20.0, 30.0}) {
    const TissueMix ma = a.mixAt(2 * x + 0.5, 2 * 20 + 0.5, 2 * 12 + 0.5);
    const TissueMix mb = b.mixAt(x, 20, 12);
    EXPECT_NEAR(ma.texture, mb.texture, 1e-6);
    EXPECT_NEAR(ma.head, mb.head, 1e-6);
  }
}

TEST(HeadPhantom, SeedChangesTheTextureOnly) {
  DemoSettings s = smallGrid();
  const Volume a = headObject(s);
  EXPECT_TRUE(sameBytes(a, headObject(s)));
  s.seed += 1;
  const Volume b = headObject(s);
  EXPECT_FALSE(sameBytes(a, b));
  EXPECT_TRUE(sameBytes(headMask(s), headMask(smallGrid())));
}

TEST(DemoSettings, RejectsValuesOutOfRange) {
  const auto rejects = [](void (*change)(DemoSettings&)) {
    DemoSettings s;
    change(s);
    EXPECT_THROW(validateSettings(s), std::invalid_argument);
    EXPECT_THROW(HeadPhantom{s}, std::invalid_argument);
  };
  rejects([](DemoSettings& s) { s.nx = 0; });
  rejects([](DemoSettings& s) { s.nz = 2000; });
  rejects([](DemoSettings& s) { s.voxelMm = 0; });
  rejects([](DemoSettings& s) { s.voxelMm = std::nan(""); });
  rejects([](DemoSettings& s) { s.maxShiftVoxels = -1; });
  rejects([](DemoSettings& s) { s.noiseSigma = INFINITY; });
  rejects([](DemoSettings& s) { s.timePoints = 0; });
  rejects([](DemoSettings& s) { s.bValue = -5; });
  EXPECT_NO_THROW(validateSettings(DemoSettings{}));
}

}  // namespace
}  // namespace daxo
