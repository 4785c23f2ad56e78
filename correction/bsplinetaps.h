#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "correction/bspline.h"

// Building blocks of cubic B-spline sampling, shared by the value sampler
// (bspline.cpp, the displacement-map warp) and the gradient sampler of the
// rigid registration. A sample is a sum over 4 x 4 x 4 taps; each axis
// contributes the tap indices K-1 .. K+2 (K = floor of the position in voxel
// units) and one weight per tap. The value sampler uses cubicWeights on every
// axis; a partial derivative replaces the weights of one axis by
// cubicWeightDerivatives. Taps outside 0 .. n-1 have weight 0 and are not read.

namespace daxo {
namespace bspline {

constexpr double kSixth = 1.0 / 6.0;

// Weights of the taps K-1, K, K+1, K+2 at fraction t = u - K in [0, 1):
// (1-t)^3/6, (4 - 6t^2 + 3t^3)/6, (1 + 3t + 3t^2 - 3t^3)/6, t^3/6, evaluated in
// this cancellation-friendly form so that the four weights sum to 1.
inline void cubicWeights(double t, double w[4]) {
  const double a = t * t * t / 6.0;
  w[0] = (t - 1.0) * t / 2.0 + kSixth - a;
  w[2] = t - 2.0 * a + w[0];
  w[1] = 1.0 - a - w[2] - w[0];
  w[3] = a;
}

// d/dt of the weights above: -(1-t)^2/2, 1.5t^2 - 2t, 0.5 + t - 1.5t^2, t^2/2.
inline void cubicWeightDerivatives(double t, double w[4]) {
  w[0] = -(1.0 - t) * (1.0 - t) / 2.0;
  w[1] = 1.5 * t * t - 2.0 * t;
  w[2] = 0.5 + t - 1.5 * t * t;
  w[3] = t * t / 2.0;
}

// The taps of one axis: tap i (0 .. 3) is voxel index first + i; only the taps
// begin .. end-1 lie inside the axis. w holds the weights of all four taps.
struct AxisTaps {
  int32_t first = 0;
  int32_t begin = 0;
  int32_t end = 0;
  double t = 0.0;
  double w[4] = {0.0, 0.0, 0.0, 0.0};
};

// Position in voxel units of a centred physical coordinate p on an axis of n
// voxels spanning `extent`: physical 0 is the volume's centre and voxel 0 lies
// at -(extent - s) / 2 with s = extent / n. Single precision.
inline float toVoxelUnits(float p, int32_t n, float extent) {
  const float s = extent / static_cast<float>(n);
  return (p - (s - extent) * 0.5f) / s;
}

// toVoxelUnits on every axis of a volume of extents dims spanning `extent`.
inline Float3 toVoxelPosition(const Float3& p, const Dimensions& dims, const Float3& extent) {
  return {toVoxelUnits(p.x, dims.x, extent.x), toVoxelUnits(p.y, dims.y, extent.y),
          toVoxelUnits(p.z, dims.z, extent.z)};
}

// Locates the taps of position u (voxel units) on an axis of n voxels and sets
// their fraction t; the weights are left to the caller. Returns false when no
// tap lies inside the axis (also for NaN and for positions far outside), in
// which case the sample is 0.
inline bool locateTaps(float u, int32_t n, AxisTaps& taps) {
  const double k = std::floor(static_cast<double>(u));
  // Taps K-1 .. K+2 meet 0 .. n-1 only for -2 <= K <= n; NaN fails both tests.
  if (!(k >= -2.0 && k <= static_cast<double>(n))) return false;
  taps.first = static_cast<int32_t>(k) - 1;
  taps.begin = std::max(0, -taps.first);
  taps.end = std::min(4, n - taps.first);
  taps.t = static_cast<double>(u) - k;
  return taps.begin < taps.end;
}

// Locates the taps of u and fills the value weights.
inline bool valueTaps(float u, int32_t n, AxisTaps& taps) {
  if (!locateTaps(u, n, taps)) return false;
  cubicWeights(taps.t, taps.w);
  return true;
}

// The tap sum over coefficients c (extents nx, ny, any nz, x fastest): for each
// x tap the sum over z taps (outer) and y taps (inner) of c * wy * wz is formed
// in double precision and multiplied by the x weight; these products are added
// in single precision, starting from 0. Taps outside the volume are skipped,
// which equals adding their zero contribution exactly, since a sum that starts
// at +0 is never -0.
inline float sumTaps(const double* c, int32_t nx, int32_t ny, const AxisTaps& tx, const AxisTaps& ty,
                     const AxisTaps& tz) {
  double inner[4] = {0.0, 0.0, 0.0, 0.0};
  const std::ptrdiff_t strideY = nx;
  const std::ptrdiff_t strideZ = static_cast<std::ptrdiff_t>(nx) * ny;
  for (int32_t k = tz.begin; k < tz.end; ++k) {
    const double wz = tz.w[k];
    for (int32_t j = ty.begin; j < ty.end; ++j) {
      const double wy = ty.w[j];
      const std::ptrdiff_t row = (tz.first + k) * strideZ + (ty.first + j) * strideY + tx.first;
      for (int32_t i = tx.begin; i < tx.end; ++i) inner[i] += c[row + i] * wy * wz;
    }
  }
  float value = 0.0f;
  for (int32_t i = tx.begin; i < tx.end; ++i) value += static_cast<float>(inner[i] * tx.w[i]);
  return value;
}

}  // namespace bspline
}  // namespace daxo
