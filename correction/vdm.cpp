#include "correction/vdm.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "correction/bspline.h"
#include "correction/bsplinetaps.h"
#include "volume/assertion.h"
#include "volume/volumetransform.h"

namespace daxo {

namespace {

constexpr const char* kModule = "vdm";

bool allFinite(const Volume& v) {
  const float* p = v.data();
  const size_t n = v.voxelCount();
  for (size_t i = 0; i < n; ++i)
    if (!std::isfinite(p[i])) return false;
  return true;
}

// Taps of the integer voxel position i on an axis of n voxels (weights 1/6,
// 4/6, 1/6, 0 as the general formula computes them at t = 0). With
// `dropZeroTap` the fourth tap, whose weight is exactly 0, is left out: for a
// finite coefficient its contribution is a signed zero, and adding a signed
// zero to a sum that started at +0 leaves it unchanged, so the result is
// bit-identical. Only a non-finite coefficient (0 * inf = NaN) could tell.
bspline::AxisTaps gridTaps(int32_t i, int32_t n, bool dropZeroTap) {
  bspline::AxisTaps taps;
  bspline::valueTaps(static_cast<float>(i), n, taps);
  if (dropZeroTap) taps.end = std::min(taps.end, 3);
  return taps;
}

}  // namespace

void warpTrilinear(Volume& dst, const Volume& src, const Volume& vdm, bool negate) {
  check(dst.dimensions() == src.dimensions(), kModule, 14, "dst.dimensions() == src.dimensions()");
  check(vdm.dimensions() == src.dimensions(), kModule, 15, "vdm.dimensions() == src.dimensions()");
  check(&dst != &src, kModule, 16, "&dst != &src");
  const int32_t nx = src.nx(), ny = src.ny(), nz = src.nz();
  const float* map = vdm.data();
  float* out = dst.data();
  size_t at = 0;
  for (int32_t z = 0; z < nz; ++z) {
    for (int32_t y = 0; y < ny; ++y) {
      for (int32_t x = 0; x < nx; ++x, ++at) {
        const float d = negate ? -map[at] : map[at];
        out[at] = sampleTrilinear(src, static_cast<float>(x), static_cast<float>(y) + d, static_cast<float>(z));
      }
    }
  }
}

void warpLinearY(Volume& dst, const Volume& src, const Volume& vdm, const VoxelList& voxels, const Volume& box,
                 const VoxelList& boxVoxels, float scale, bool negate) {
  check(dst.dimensions() == src.dimensions(), kModule, 41, "dst.dimensions() == src.dimensions()");
  check(vdm.dimensions() == src.dimensions(), kModule, 42, "vdm.dimensions() == src.dimensions()");
  check(&dst != &src, kModule, 43, "&dst != &src");
  const float sign = negate ? -1.0f : 1.0f;
  const int32_t ny = src.ny();
  const int32_t lastRow = ny - 1;
  const float top = static_cast<float>(lastRow);
  const size_t nx = static_cast<size_t>(src.nx());
  const size_t plane = nx * static_cast<size_t>(ny);
  const size_t boxNx = static_cast<size_t>(box.nx());
  const size_t boxPlane = boxNx * static_cast<size_t>(box.ny());
  const float* in = src.data();
  const float* map = vdm.data();
  const float* boxValues = box.data();
  float* out = dst.data();
  const size_t count = voxels.size();
  for (size_t k = 0; k < count; ++k) {
    const Dimensions p = voxels[k];
    const Dimensions b = boxVoxels[k];
    const size_t column = static_cast<size_t>(p.x) + plane * static_cast<size_t>(p.z);
    const size_t at = column + nx * static_cast<size_t>(p.y);
    const float boxValue =
        boxValues[static_cast<size_t>(b.x) + boxNx * static_cast<size_t>(b.y) + boxPlane * static_cast<size_t>(b.z)];
    const float d = sign * (map[at] + scale * boxValue);
    const float yy = static_cast<float>(p.y) + d;
    if (yy > 0.0f && yy < top) {
      const int32_t i = static_cast<int32_t>(yy);
      const float f = yy - static_cast<float>(i);
      // yy + 1 can round up to ny when yy lies within half an ulp below
      // ny - 1 (ny = 2^k + 1); the row index is kept inside the volume.
      const int32_t i2 = std::min(static_cast<int32_t>(yy + 1.0f), lastRow);
      out[at] = (1.0f - f) * in[column + nx * static_cast<size_t>(i)] + f * in[column + nx * static_cast<size_t>(i2)];
    }
  }
}

void warpCubic(Volume& dst, const Volume& src, const Volume& vdm, bool negate) {
  check(dst.dimensions() == src.dimensions(), kModule, 70, "dst.dimensions() == src.dimensions()");
  check(vdm.dimensions() == src.dimensions(), kModule, 71, "vdm.dimensions() == src.dimensions()");
  check(&dst != &src, kModule, 72, "&dst != &src");
  const int32_t nx = src.nx(), ny = src.ny(), nz = src.nz();
  if (src.voxelCount() == 0) return;
  const std::vector<double> coefficients = bsplineCoefficients(src);
  const double* c = coefficients.data();
  // The sample points (x, y + d, z) are formed on the fly, in storage order.
  // x and z are voxel centres, so their taps are fixed per column and slice.
  const bool dropZeroTaps = allFinite(src);
  std::vector<bspline::AxisTaps> xTaps(static_cast<size_t>(nx));
  for (int32_t x = 0; x < nx; ++x) xTaps[x] = gridTaps(x, nx, dropZeroTaps);
  const float* map = vdm.data();
  float* out = dst.data();
  size_t at = 0;
  for (int32_t z = 0; z < nz; ++z) {
    const bspline::AxisTaps tz = gridTaps(z, nz, dropZeroTaps);
    for (int32_t y = 0; y < ny; ++y) {
      const float fy = static_cast<float>(y);
      for (int32_t x = 0; x < nx; ++x, ++at) {
        const float d = negate ? -map[at] : map[at];
        bspline::AxisTaps ty;
        out[at] = bspline::valueTaps(fy + d, ny, ty) ? bspline::sumTaps(c, nx, ny, xTaps[x], ty, tz) : 0.0f;
      }
    }
  }
}

Volume correctVolume(const Volume& vdm, const Volume& src, bool transposed) {
  Volume corrected(vdm.dimensions());
  if (!transposed) {
    warpCubic(corrected, src, vdm, false);
    return corrected;
  }
  const Volume working = transposeXY(src);
  warpCubic(corrected, working, vdm, false);
  return transposeXY(corrected);
}

}  // namespace daxo
