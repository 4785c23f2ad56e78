#pragma once

#include <vector>

#include "correction/bspline.h"
#include "volume/vector.h"
#include "volume/volume.h"
#include "volume/volumetransform.h"

// Rigid registration of the two corrected scans of a pair (Gauss-Newton on the
// mean squared difference over a masked grid, cubic B-spline sampling).
//
// Physical coordinates are centred: with s = extent / n per axis, voxel index i
// lies at i * s + (s - extent) / 2, so a volume's centre is at 0.
// Motion parameters are a Vector of 6 floats (r0, r1, r2, t0, t1, t2):
// rotations about x, y, z in radians, translations along x, y, z in the
// units of the extent (mm). Every function taking them throws
// std::invalid_argument, before changing anything, for any other count.

namespace daxo {

// Value and the three partial derivatives (with respect to voxel coordinates)
// of the spline at every point, in point order.
struct SplineGradientSamples {
  std::vector<float> value;
  std::vector<float> dx;
  std::vector<float> dy;
  std::vector<float> dz;
};

// As bsplineSample (same units and taps), also returning the gradient.
SplineGradientSamples bsplineSampleGradient(const std::vector<double>& coefficients, const Dimensions& dims,
                                            const std::vector<Float3>& points, const Float3& extent);
// The same, writing into `out` (each sequence resized to points.size()), so
// that a caller sampling repeatedly reuses the storage.
void bsplineSampleGradient(const std::vector<double>& coefficients, const Dimensions& dims,
                           const std::vector<Float3>& points, const Float3& extent, SplineGradientSamples& out);

// Rigid matrix R = Rz(r2) Ry(r1) Rx(r0) with R(r, k) = m[4k + r] and the
// translation in the last row (m3, m7, m11); p maps to R p + t.
Matrix4 rigidMatrix(const Vector& parameters);
// Inverse of rigidMatrix for rotations inside (-pi/2, pi/2).
Vector rigidParameters(const Matrix4& m);
// (-t0, -t1, -t2, r0, r1, r2 in degrees): the values the estimation logs.
Vector displayMotion(const Vector& parameters);

// Registers `moving` to `fixed` over a grid of grid.x * grid.y * grid.z points
// spanning the fixed field of view, starting from `parameters` (6 values) and
// leaving the result there. Returns the number of accepted steps. Throws
// std::runtime_error "Matrix Inversion Failed!" when the normal matrix cannot
// be inverted.
// The result maps a fixed point p to R p + t in the moving volume. Only points
// where the fixed volume is bright (above 75, the region widened by a 3 mm
// Gaussian smoothing) are sampled; without any the run ends at its 300-step
// limit with the parameters unchanged. Extents must be positive (mm); the FFT
// functions must be bound (the mask is smoothed).
unsigned registerRigid(const Volume& fixed, const Float3& fixedExtent, const Volume& moving, const Float3& movingExtent,
                       const Dimensions& grid, Vector& parameters);

// The volume resampled under the rigid motion: output voxel at centred position
// p is the spline of `volume` at R p + t. Same dimensions and extent.
Volume resampleRigid(const Volume& volume, const Float3& extent, const Vector& parameters);

}  // namespace daxo
