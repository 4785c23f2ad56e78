#include "correction/fieldresample.h"

#include <algorithm>
#include <cmath>

namespace daxo {

namespace {

// Trilinear sample at (x, y, z) in voxel units, positions clamped to the grid.
float sampleClamped(const Volume& v, double x, double y, double z) {
  // A damaged affine can give positions that are not numbers: the nearest
  // corner stands in for them.
  if (!std::isfinite(x)) x = 0.0;
  if (!std::isfinite(y)) y = 0.0;
  if (!std::isfinite(z)) z = 0.0;
  x = std::clamp(x, 0.0, static_cast<double>(v.nx() - 1));
  y = std::clamp(y, 0.0, static_cast<double>(v.ny() - 1));
  z = std::clamp(z, 0.0, static_cast<double>(v.nz() - 1));
  const int32_t x0 = static_cast<int32_t>(std::floor(x)), y0 = static_cast<int32_t>(std::floor(y)),
                z0 = static_cast<int32_t>(std::floor(z));
  const int32_t x1 = std::min(x0 + 1, v.nx() - 1), y1 = std::min(y0 + 1, v.ny() - 1), z1 = std::min(z0 + 1, v.nz() - 1);
  const double fx = x - x0, fy = y - y0, fz = z - z0;
  const auto along = [&](int32_t yy, int32_t zz) { return (1 - fx) * v(x0, yy, zz) + fx * v(x1, yy, zz); };
  const double lower = (1 - fy) * along(y0, z0) + fy * along(y1, z0);
  const double upper = (1 - fy) * along(y0, z1) + fy * along(y1, z1);
  return static_cast<float>((1 - fz) * lower + fz * upper);
}

}  // namespace

Volume resampleThroughAffines(const Volume& source, const Affine& sourceAffine, const Dimensions& extents,
                              const Affine& targetAffine) {
  const Affine toSource = inverseAffine(sourceAffine);
  // Target voxel -> mm -> source voxel, as one affine.
  Affine m{};
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      for (int k = 0; k < 4; ++k) m[r][c] += toSource[r][k] * targetAffine[k][c];
    }
  }
  Volume out(extents);
  for (int32_t z = 0; z < extents.z; ++z) {
    for (int32_t y = 0; y < extents.y; ++y) {
      for (int32_t x = 0; x < extents.x; ++x) {
        const double p[3] = {m[0][0] * x + m[0][1] * y + m[0][2] * z + m[0][3],
                             m[1][0] * x + m[1][1] * y + m[1][2] * z + m[1][3],
                             m[2][0] * x + m[2][1] * y + m[2][2] * z + m[2][3]};
        out(x, y, z) = sampleClamped(source, p[0], p[1], p[2]);
      }
    }
  }
  return out;
}

bool sameGrid(const Dimensions& a, const Affine& aAffine, const Dimensions& b, const Affine& bAffine) {
  if (a != b) return false;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) {
      if (std::fabs(aAffine[r][c] - bAffine[r][c]) > 1e-4) return false;
    }
  }
  return true;
}

}  // namespace daxo
