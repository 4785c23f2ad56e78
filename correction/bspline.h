#pragma once

#include <vector>

#include "volume/columnthreads.h"
#include "volume/volume.h"

// Interpolating cubic B-splines on volumes, with zero coefficients outside the
// volume. Shared by the displacement-map warp (voxel units) and the rigid
// resampling of the registration (centred physical units).

namespace daxo {

// A point or a per-axis extent, single precision, in (x, y, z) order.
struct Float3 {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
};

// Coefficients c, one double per voxel in src's storage order, such that the
// spline interpolates src at every voxel centre: along every line of every
// axis (c(i-1) + 4 c(i) + c(i+1)) / 6 = f(i) with c(-1) = c(n) = 0. The lines
// are solved along z, then y, then x, each pass on the previous pass's result,
// in double precision. An empty volume gives an empty array.
std::vector<double> bsplineCoefficients(const Volume& src);
// The same coefficients written into `c` (resized to src's voxel count), so
// that a caller correcting many volumes reuses one allocation; the lines are
// solved across `threads` (null: the calling thread only), with the same
// result for any number of threads.
void bsplineCoefficients(const Volume& src, std::vector<double>& c, ColumnThreads* threads = nullptr);

// Samples the spline with coefficients `coefficients` (extents `dims`) at every
// point, writing out[i] for points[i]; `out` must hold points.size() floats.
// Units: when extent.x is exactly 0 the points are voxel positions ((0, 0, 0)
// is the centre of the first voxel); otherwise they are centred physical
// positions (the volume's centre at 0, voxel size extent / n per axis).
// Positions whose taps all lie outside the volume (also NaN) give 0.
void bsplineSample(const std::vector<double>& coefficients, const Dimensions& dims, const std::vector<Float3>& points,
                   float* out, const Float3& extent);

// The gradient sampler of the rigid registration, bsplineSampleGradient (value
// and the three partial derivatives with respect to voxel coordinates), is
// declared in correction/registration.h and defined in
// correction/bsplinegradient.cpp: it uses the same unit conversion and taps
// (correction/bsplinetaps.h) with bspline::cubicWeightDerivatives in place of
// the weights of one axis.

}  // namespace daxo
