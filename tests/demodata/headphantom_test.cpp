#include "demodata/headphantom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "demodata/headvolumes.h"
#include "demodata/random.h"
#include "demodata/signalmodel.h"
#include "testsupport/volumes.h"

namespace daxo {
namespace {

using testing::identicalBytes;

TEST(HeadPhantom, TissueFractionsArePartialVolumesInsideTheHead) {
  const DemoSettings s = smallDemoSettings();
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
        ASSERT_LE(m.grey + m.white, m.intracranial + 1e-5f);  // brain only inside the skull
        ASSERT_NEAR(m.fibreX * m.fibreX + m.fibreY * m.fibreY + m.fibreZ * m.fibreZ, 1.0f, 1e-5f);
        ASSERT_GE(m.texture, 0.55f);
        ASSERT_LE(m.texture, 1.65f);
      }
    }
  }
}

// The intensities of the voxels made (almost) purely of one tissue.
struct Intensities {
  std::vector<double> values;
  double median() {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
  }
  double low() const { return *std::min_element(values.begin(), values.end()); }
  double high() const { return *std::max_element(values.begin(), values.end()); }
};

TEST(HeadPhantom, IntensitiesAreSpinEchoLike) {
  const DemoSettings s;
  const HeadPhantom phantom(s);
  const SignalModel signal{Contrast{}};
  Intensities grey, white, csf, skull, scalp;
  double textureSum = 0, textureSquares = 0, brightest = 0;
  int inHead = 0;
  for (int z = 0; z < s.nz; ++z) {
    for (int y = 0; y < s.ny; ++y) {
      for (int x = 0; x < s.nx; ++x) {
        const TissueMix m = phantom.mixAt(x, y, z);
        const double v = signal(m);
        brightest = std::max(brightest, v);
        if (m.head == 0) {
          ASSERT_EQ(v, 0.0);  // air around the head is exactly dark
          continue;
        }
        ++inHead;
        textureSum += m.texture;
        textureSquares += m.texture * m.texture;
        if (m.grey > 0.99f) grey.values.push_back(v);
        if (m.white > 0.99f) white.values.push_back(v);
        if (m.csf > 0.99f) csf.values.push_back(v);
        if (m.skull > 0.99f) skull.values.push_back(v);
        if (m.scalp > 0.99f) scalp.values.push_back(v);
      }
    }
  }
  // Every tissue class is present in quantity.
  EXPECT_GT(grey.values.size(), 2000u);
  EXPECT_GT(white.values.size(), 10000u);
  EXPECT_GT(csf.values.size(), 1000u);
  EXPECT_GT(skull.values.size(), 1000u);
  EXPECT_GT(scalp.values.size(), 1000u);
  // Typical values near the nominal ones (the shading and texture average
  // slightly above 1), in the order of a spin-echo b = 0 image.
  EXPECT_NEAR(csf.median(), 1350, 150);
  EXPECT_NEAR(grey.median(), 850, 90);
  EXPECT_NEAR(white.median(), 560, 60);
  EXPECT_NEAR(scalp.median(), 300, 40);
  EXPECT_NEAR(skull.median(), 40, 6);
  // Texture and shading keep every voxel within 0.55 .. 1.65 of its tissue's value.
  EXPECT_GE(white.low(), 0.55 * 560);
  EXPECT_LE(white.high(), 1.65 * 560);
  EXPECT_GE(grey.low(), 0.55 * 850);
  EXPECT_LE(grey.high(), 1.65 * 850);
  EXPECT_LE(brightest, 1.65 * 1350);
  // Texture and shading vary by 5 .. 12 % over the head.
  const double meanTexture = textureSum / inHead;
  const double textureSd = std::sqrt(textureSquares / inHead - meanTexture * meanTexture);
  EXPECT_GT(textureSd, 0.05);
  EXPECT_LT(textureSd, 0.12);
}

