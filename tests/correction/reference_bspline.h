#pragma once

// Slow, obvious cubic B-spline interpolation for checking the library: every
// line is solved by dense Gaussian elimination with partial pivoting, and a
// sample is the plain 64-tap sum of the textbook weights, all in double.

#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "correction/bspline.h"
#include "volume/volume.h"

namespace daxo::testing {

// Solves (c(i-1) + 4 c(i) + c(i+1)) / 6 = f(i), c(-1) = c(n) = 0, densely.
inline std::vector<double> solveSplineLineDense(const std::vector<double>& f) {
  const size_t n = f.size();
  std::vector<std::vector<double>> a(n, std::vector<double>(n + 1, 0.0));
  for (size_t i = 0; i < n; ++i) {
    a[i][i] = 4.0 / 6.0;
    if (i > 0) a[i][i - 1] = 1.0 / 6.0;
    if (i + 1 < n) a[i][i + 1] = 1.0 / 6.0;
    a[i][n] = f[i];
  }
  for (size_t col = 0; col < n; ++col) {
    size_t pivot = col;
    for (size_t r = col + 1; r < n; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    std::swap(a[col], a[pivot]);
    for (size_t r = 0; r < n; ++r) {
      if (r == col) continue;
      const double factor = a[r][col] / a[col][col];
      for (size_t k = col; k <= n; ++k) a[r][k] -= factor * a[col][k];
    }
  }
  std::vector<double> c(n);
  for (size_t i = 0; i < n; ++i) c[i] = a[i][n] / a[i][i];
  return c;
}

inline std::vector<double> referenceCoefficients(const Volume& v) {
  const int nx = v.nx(), ny = v.ny(), nz = v.nz();
  std::vector<double> c(v.data(), v.data() + v.voxelCount());
  auto at = [&](int x, int y, int z) -> double& { return c[v.index(x, y, z)]; };
  for (int y = 0; y < ny; ++y)
    for (int x = 0; x < nx; ++x) {
      std::vector<double> line(nz);
      for (int z = 0; z < nz; ++z) line[z] = at(x, y, z);
      line = solveSplineLineDense(line);
      for (int z = 0; z < nz; ++z) at(x, y, z) = line[z];
    }
  for (int z = 0; z < nz; ++z)
    for (int x = 0; x < nx; ++x) {
      std::vector<double> line(ny);
      for (int y = 0; y < ny; ++y) line[y] = at(x, y, z);
      line = solveSplineLineDense(line);
      for (int y = 0; y < ny; ++y) at(x, y, z) = line[y];
    }
  for (int z = 0; z < nz; ++z)
    for (int y = 0; y < ny; ++y) {
      std::vector<double> line(nx);
      for (int x = 0; x < nx; ++x) line[x] = at(x, y, z);
      line = solveSplineLineDense(line);
      for (int x = 0; x < nx; ++x) at(x, y, z) = line[x];
    }
  return c;
}

// The cubic B-spline kernel at distance d from a knot.
inline double splineKernel(double d) {
  d = std::fabs(d);
  if (d < 1.0) return (4.0 - 6.0 * d * d + 3.0 * d * d * d) / 6.0;
  if (d < 2.0) return (2.0 - d) * (2.0 - d) * (2.0 - d) / 6.0;
  return 0.0;
}

// d/dd of splineKernel.
inline double splineKernelDerivative(double d) {
  const double a = std::fabs(d);
  if (a < 1.0) return -2.0 * d + 1.5 * d * a;
  if (a < 2.0) return (d < 0.0 ? 0.5 : -0.5) * (2.0 - a) * (2.0 - a);
  return 0.0;
}

// Spline value at a voxel position, coefficients zero outside the volume; with
// `derivativeAxis` 0, 1 or 2 the partial derivative along x, y or z instead.
inline double referenceSample(const std::vector<double>& c, const Dimensions& d, double x, double y, double z,
                              int derivativeAxis = -1) {
  auto kernel = [&](int axis, double t) {
    return axis == derivativeAxis ? splineKernelDerivative(t) : splineKernel(t);
  };
  double sum = 0.0;
  for (int k = static_cast<int>(std::floor(z)) - 1; k <= static_cast<int>(std::floor(z)) + 2; ++k)
    for (int j = static_cast<int>(std::floor(y)) - 1; j <= static_cast<int>(std::floor(y)) + 2; ++j)
      for (int i = static_cast<int>(std::floor(x)) - 1; i <= static_cast<int>(std::floor(x)) + 2; ++i) {
        if (i < 0 || j < 0 || k < 0 || i >= d.x || j >= d.y || k >= d.z) continue;
        sum += c[static_cast<size_t>(i) + static_cast<size_t>(d.x) * (j + static_cast<size_t>(d.y) * k)] *
               kernel(0, x - i) * kernel(1, y - j) * kernel(2, z - k);
      }
  return sum;
}

inline double maxAbs(const std::vector<double>& values) {
  double m = 0.0;
  for (double v : values) m = std::max(m, std::fabs(v));
  return m;
}

// The centred physical position of voxel position p in a volume of voxel
// size `voxelSize` spanning `extent`: voxel index i lies at i s + (s - L) / 2.
inline Float3 physicalPoint(const Float3& p, const Float3& voxelSize, const Float3& extent) {
  return {p.x * voxelSize.x + (voxelSize.x - extent.x) * 0.5f, p.y * voxelSize.y + (voxelSize.y - extent.y) * 0.5f,
          p.z * voxelSize.z + (voxelSize.z - extent.z) * 0.5f};
}

// Bound on the rounding of a spline sample in single precision: at most four
// float products and three float additions, each rounded by half an ulp of a
// value no larger than the largest coefficient (the weights are positive and
// sum to 1).
inline double sampleRoundingBound(const std::vector<double>& c) { return 8.0 * std::ldexp(1.0, -24) * maxAbs(c); }

}  // namespace daxo::testing
