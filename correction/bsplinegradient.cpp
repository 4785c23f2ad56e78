#include <cstddef>

#include "correction/bsplinetaps.h"
#include "correction/registration.h"

// Value and gradient of the cubic B-spline. The gradient is taken with respect
// to voxel coordinates whatever the units of the points: a partial derivative
// is the tap sum of bsplineSample with the weights of its axis replaced by
// their derivatives (bspline::cubicWeightDerivatives).

namespace daxo {

namespace {

struct GradientSample {
  float value = 0.0f;
  float dx = 0.0f;
  float dy = 0.0f;
  float dz = 0.0f;
};

// The four tap sums of one point in one pass over the 4 x 4 x 4 coefficients.
// Each equals bspline::sumTaps with the weights of one axis replaced by their
// derivatives dwx, dwy, dwz: per x tap, the sum over z taps (outer) and y taps
// (inner) of (c * wy) * wz in double, times the x weight, the four products
// added in single precision. The value and the x derivative share the inner
// sums, since they differ only in the x weights. `Full` states that every tap
// lies inside the volume, which lets the compiler unroll the fixed-length
// loops; the arithmetic is the same.
template <bool Full>
GradientSample sumTapsWithGradient(const double* c, int32_t nx, int32_t ny, const bspline::AxisTaps& tx,
                                   const bspline::AxisTaps& ty, const bspline::AxisTaps& tz, const double dwx[4],
                                   const double dwy[4], const double dwz[4]) {
  const int32_t xBegin = Full ? 0 : tx.begin, xEnd = Full ? 4 : tx.end;
  const int32_t yBegin = Full ? 0 : ty.begin, yEnd = Full ? 4 : ty.end;
  const int32_t zBegin = Full ? 0 : tz.begin, zEnd = Full ? 4 : tz.end;
  double inner[4] = {0.0, 0.0, 0.0, 0.0};
  double innerDy[4] = {0.0, 0.0, 0.0, 0.0};
  double innerDz[4] = {0.0, 0.0, 0.0, 0.0};
  const std::ptrdiff_t strideY = nx;
  const std::ptrdiff_t strideZ = static_cast<std::ptrdiff_t>(nx) * ny;
  for (int32_t k = zBegin; k < zEnd; ++k) {
    const double wz = tz.w[k];
    const double dz = dwz[k];
    for (int32_t j = yBegin; j < yEnd; ++j) {
      const double wy = ty.w[j];
      const double dy = dwy[j];
      const double* row = c + ((tz.first + k) * strideZ + (ty.first + j) * strideY + tx.first);
      for (int32_t i = xBegin; i < xEnd; ++i) {
        inner[i] += row[i] * wy * wz;
        innerDy[i] += row[i] * dy * wz;
        innerDz[i] += row[i] * wy * dz;
      }
    }
  }
  GradientSample s;
  for (int32_t i = xBegin; i < xEnd; ++i) {
    s.value += static_cast<float>(inner[i] * tx.w[i]);
    s.dx += static_cast<float>(inner[i] * dwx[i]);
    s.dy += static_cast<float>(innerDy[i] * tx.w[i]);
    s.dz += static_cast<float>(innerDz[i] * tx.w[i]);
  }
  return s;
}

bool allTapsInside(const bspline::AxisTaps& t) { return t.begin == 0 && t.end == 4; }

// Locates the taps of one axis with value and derivative weights; false when
// no tap lies inside the axis (the sample and its gradient are then 0).
bool gradientTaps(float u, int32_t n, bspline::AxisTaps& taps, double derivative[4]) {
  if (!bspline::valueTaps(u, n, taps)) return false;
  bspline::cubicWeightDerivatives(taps.t, derivative);
  return true;
}

}  // namespace

void bsplineSampleGradient(const std::vector<double>& coefficients, const Dimensions& dims,
                           const std::vector<Float3>& points, const Float3& extent, SplineGradientSamples& out) {
  const size_t count = points.size();
  out.value.resize(count);
  out.dx.resize(count);
  out.dy.resize(count);
  out.dz.resize(count);
  const bool physical = extent.x != 0.0f;
  const double* c = coefficients.data();
  const Float3* point = points.data();
  float* value = out.value.data();
  float* dx = out.dx.data();
  float* dy = out.dy.data();
  float* dz = out.dz.data();
  for (size_t i = 0; i < count; ++i) {
    const Float3 u = physical ? bspline::toVoxelPosition(point[i], dims, extent) : point[i];
    bspline::AxisTaps tx, ty, tz;
    double dwx[4], dwy[4], dwz[4];
    GradientSample s;
    if (gradientTaps(u.x, dims.x, tx, dwx) && gradientTaps(u.y, dims.y, ty, dwy) &&
        gradientTaps(u.z, dims.z, tz, dwz)) {
      s = allTapsInside(tx) && allTapsInside(ty) && allTapsInside(tz)
              ? sumTapsWithGradient<true>(c, dims.x, dims.y, tx, ty, tz, dwx, dwy, dwz)
              : sumTapsWithGradient<false>(c, dims.x, dims.y, tx, ty, tz, dwx, dwy, dwz);
    }
    value[i] = s.value;
    dx[i] = s.dx;
    dy[i] = s.dy;
    dz[i] = s.dz;
  }
}

SplineGradientSamples bsplineSampleGradient(const std::vector<double>& coefficients, const Dimensions& dims,
                                            const std::vector<Float3>& points, const Float3& extent) {
  SplineGradientSamples out;
  bsplineSampleGradient(coefficients, dims, points, extent, out);
  return out;
}

}  // namespace daxo