TEST(HeadPhantom, AnatomyScalesWithTheFieldOfView) {
  // Half the voxels per axis at the same voxel size: the same head at half
  // the size, filling the same share of the grid.
  DemoSettings big;
  const DemoSettings small = smallDemoSettings();
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

TEST(HeadPhantom, EdgesRiseOverAboutOneVoxel) {
  // Partial volumes rise over one voxel along signed distances; the first-order
  // distances of the folded anatomy may change a little faster than the
  // position, but no fraction may jump (a seam, or a distance that is no
  // distance), or sampling at voxel spacing would alias it. Measured: 2.4
  // per voxel at most at both sizes.
  for (const DemoSettings& s : {DemoSettings{}, smallDemoSettings()}) {
    const HeadPhantom phantom(s);
    Pcg32 rng(3, 1);
    double steepest = 0;
    const double h = 0.02;
    for (int i = 0; i < 30000; ++i) {
      const double x = rng.nextUniform(0, s.nx - 1), y = rng.nextUniform(0, s.ny - 1), z = rng.nextUniform(0, s.nz - 1);
      const int axis = i % 3;
      const TissueMix a = phantom.mixAt(x, y, z);
      const TissueMix b = phantom.mixAt(x + (axis == 0) * h, y + (axis == 1) * h, z + (axis == 2) * h);
      const float pa[] = {a.head, a.intracranial, a.scalp, a.skull, a.csf, a.grey, a.white};
      const float pb[] = {b.head, b.intracranial, b.scalp, b.skull, b.csf, b.grey, b.white};
      for (int k = 0; k < 7; ++k) steepest = std::max(steepest, std::fabs(pa[k] - pb[k]) / h);
    }
    EXPECT_LT(steepest, 3.5) << s.nx;
  }
}

// The distance (mm) from voxel (x, y, z) to the nearest point, along the 26
// directions of the voxel's neighbours in 0.25 mm steps up to `reach`, whose
// CSF fraction is at least one half; infinity if none.
double distanceToCsf(const HeadPhantom& phantom, int x, int y, int z, double reach) {
  const double mm = phantom.frame().mmPerVoxel();
  double best = std::numeric_limits<double>::infinity();
  for (int dz = -1; dz <= 1; ++dz)
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        const double norm = std::sqrt(dx * dx + dy * dy + dz * dz);
        if (norm == 0) continue;
        for (double r = 0.25; r <= reach && r < best; r += 0.25) {
          const double t = r / mm / norm;
          if (phantom.mixAt(x + t * dx, y + t * dy, z + t * dz).csf >= 0.5f) best = r;
        }
      }
  return best;
}

TEST(HeadPhantom, CortexIsAThinRibbonAlongTheCsf) {
  // The cortex is 2.6 mm thick (3 mm in the cerebellum) along the brain's
  // surface, the sulci and fissures, with white matter beneath: voxels of
  // pure grey matter (deep nuclei are never pure) lie within a few mm of
  // CSF, while pure white matter keeps clear of it but at the ventricles.
  const DemoSettings s;
  const HeadPhantom phantom(s);
  int grey = 0, greyNearCsf = 0, white = 0, whiteNearCsf = 0;
  for (int z = 4; z < s.nz - 4; z += 2) {
    for (int y = 2; y < s.ny; y += 4) {
      for (int x = 2; x < s.nx; x += 4) {
        const TissueMix m = phantom.mixAt(x, y, z);
        if (m.grey > 0.99f) {
          ++grey;
          greyNearCsf += distanceToCsf(phantom, x, y, z, 4.0) <= 4.0;
        } else if (m.white > 0.99f) {
          ++white;
          whiteNearCsf += distanceToCsf(phantom, x, y, z, 2.0) <= 2.0;
        }
      }
    }
  }
  ASSERT_GT(grey, 50);
  EXPECT_EQ(greyNearCsf, grey);  // measured: all 90
  ASSERT_GT(white, 250);
  EXPECT_LT(whiteNearCsf, white / 15);  // measured: 8 of 390
}

TEST(HeadPhantom, SulciCutIntoTheConvexity) {
  // Rays outwards from the middle of three slices through the convexity (6
  // to 16 mm above the origin, over the ventricles): sulci cross a good share
  // of them within 8 mm below the brain's surface.
  const DemoSettings s;
  const HeadPhantom phantom(s);
  const double mm = phantom.frame().mmPerVoxel();
  const double cx = 0.5 * (s.nx - 1), cy = 0.5 * (s.ny - 1), step = 0.1;
  int rays = 0, sulci = 0;
  for (int z : {26, 28, 30}) {
    for (int k = 0; k < 360; ++k) {
      const double ux = std::cos(k * M_PI / 180), uy = std::sin(k * M_PI / 180);
      const auto at = [&](double r) { return phantom.mixAt(cx + r * ux, cy + r * uy, z); };
      double r = 0.5 * s.nx;
      while (r > 0 && at(r).grey + at(r).white < 0.5f) r -= step;  // the brain's surface
      bool sulcus = false;
      for (double depth = 1.0; depth <= 8.0 && !sulcus; depth += step * mm) sulcus = at(r - depth / mm).csf > 0.5f;
      ++rays;
      sulci += sulcus;
    }
  }
  EXPECT_GT(sulci, rays / 6);
  EXPECT_LT(sulci, rays * 3 / 4);
}

TEST(HeadPhantom, LeftAndRightMirrorEachOther) {
  // The layout is symmetric; only the folding differs between the sides.
  const DemoSettings s = smallDemoSettings();
  const Volume head = headMask(s), inside = intracranialMask(s);
  for (int z = 0; z < s.nz; ++z)
    for (int y = 0; y < s.ny; ++y)
      for (int x = 0; x < s.nx; ++x) {
        ASSERT_EQ(head(x, y, z), head(s.nx - 1 - x, y, z));
        ASSERT_EQ(inside(x, y, z), inside(s.nx - 1 - x, y, z));
      }
}

TEST(HeadPhantom, SeedChangesTheTextureOnly) {
  DemoSettings s = smallDemoSettings();
  const Volume a = headObject(s);
  EXPECT_TRUE(identicalBytes(a, headObject(s)));
  s.seed += 1;
  const Volume b = headObject(s);
  EXPECT_FALSE(identicalBytes(a, b));
  EXPECT_TRUE(identicalBytes(headMask(s), headMask(smallDemoSettings())));
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
