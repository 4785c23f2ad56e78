#include "demodata/anatomypair.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "correction/bspline.h"
#include "correction/vdm.h"
#include "demodata/columnmass.h"
#include "demodata/magnitudenoise.h"
#include "volume/separablegauss.h"

namespace daxo {

namespace {

// max over voxels of |v(y + 1) - v(y)|, the slope between neighbouring
// centres that a linear interpolation of v has.
double steepestAlongY(const Volume& v) {
  double steepest = 0.0;
  for (int32_t z = 0; z < v.nz(); ++z)
    for (int32_t y = 0; y + 1 < v.ny(); ++y)
      for (int32_t x = 0; x < v.nx(); ++x)
        steepest = std::max(steepest, std::fabs(static_cast<double>(v(x, y + 1, z)) - v(x, y, z)));
  return steepest;
}

double largestInside(const Volume& v, const Volume& head) {
  double largest = 0.0;
  for (size_t i = 0; i < v.voxelCount(); ++i)
    if (head.data()[i] != 0.0f) largest = std::max(largest, std::fabs(static_cast<double>(v.data()[i])));
  return largest;
}

// The 99th percentile (nearest rank) of the volume's values.
double percentile99(const Volume& v) {
  std::vector<float> values(v.data(), v.data() + v.voxelCount());
  const size_t rank = static_cast<size_t>(0.99 * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank), values.end());
  return values[rank];
}

// Linear interpolation of a column's samples at y; `outside` past the ends
// (or the end sample when holding).
double columnAt(const float* column, size_t stride, int32_t n, double y, bool hold) {
  const double fl = std::floor(y);
  const int32_t j = static_cast<int32_t>(fl);
  const double t = y - fl;
  const auto sample = [&](int32_t i) -> double {
    if (i < 0) return hold ? column[0] : 0.0;
    if (i >= n) return hold ? column[static_cast<size_t>(n - 1) * stride] : 0.0;
    return column[static_cast<size_t>(i) * stride];
  };
  return (1.0 - t) * sample(j) + t * sample(j + 1);
}

// Exact zeros outside the scan's own head region, as scanners write them.
void zeroBackground(Volume& noisy, const Volume& clean) {
  const Volume region = gaussianSmoothed(clean, 2.0);
  const double limit = 0.05 * percentile99(region);
  for (size_t i = 0; i < noisy.voxelCount(); ++i)
    if (region.data()[i] < limit) noisy.data()[i] = 0.0f;
}

// The source grid's voxel position (clamped into it) of voxel i of `to`
// voxels of toSize mm, the two grids sharing their centre.
double sourcePosition(int32_t i, int32_t to, double toSize, int32_t from, double fromSize) {
  const double mm = (i - 0.5 * (to - 1)) * toSize;
  return std::clamp(mm / fromSize + 0.5 * (from - 1), 0.0, static_cast<double>(from - 1));
}

}  // namespace

Volume resampledCentred(const Volume& v, const std::array<double, 3>& fromMm, const Dimensions& extents,
                        const std::array<double, 3>& toMm) {
  const Dimensions s = v.dimensions();
  const auto corner = [](double u, int32_t n, int32_t& j0, int32_t& j1, double& t) {
    j0 = std::min(static_cast<int32_t>(std::floor(u)), n - 1);
    j1 = std::min(j0 + 1, n - 1);
    t = u - j0;
  };
  Volume out(extents);
  for (int32_t z = 0; z < extents.z; ++z) {
    int32_t z0, z1;
    double tz;
    corner(sourcePosition(z, extents.z, toMm[2], s.z, fromMm[2]), s.z, z0, z1, tz);
    for (int32_t y = 0; y < extents.y; ++y) {
      int32_t y0, y1;
      double ty;
      corner(sourcePosition(y, extents.y, toMm[1], s.y, fromMm[1]), s.y, y0, y1, ty);
      for (int32_t x = 0; x < extents.x; ++x) {
        int32_t x0, x1;
        double tx;
        corner(sourcePosition(x, extents.x, toMm[0], s.x, fromMm[0]), s.x, x0, x1, tx);
        const auto row = [&](int32_t yy, int32_t zz) { return (1.0 - tx) * v(x0, yy, zz) + tx * v(x1, yy, zz); };
        const double plane0 = (1.0 - ty) * row(y0, z0) + ty * row(y1, z0);
        const double plane1 = (1.0 - ty) * row(y0, z1) + ty * row(y1, z1);
        out(x, y, z) = static_cast<float>((1.0 - tz) * plane0 + tz * plane1);
      }
    }
  }
  return out;
}

Volume resampledCentredCubic(const Volume& v, const std::array<double, 3>& fromMm, const Dimensions& extents,
                             const std::array<double, 3>& toMm) {
  const Dimensions s = v.dimensions();
  std::vector<Float3> points;
  points.reserve(static_cast<size_t>(extents.x) * static_cast<size_t>(extents.y) * static_cast<size_t>(extents.z));
  for (int32_t z = 0; z < extents.z; ++z)
    for (int32_t y = 0; y < extents.y; ++y)
      for (int32_t x = 0; x < extents.x; ++x)
        points.push_back({static_cast<float>(sourcePosition(x, extents.x, toMm[0], s.x, fromMm[0])),
                          static_cast<float>(sourcePosition(y, extents.y, toMm[1], s.y, fromMm[1])),
                          static_cast<float>(sourcePosition(z, extents.z, toMm[2], s.z, fromMm[2]))});
  Volume out(extents);
  bsplineSample(bsplineCoefficients(v), s, points, out.data(), Float3{});
  return out;
}

