#pragma once

#include <array>

#include "correction/bspline.h"
#include "volume/vector.h"
#include "volume/volumetransform.h"

// Helpers of the rigid motion model (see correction/registration.h for the
// parameters and the rigid matrix).
//
// A rigid matrix keeps its rotation R in the upper-left 3 x 3 block, R(r, k) =
// m[4k + r], and its translation in the LAST ROW (m3, m7, m11). It maps points
// with rigidMap below, never with the affine map of volume/volumetransform.h,
// whose translation lies in m12 .. m14. The two conventions meet only through
// multiply() and inverse(), which treat all sixteen elements alike.

namespace daxo {

// Upper-left 3 x 3 block of m times p, single precision, each component summed
// in x, y, z order: x' = m0 x + m4 y + m8 z, y' = m1 x + m5 y + m9 z,
// z' = m2 x + m6 y + m10 z.
inline Float3 rotatePoint(const Matrix4& m, const Float3& p) {
  const float* e = m.m;
  return {e[0] * p.x + e[4] * p.y + e[8] * p.z, e[1] * p.x + e[5] * p.y + e[9] * p.z,
          e[2] * p.x + e[6] * p.y + e[10] * p.z};
}

// The rigid point map R p + t of a rigid matrix: x' = m0 x + m4 y + m8 z + m3,
// y' = ... + m7, z' = ... + m11, summed left to right. Units are those of p
// (the registration uses centred physical units, mm).
inline Float3 rigidMap(const Matrix4& m, const Float3& p) {
  const Float3 r = rotatePoint(m, p);
  return {r.x + m.m[3], r.y + m.m[7], r.z + m.m[11]};
}

// The exact partial derivatives dR/dr0, dR/dr1, dR/dr2 of R = Rz(r2) Ry(r1)
// Rx(r0) at the angles of `parameters`, each in the upper-left 3 x 3 block of
// a Matrix4 (same layout as rigidMatrix), every other element 0. Single
// precision, with the sines and cosines rigidMatrix uses.
std::array<Matrix4, 3> rotationDerivatives(const Vector& parameters);

// Throws std::invalid_argument unless `parameters` holds exactly the six
// motion parameters (r0, r1, r2, t0, t1, t2). Reading a shorter vector would
// run past its end.
void requireMotionParameters(const Vector& parameters);

}  // namespace daxo
