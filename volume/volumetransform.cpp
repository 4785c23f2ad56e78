#include "volume/volumetransform.h"

#include <cmath>
#include <limits>

#include "volume/assertion.h"

namespace daxo {

namespace {
constexpr const char* kModule = "volumetransform";

Matrix4 diagonal(float sx, float sy, float sz) {
  Matrix4 d;
  const float s[3] = {sx, sy, sz};
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 4; ++r) d.m[4 * c + r] = (r == c) ? s[c] : s[c] * 0.0f;
  d.m[15] = 1.0f;
  return d;
}

float centreOf(int32_t n) { return static_cast<float>(n - 1) * 0.5f; }

// floor(t) for -1 <= t < 2^31 (the caller has excluded everything else); a
// plain conversion avoids the library call that floor() costs without SSE4.1.
inline int32_t floorInRange(float t) {
  const int32_t i = static_cast<int32_t>(t);
  return static_cast<float>(i) > t ? i - 1 : i;
}
}  // namespace

Matrix4 Matrix4::identity() {
  Matrix4 r;
  r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1.0f;
  return r;
}

Matrix4 Matrix4::translation(float tx, float ty, float tz) {
  Matrix4 r = identity();
  r.m[12] = tx;
  r.m[13] = ty;
  r.m[14] = tz;
  return r;
}

Matrix4 multiply(const Matrix4& a, const Matrix4& b) {
  Matrix4 r;
  for (int c = 0; c < 4; ++c) {
    for (int row = 0; row < 4; ++row) {
      float s = a(row, 0) * b(0, c) + a(row, 1) * b(1, c);
      s = s + a(row, 2) * b(2, c);
      s = s + a(row, 3) * b(3, c);
      r.m[4 * c + row] = s;
    }
  }
  return r;
}

Matrix4 inverse(const Matrix4& matrix) {
  const float* m = matrix.m;
  float inv[16];
  inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] + m[9] * m[7] * m[14] +
           m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
  inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15] - m[8] * m[7] * m[14] -
           m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
  inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] + m[8] * m[7] * m[13] +
           m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
  inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14] - m[8] * m[6] * m[13] -
            m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
  inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15] - m[9] * m[3] * m[14] -
           m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
  inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] + m[8] * m[3] * m[14] +
           m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
  inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] - m[8] * m[3] * m[13] -
           m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
  inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] + m[8] * m[2] * m[13] +
            m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
  inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14] + m[13] * m[2] * m[7] -
           m[13] * m[3] * m[6];
  inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] - m[4] * m[3] * m[14] -
           m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
  inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] + m[4] * m[3] * m[13] +
            m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
  inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] - m[4] * m[2] * m[13] -
            m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
  inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] - m[5] * m[3] * m[10] - m[9] * m[2] * m[7] +
           m[9] * m[3] * m[6];
  inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10] + m[8] * m[2] * m[7] -
           m[8] * m[3] * m[6];
  inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9] - m[8] * m[1] * m[7] +
            m[8] * m[3] * m[5];
  inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9] + m[8] * m[1] * m[6] -
            m[8] * m[2] * m[5];
  // Expansion along the first column; one reciprocal for all elements.
  const float det = m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
  const float reciprocal = 1.0f / det;
  Matrix4 r;
  for (int i = 0; i < 16; ++i) r.m[i] = inv[i] * reciprocal;
  return r;
}

Matrix4 translated(const Matrix4& a, float tx, float ty, float tz) {
  Matrix4 r = a;
  const float* m = a.m;
  r.m[12] = tx * m[0] + ty * m[4] + tz * m[8] + m[12];
  r.m[13] = tx * m[1] + ty * m[5] + tz * m[9] + m[13];
  r.m[14] = tx * m[2] + ty * m[6] + tz * m[10] + m[14];
  r.m[15] = tx * m[3] + ty * m[7] + tz * m[11] + m[15];
  return r;
}

