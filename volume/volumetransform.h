#pragma once

#include "volume/volume.h"

// Affine resampling with trilinear interpolation (zero outside the source).
// Coordinates are voxel indices of the volume they refer to: (0, 0, 0) is the
// centre of the first voxel; a volume's centre is ((n - 1) * 0.5) per axis.

namespace daxo {

// 4 x 4 single-precision matrix, column-major: element (r, c) is m[4c + r].
// A point maps as x' = m12 + z*m8 + (y*m4 + x*m0) (likewise y', z'); the last
// row is carried through products but never used to map points.
struct Matrix4 {
  float m[16] = {0};

  static Matrix4 identity();
  static Matrix4 translation(float tx, float ty, float tz);
  float operator()(int r, int c) const { return m[4 * c + r]; }
};

Matrix4 multiply(const Matrix4& a, const Matrix4& b);
// General inverse by cofactors. A singular matrix is not detected: the result
// then holds infinities or NaNs.
Matrix4 inverse(const Matrix4& m);
// m * T(t): maps p to m * (p + t).
Matrix4 translated(const Matrix4& m, float tx, float ty, float tz);

// Trilinear sample at a voxel position; corners outside the volume count as 0,
// so the value fades to 0 within one voxel outside. NaN position gives NaN.
float sampleTrilinear(const Volume& v, float x, float y, float z);

// Pull resampling: every voxel p of dst (which keeps its own dimensions)
// becomes sampleTrilinear(src, m * p). dst must not be src.
void resampleAffine(Volume& dst, const Volume& src, const Matrix4& m);
// dst(p) = src(c_src + x * (p - c_dst)): x acts about the two volumes' centres.
void transformAboutCentres(Volume& dst, const Volume& src, const Matrix4& x);
// Stretches src so that its extent covers dst's, centres aligned.
void resampleToSize(Volume& dst, const Volume& src);

}  // namespace daxo