ShapedField shapedField(const Volume& estimate, const Volume& head, double peak, double maxSlope, double minSigma) {
  ShapedField shaped;
  for (double sigma = minSigma;; sigma += 0.25) {
    Volume smooth = gaussianSmoothed(estimate, sigma);
    const double largest = largestInside(smooth, head);
    const double scale = largest > 0.0 ? peak / largest : 0.0;
    const double steepest = scale * steepestAlongY(smooth);
    if (steepest <= maxSlope || sigma >= 8.0) {
      smooth *= static_cast<float>(scale);
      shaped.displacement = std::move(smooth);
      shaped.sigma = sigma;
      shaped.steepest = steepest;
      return shaped;
    }
  }
}

namespace {

// The object distorted by `sign` times the displacement, column by column.
Volume distorted(const Volume& object, const Volume& displacement, double sign) {
  const Dimensions e = object.dimensions();
  Volume out(e);
  double reach = 0.0;
  for (size_t i = 0; i < displacement.voxelCount(); ++i)
    reach = std::max(reach, std::fabs(static_cast<double>(displacement.data()[i])));
  const int32_t margin = static_cast<int32_t>(std::ceil(reach)) + 2;
  const size_t stride = static_cast<size_t>(e.x);
  for (int32_t z = 0; z < e.z; ++z)
    for (int32_t x = 0; x < e.x; ++x) {
      const float* o = object.data() + object.index(x, 0, z);
      const float* d = displacement.data() + displacement.index(x, 0, z);
      const auto density = [&](double y) { return columnAt(o, stride, e.y, y, false); };
      const auto field = [&](double y) { return columnAt(d, stride, e.y, y, true); };
      distortColumnMass(density, field, e.y, margin, sign, out.data() + out.index(x, 0, z), stride);
    }
  return out;
}

TruthPair noisyPair(Volume first, Volume second, const Volume& displacement, const Volume& head,
                    const AnatomyPairRecipe& recipe) {
  const Volume cleanFirst = first, cleanSecond = second;
  addRicianNoise(first, recipe.noise, recipe.seed, 1);
  addRicianNoise(second, recipe.noise, recipe.seed, 2);
  if (recipe.zeroBackground) {
    zeroBackground(first, cleanFirst);
    zeroBackground(second, cleanSecond);
  }
  return {std::move(first), std::move(second), displacement, truthMask(head, displacement)};
}

// The median absolute deviation from the median, as a normal deviation, of
// (a - b) / 2 over the region's voxels.
double halfDifferenceDeviation(const Volume& a, const Volume& b, const Volume& region) {
  std::vector<double> values;
  for (size_t i = 0; i < a.voxelCount(); ++i)
    if (region.data()[i] != 0.0f) values.push_back(0.5 * (static_cast<double>(a.data()[i]) - b.data()[i]));
  if (values.empty()) return 0.0;
  const auto median = [](std::vector<double>& v) {
    const auto middle = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), middle, v.end());
    return *middle;
  };
  const double centre = median(values);
  for (double& v : values) v = std::fabs(v - centre);
  return median(values) / 0.6745;
}

}  // namespace

Volume unwarpedScan(const Volume& scan, const Volume& displacement, bool negate) {
  Volume out(scan.dimensions());
  warpCubic(out, scan, displacement, negate);
  const Volume slope = derivativeY(displacement);
  const float sign = negate ? -1.0f : 1.0f;
  for (size_t i = 0; i < out.voxelCount(); ++i) out.data()[i] *= 1.0f + sign * slope.data()[i];
  return out;
}

double pairNoise(const std::vector<Volume>& first, const std::vector<Volume>& second, const Volume& displacement,
                 const Volume& head) {
  // The head eroded twice: the truth pairs' mask of an unwarped pair.
  const Volume still(head.dimensions(), 0.0f);
  const Volume inside = truthMask(truthMask(head, still), still);
  // Rician noise on a constant of 1000 less the constant: normal noise.
  Volume white1(displacement.dimensions(), 1000.0f), white2 = white1;
  addRicianNoise(white1, 1.0, 20261209, 1);
  addRicianNoise(white2, 1.0, 20261209, 2);
  for (size_t i = 0; i < white1.voxelCount(); ++i) {
    white1.data()[i] -= 1000.0f;
    white2.data()[i] -= 1000.0f;
  }
  const double unit = halfDifferenceDeviation(unwarpedScan(white1, displacement, false),
                                              unwarpedScan(white2, displacement, true), inside);
  if (first.empty() || second.empty() || unit <= 0.0) return 0.0;
  double least = std::numeric_limits<double>::infinity();
  for (size_t t = 0; t < std::min(first.size(), second.size()); ++t)
    least = std::min(least, halfDifferenceDeviation(unwarpedScan(first[t], displacement, false),
                                                    unwarpedScan(second[t], displacement, true), inside));
  return least / unit;
}

TruthPair makeAnatomyPair(const Volume& object, const Volume& displacement, const Volume& head,
                          const AnatomyPairRecipe& recipe) {
  return noisyPair(distorted(object, displacement, 1.0), distorted(object, displacement, -1.0), displacement, head,
                   recipe);
}

TruthPair makeMovedAnatomyPair(const Volume& object, const Volume& displacement, const Volume& head,
                               const std::array<double, 3>& voxelMm, const RigidMotion& motion,
                               const AnatomyPairRecipe& recipe) {
  const RigidMotion back = inverseMotion(motion);
  const Volume movedObject = movedBy(object, voxelMm, back);
  const Volume movedField = movedBy(displacement, voxelMm, back);
  return noisyPair(distorted(object, displacement, 1.0), distorted(movedObject, movedField, -1.0), displacement, head,
                   recipe);
}

}  // namespace daxo
