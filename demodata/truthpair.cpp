#include "demodata/truthpair.h"

#include <algorithm>
#include <cmath>

#include "demodata/headphantom.h"
#include "demodata/random.h"
#include "demodata/signalmodel.h"

namespace daxo {

namespace {

constexpr double kBright = 1000.0;

double fieldAt(const TruthPairSpec& s, double x, double y, double z) {
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
  explicit Head(const TruthPairSpec& s) : phantom_(settingsFor(s)), signal_(Contrast{}), shift_(s.objectShiftY) {}
  double at(double x, double y, double z) const { return signal_(phantom_.mixAt(x, y - shift_, z)); }
  bool inside(double x, double y, double z) const { return phantom_.mixAt(x, y - shift_, z).head >= 0.5f; }

 private:
  static DemoSettings settingsFor(const TruthPairSpec& s) {
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

// One distorted column: out[j] = mass of the object over {y : y + sign d(y) in [j - 1/2, j + 1/2]}.
void distortColumn(const TruthPairSpec& s, const Head& head, int32_t x, int32_t z, double sign, float* out,
                   size_t stride) {
  const int32_t ny = s.extents.y;
  constexpr int32_t kSub = 8;
  const double h = 1.0 / kSub;
  double reach = 2.0 + std::fabs(s.slopeY) * ny;
  for (const FieldBump& b : s.bumps) reach += std::fabs(b.amplitude);
  const int32_t margin = static_cast<int32_t>(std::ceil(reach));
  const int32_t count = (ny + 2 * margin) * kSub + 1;
  std::vector<double> position(static_cast<size_t>(count)), mass(static_cast<size_t>(count));
  double previousDensity = 0.0;
  for (int32_t k = 0; k < count; ++k) {
    const double y = -margin - 0.5 + k * h;
    position[static_cast<size_t>(k)] = y + sign * fieldAt(s, x, y, z);
    const double density = head.at(x, y, z);
    mass[static_cast<size_t>(k)] =
        k == 0 ? 0.0 : mass[static_cast<size_t>(k - 1)] + 0.5 * h * (density + previousDensity);
    previousDensity = density;
  }
  // The mass below the object point that lands at boundary beta.
  const auto massBelow = [&](double beta) {
    const auto it = std::lower_bound(position.begin(), position.end(), beta);
    if (it == position.begin()) return 0.0;
    if (it == position.end()) return mass.back();
    const size_t k = static_cast<size_t>(it - position.begin());
    const double t = (beta - position[k - 1]) / (position[k] - position[k - 1]);
    return mass[k - 1] + t * (mass[k] - mass[k - 1]);
  };
  double lower = massBelow(-0.5);
  for (int32_t j = 0; j < ny; ++j) {
    const double upper = massBelow(j + 0.5);
    out[static_cast<size_t>(j) * stride] = static_cast<float>(upper - lower);
    lower = upper;
  }
}

void addRicianNoise(Volume& v, double sigma, uint64_t seed, uint64_t stream) {
  if (sigma <= 0) return;
  float* p = v.data();
  for (size_t i = 0; i < v.voxelCount(); ++i) {
    const NormalPair n = normalPairAt(seed, stream, i);
    const double re = p[i] + sigma * n.first, im = sigma * n.second;
    p[i] = static_cast<float>(std::sqrt(re * re + im * im));
  }
}

}  // namespace

double steepestSlope(const TruthPairSpec& setup) {
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

TruthPair makeTruthPair(const TruthPairSpec& setup) {
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

  const auto inside = [&](int32_t x, int32_t y, int32_t z) {
    if (x < 0 || y < 0 || z < 0 || x >= e.x || y >= e.y || z >= e.z) return false;
    const double d = pair.truth(x, y, z);
    return head.inside(x, y, z) && y + d >= 0 && y + d <= e.y - 1 && y - d >= 0 && y - d <= e.y - 1;
  };
  for (int32_t z = 0; z < e.z; ++z)
    for (int32_t y = 0; y < e.y; ++y)
      for (int32_t x = 0; x < e.x; ++x) {
        const bool keep = inside(x, y, z) && inside(x - 1, y, z) && inside(x + 1, y, z) && inside(x, y - 1, z) &&
                          inside(x, y + 1, z) && (e.z < 3 || (inside(x, y, z - 1) && inside(x, y, z + 1)));
        pair.mask(x, y, z) = keep ? 1.0f : 0.0f;
      }
  return pair;
}

}  // namespace daxo
