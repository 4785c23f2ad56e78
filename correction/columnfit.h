#pragma once

#include <cstdint>

#include "volume/vector.h"

// Gauss-Newton fit of one column pair of the column-wise estimate. A column is
// the line of ny voxels along y (the phase-encoding axis) at a fixed x and z.
// With the centred ramp Y = y - ny/2 (voxels), the first scan g sampled at
// a*Y + b and scaled by a should match the second scan f sampled at Y/a - b
// and scaled by 1/a; the displacement of the column is the half-difference of
// the two sampling positions. All arithmetic is single precision except the
// cost (a double mean of squared single-precision differences).

namespace daxo {

// 2 x 2 inverse of [[p, r], [q, s]] (p = (0, 0), q = (1, 0), r = (0, 1),
// s = (1, 1)): (1 / (s p - r q)) * [[s, -r], [-q, p]], the determinant not
// tested. `inverse` receives the elements in column-major order.
void invert2x2(float p, float q, float r, float s, float inverse[4]);

// Fits the parameters of one column pair of length ny. The buffers are made
// once by the constructor, so fitting many columns allocates nothing.
class ColumnFit {
 public:
  explicit ColumnFit(int32_t ny);

  // g and f: the filtered columns of the first and second scan; dg and df:
  // their derivatives along y; all of ny values. a and b hold the starting
  // scale and shift and receive the result. At most kRepetitions steps are
  // taken; the repetition stops early when the cost improves by less than
  // 0.01 per cent or rises (a step that raised the cost is taken back). A NaN
  // cost never stops it. A singular step system is not trapped: its
  // infinities or NaNs flow into a and b.
  void fit(const Vector& g, const Vector& f, const Vector& dg, const Vector& df, float& a, float& b);

  // out[y] = ((a Y + b) - (Y / a - b)) / 2: the column's displacement in
  // voxels. out must hold ny values.
  void displacement(float a, float b, Vector& out);

  static constexpr int kRepetitions = 10;

 private:
  // o = a Y + b and m = Y (1 / a) - b, formed as the affine maps of the ramp.
  void samplingPositions(float a, float b);
  // ga = a g(o), fa = (1 / a) f(m) and their mean squared difference over the
  // entries where neither is 0.
  double cost(const Vector& g, const Vector& f, float a);
  // The step t = ((-(K^T K)^-1) K^T) e from the Jacobian K and residual e.
  void step(const Vector& dg, const Vector& df, float a, float& t0, float& t1);

  Vector ramp_;
  Vector o_, m_;    // sampling positions, centred
  Vector ga_, fa_;  // scaled samples
  Vector k0_, k1_;  // Jacobian columns (d/da, d/db)
  Vector e_;        // residual ga - fa
};

}  // namespace daxo