float sampleTrilinear(const Volume& v, float x, float y, float z) {
  if (std::isnan(x) || std::isnan(y) || std::isnan(z)) return std::numeric_limits<float>::quiet_NaN();
  const int32_t nx = v.nx(), ny = v.ny(), nz = v.nz();
  // Every corner outside: the result is 0. Returning early also keeps floor()
  // of far-away positions inside the integer range.
  if (x < -1.0f || y < -1.0f || z < -1.0f || x >= static_cast<float>(nx) || y >= static_cast<float>(ny) ||
      z >= static_cast<float>(nz))
    return 0.0f;
  const int32_t x0 = floorInRange(x), y0 = floorInRange(y), z0 = floorInRange(z);
  const int32_t x1 = x0 + 1, y1 = y0 + 1, z1 = z0 + 1;
  float v000, v001, v010, v011, v100, v101, v110, v111;
  if (x0 >= 0 && y0 >= 0 && z0 >= 0 && x1 < nx && y1 < ny && z1 < nz) {
    // All eight corners inside: read them without per-corner tests.
    const size_t row = static_cast<size_t>(nx), slice = row * static_cast<size_t>(ny);
    const float* p = v.data() + v.index(x0, y0, z0);
    v000 = p[0];
    v001 = p[slice];
    v010 = p[row];
    v011 = p[row + slice];
    v100 = p[1];
    v101 = p[1 + slice];
    v110 = p[1 + row];
    v111 = p[1 + row + slice];
  } else {
    const bool inX0 = x0 >= 0 && x0 < nx, inX1 = x1 >= 0 && x1 < nx;
    const bool inY0 = y0 >= 0 && y0 < ny, inY1 = y1 >= 0 && y1 < ny;
    const bool inZ0 = z0 >= 0 && z0 < nz, inZ1 = z1 >= 0 && z1 < nz;
    auto at = [&](bool inside, int32_t xi, int32_t yi, int32_t zi) { return inside ? v(xi, yi, zi) : 0.0f; };
    v000 = at(inX0 && inY0 && inZ0, x0, y0, z0);
    v001 = at(inX0 && inY0 && inZ1, x0, y0, z1);
    v010 = at(inX0 && inY1 && inZ0, x0, y1, z0);
    v011 = at(inX0 && inY1 && inZ1, x0, y1, z1);
    v100 = at(inX1 && inY0 && inZ0, x1, y0, z0);
    v101 = at(inX1 && inY0 && inZ1, x1, y0, z1);
    v110 = at(inX1 && inY1 && inZ0, x1, y1, z0);
    v111 = at(inX1 && inY1 && inZ1, x1, y1, z1);
  }
  const float fx = x - static_cast<float>(x0), fy = y - static_cast<float>(y0), fz = z - static_cast<float>(z0);
  const float gz = 1.0f - fz;
  const float w00 = (1.0f - fy) * (1.0f - fx);
  const float w10 = fy * (1.0f - fx);
  const float w01 = (1.0f - fy) * fx;
  const float w11 = fy * fx;
  return w00 * gz * v000 + w00 * fz * v001 + w10 * gz * v010 + w10 * fz * v011 + w01 * gz * v100 + w01 * fz * v101 +
         w11 * gz * v110 + w11 * fz * v111;
}

void resampleAffine(Volume& dst, const Volume& src, const Matrix4& matrix) {
  check(&dst != &src, kModule, 14, "&dst != &src");
  const float* m = matrix.m;
  float* out = dst.data();
  for (int32_t z = 0; z < dst.nz(); ++z) {
    const float fz = static_cast<float>(z);
    for (int32_t y = 0; y < dst.ny(); ++y) {
      const float fy = static_cast<float>(y);
      for (int32_t x = 0; x < dst.nx(); ++x) {
        const float fx = static_cast<float>(x);
        const float sx = (m[12] + fz * m[8]) + (fy * m[4] + fx * m[0]);
        const float sy = (m[13] + fz * m[9]) + (fy * m[5] + fx * m[1]);
        const float sz = (m[14] + fz * m[10]) + (fy * m[6] + fx * m[2]);
        *out++ = sampleTrilinear(src, sx, sy, sz);
      }
    }
  }
}

void transformAboutCentres(Volume& dst, const Volume& src, const Matrix4& x) {
  check(&dst != &src, kModule, 27, "&dst != &src");
  const Matrix4 toSource = Matrix4::translation(centreOf(src.nx()), centreOf(src.ny()), centreOf(src.nz()));
  const Matrix4 m = translated(multiply(toSource, x), -centreOf(dst.nx()), -centreOf(dst.ny()), -centreOf(dst.nz()));
  resampleAffine(dst, src, m);
}

void resampleToSize(Volume& dst, const Volume& src) {
  check(&dst != &src, kModule, 38, "&dst != &src");
  const float sx = static_cast<float>(src.nx()) / static_cast<float>(dst.nx());
  const float sy = static_cast<float>(src.ny()) / static_cast<float>(dst.ny());
  const float sz = static_cast<float>(src.nz()) / static_cast<float>(dst.nz());
  transformAboutCentres(dst, src, diagonal(sx, sy, sz));
}

}  // namespace daxo
