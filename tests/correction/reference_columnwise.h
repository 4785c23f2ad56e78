#pragma once

// The column-wise estimate written the slow, obvious way with the library's
// Vector and Matrix operations (a fresh vector for every intermediate result,
// the normal equations through transpose, products and invert2x2), to check
// the allocation-free implementation bit for bit.

#include <limits>

#include "correction/simplevdmestimate.h"
#include "volume/distance.h"
#include "volume/linalg.h"
#include "volume/volumegauss.h"

namespace daxo::testing {

// One column's Gauss-Newton fit; u = (a, b) in and out.
inline void referenceColumnFit(const Vector& g, const Vector& f, const Vector& dg, const Vector& df, Vector& u) {
  const int32_t ny = g.size();
  const Vector Y = centredRamp(ny);
  Vector t(2, 0.0f);
  double best = std::numeric_limits<double>::max();
  double cost = best;
  for (int repetition = 0; repetition < 10; ++repetition) {
    const float a = u[0], b = u[1];
    const Vector o = affine(Y, a, b);
    const Vector m = affine(Y, 1.0f / a, -b);
    const Vector ga = sampleAtCentred(g, o) * a;
    const Vector fa = sampleAtCentred(f, m) * (1.0f / a);
    cost = meanSquaredDifferenceNonZero(ga, fa);
    if ((cost - best) * 100.0 / best > -0.01) break;
    best = cost;
    const Vector ra = sampleAtCentred(dg, o);
    const Vector rb = sampleAtCentred(df, m);
    Matrix K(ny, 2);
    for (int32_t i = 0; i < ny; ++i) {
      K(i, 0) = (a * ra[i] - (1.0f / a) * rb[i] * (-1.0f / (a * a))) * Y[i];
      K(i, 1) = a * ra[i] - (-1.0f / a) * rb[i];
    }
    const Vector e = ga - fa;
    const Matrix Kt = transpose(K);
    t = ((-invert2x2(Kt * K)) * Kt) * e;
    u += t;
  }
  if (cost > best) u -= t;
}

inline Volume referenceColumnWise(const Volume& ap, const Volume& pa, const Sigma3& sigma, int order) {
  const Volume A = smoothed(ap, sigma, {order, order, order});
  const Volume P = smoothed(pa, sigma, {order, order, order});
  const Volume dA = smoothed(ap, sigma, {0, 1, 0});
  const Volume dP = smoothed(pa, sigma, {0, 1, 0});
  const int32_t nx = ap.nx(), ny = ap.ny(), nz = ap.nz();
  const Vector Y = centredRamp(ny);
  Matrix S(nx, nz, 1.0f), B(nx, nz, 0.0f), M(nx, nz, 1.0f);
  Volume result(ap.dimensions(), 0.0f);
  const Matrix kernel = gaussianKernel2D(5, 5, {1.0, 1.0}, {0, 0}, false);
  for (int pass = 0; pass < 10; ++pass) {
    if (pass > 0) {
      convolveMasked2D(S, kernel, M, true);
      convolveMasked2D(B, kernel, M, true);
    }
    for (int32_t z = 0; z < nz; ++z)
      for (int32_t x = 0; x < nx; ++x) {
        M(x, z) = 0.0f;
        const Vector g = extractColumn(A, x, z), f = extractColumn(P, x, z);
        if (!(g.max() > 100.0f && f.max() > 100.0f)) continue;
        M(x, z) = 1.0f;
        Vector u(2);
        u[0] = S(x, z);
        u[1] = B(x, z);
        referenceColumnFit(g, f, extractColumn(dA, x, z), extractColumn(dP, x, z), u);
        S(x, z) = u[0];
        B(x, z) = u[1];
        const Vector o = affine(Y, u[0], u[1]);
        const Vector m = affine(Y, 1.0f / u[0], -u[1]);
        insertColumn((o - m) / 2.0f, result, x, z);
      }
  }
  return result;
}

}  // namespace daxo::testing
