#include "demodata/truthpair.h"

#include <algorithm>
#include <cmath>

#include "demodata/columnmass.h"
#include "demodata/headphantom.h"
#include "demodata/magnitudenoise.h"
#include "demodata/signalmodel.h"

namespace daxo {

namespace {

constexpr double kBright = 1000.0;

double fieldAt(const TruthPairRecipe& s, double x, double y, double z) {
  double d = s.slopeY * (y - 0.5 * (s.extents.y - 1));
  for (const FieldBump& b : s.bumps) {
    const double u = (x - b.cx) / b.sx, v = (y - b.cy) / b.sy, w = (z - b.cz) / b.sz;
    d += b.amplitude * std::exp(-0.5 * (u * u + v * v + w * w));
  }
  return d;
}

// The demo head's unweighted signal at voxel coordinates of the setup's grid.
class Head {
 public:
  explicit Head(const TruthPairRecipe& s) : phantom_(settingsFor(s)), signal_(Contrast{}), shift_(s.objectShiftY) {}
  double at(double x, double y, double z) const { return signal_(phantom_.mixAt(x, y - shift_, z)); }
  bool inside(double x, double y, double z) const { return phantom_.mixAt(x, y - shift_, z).head >= 0.5f; }

 private:
  static DemoSettings settingsFor(const TruthPairRecipe& s) {
    DemoSettings d;
    d.nx = s.extents.x;
    d.ny = s.extents.y;
    d.nz = s.extents.z;
    d.seed = s.seed;
    return d;
  }
  HeadPhantom phantom_;
  SignalModel signal_;
  double shift_;
};

constexpr double kVoxelMm = 2.5;

// One distorted column: out[j] = mass of the object over {y : y + sign d(y) in [j - 1/2, j + 1/2]};
// the second scan (sign -1) sees the head moved by s.secondMotion.
void distortColumn(const TruthPairRecipe& s, const Head& head, int32_t x, int32_t z, double sign, float* out,
                   size_t stride) {
  double reach = 2.0 + std::fabs(s.slopeY) * s.extents.y;
  for (const FieldBump& b : s.bumps) reach += std::fabs(b.amplitude);
  const int32_t margin = static_cast<int32_t>(std::ceil(reach));
  const bool moved = sign < 0.0 && (s.secondMotion.largestTurn() > 0.0 || s.secondMotion.largestShift() > 0.0);
  if (!moved) {
    distortColumnMass([&](double y) { return head.at(x, y, z); }, [&](double y) { return fieldAt(s, x, y, z); },
                      s.extents.y, margin, sign, out, stride);
    return;
  }
  // Where the head point now at (x, y, z) of the second scan was in the first.
  const RigidMotion back = inverseMotion(s.secondMotion);
  const Dimensions& e = s.extents;
  const auto source = [&](double y) {
    const std::array<double, 3> p = back.map(
        {(x - 0.5 * (e.x - 1)) * kVoxelMm, (y - 0.5 * (e.y - 1)) * kVoxelMm, (z - 0.5 * (e.z - 1)) * kVoxelMm});
    return std::array<double, 3>{p[0] / kVoxelMm + 0.5 * (e.x - 1), p[1] / kVoxelMm + 0.5 * (e.y - 1),
                                 p[2] / kVoxelMm + 0.5 * (e.z - 1)};
  };
  distortColumnMass(
      [&](double y) {
        const auto p = source(y);
        return head.at(p[0], p[1], p[2]);
      },
      [&](double y) {
        const auto p = source(y);
        return fieldAt(s, p[0], p[1], p[2]);
      },
      e.y, margin, sign, out, stride);
}

}  // namespace

double steepestSlope(const TruthPairRecipe& setup) {
  const Dimensions& e = setup.extents;
  double steepest = 0.0;
  for (int32_t z = 0; z < e.z; ++z)
    for (int32_t x = 0; x < e.x; ++x)
      for (double y = 0; y <= e.y - 1; y += 0.125) {
        const double slope = (fieldAt(setup, x, y + 1e-4, z) - fieldAt(setup, x, y - 1e-4, z)) / 2e-4;
        steepest = std::max(steepest, std::fabs(slope));
      }
  return steepest;
}

Volume truthMask(const Volume& head, const Volume& truth) {
  const Dimensions e = head.dimensions();
  const auto inside = [&](int32_t x, int32_t y, int32_t z) {
    if (x < 0 || y < 0 || z < 0 || x >= e.x || y >= e.y || z >= e.z) return false;
    const double d = truth(x, y, z);
    return head(x, y, z) != 0.0f && y + d >= 0 && y + d <= e.y - 1 && y - d >= 0 && y - d <= e.y - 1;
  };
  Volume mask(e, 0.0f);
  for (int32_t z = 0; z < e.z; ++z)
    for (int32_t y = 0; y < e.y; ++y)
      for (int32_t x = 0; x < e.x; ++x) {
        const bool keep = inside(x, y, z) && inside(x - 1, y, z) && inside(x + 1, y, z) && inside(x, y - 1, z) &&
                          inside(x, y + 1, z) && (e.z < 3 || (inside(x, y, z - 1) && inside(x, y, z + 1)));
        mask(x, y, z) = keep ? 1.0f : 0.0f;
      }
  return mask;
}

TruthPair makeTruthPair(const TruthPairRecipe& setup) {
  const Dimensions& e = setup.extents;
  const Head head(setup);
  TruthPair pair{Volume(e), Volume(e), Volume(e), Volume(e, 0.0f)};
  const size_t stride = static_cast<size_t>(e.x);
  for (int32_t z = 0; z < e.z; ++z) {
    for (int32_t x = 0; x < e.x; ++x) {
      distortColumn(setup, head, x, z, 1.0, &pair.first(x, 0, z), stride);
      distortColumn(setup, head, x, z, -1.0, &pair.second(x, 0, z), stride);
      for (int32_t y = 0; y < e.y; ++y) pair.truth(x, y, z) = static_cast<float>(fieldAt(setup, x, y, z));
    }
  }
  const double sigma = setup.noise * kBright;
  addRicianNoise(pair.first, sigma, setup.seed, 1);
  addRicianNoise(pair.second, sigma, setup.seed, 2);
  pair.second *= static_cast<float>(setup.secondScale);

  Volume inHead(e);
  for (int32_t z = 0; z < e.z; ++z)
    for (int32_t y = 0; y < e.y; ++y)
      for (int32_t x = 0; x < e.x; ++x) inHead(x, y, z) = head.inside(x, y, z) ? 1.0f : 0.0f;
  pair.mask = truthMask(inHead, pair.truth);
  return pair;
}

}  // namespace daxo
