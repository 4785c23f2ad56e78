#include "volume/linalg.h"

#include <algorithm>
#include <cmath>

namespace daxo {

namespace {

// Start of column c of a column-major matrix.
const float* columnOf(const Matrix& a, int32_t c) { return a.data() + static_cast<size_t>(a.rows()) * c; }

// |p| when q >= 0, else -|p|.
float withSignOf(float p, float q) { return q >= 0.0f ? std::fabs(p) : -std::fabs(p); }

// sqrt(p^2 + q^2) without overflow or destructive underflow.
float hypotenuse(float p, float q) {
  const float absP = std::fabs(p), absQ = std::fabs(q);
  if (absP > absQ) {
    const float r = absQ / absP;
    return absP * std::sqrt(1.0f + r * r);
  }
  if (absQ == 0.0f) return 0.0f;
  const float r = absP / absQ;
  return absQ * std::sqrt(1.0f + r * r);
}

// Rotates columns p and q of the column-major block `a` (`rows` rows):
// for every row, with y = a(r, p) and z = a(r, q),
// a(r, p) = y * c + z * s and a(r, q) = z * c - y * s.
void rotateColumns(float* a, int32_t rows, int32_t p, int32_t q, float c, float s) {
  float* colP = a + static_cast<size_t>(rows) * p;
  float* colQ = a + static_cast<size_t>(rows) * q;
  for (int32_t r = 0; r < rows; ++r) {
    const float y = colP[r], z = colQ[r];
    colP[r] = y * c + z * s;
    colQ[r] = z * c - y * s;
  }
}

// Step 1: Householder reduction of a to bidiagonal form; the diagonal goes to
// w, the superdiagonal to e (e[0] = 0). Returns the norm estimate used for the
// negligibility tests.
float bidiagonalise(Matrix& a, Vector& w, Vector& e) {
  const int32_t m = a.rows(), n = a.columns();
  float g = 0.0f, scale = 0.0f, anorm = 0.0f;
  for (int32_t i = 0; i < n; ++i) {
    e[i] = scale * g;
    float s = 0.0f;
    g = scale = 0.0f;
    if (i < m) {
      float* colI = &a(0, i);
      for (int32_t k = i; k < m; ++k) scale += std::fabs(colI[k]);
      if (scale != 0.0f) {
        for (int32_t k = i; k < m; ++k) {
          colI[k] /= scale;
          s += colI[k] * colI[k];
        }
        float f = colI[i];
        g = -withSignOf(std::sqrt(s), f);
        const float h = f * g - s;
        colI[i] = f - g;
        for (int32_t j = i + 1; j < n; ++j) {
          float* colJ = &a(0, j);
          float sum = 0.0f;
          for (int32_t k = i; k < m; ++k) sum += colI[k] * colJ[k];
          f = sum / h;
          for (int32_t k = i; k < m; ++k) colJ[k] += f * colI[k];
        }
        for (int32_t k = i; k < m; ++k) colI[k] *= scale;
      }
    }
    w[i] = scale * g;
    s = 0.0f;
    g = scale = 0.0f;
    if (i < m && i != n - 1) {
      for (int32_t k = i + 1; k < n; ++k) scale += std::fabs(a(i, k));
      if (scale != 0.0f) {
        for (int32_t k = i + 1; k < n; ++k) {
          a(i, k) /= scale;
          s += a(i, k) * a(i, k);
        }
        const float f = a(i, i + 1);
        g = -withSignOf(std::sqrt(s), f);
        const float h = f * g - s;
        a(i, i + 1) = f - g;
        for (int32_t k = i + 1; k < n; ++k) e[k] = a(i, k) / h;
        for (int32_t j = i + 1; j < m; ++j) {
          float sum = 0.0f;
          for (int32_t k = i + 1; k < n; ++k) sum += a(j, k) * a(i, k);
          for (int32_t k = i + 1; k < n; ++k) a(j, k) += sum * e[k];
        }
        for (int32_t k = i + 1; k < n; ++k) a(i, k) *= scale;
      }
    }
    const float candidate = std::fabs(w[i]) + std::fabs(e[i]);
    if (candidate > anorm) anorm = candidate;
  }
  return anorm;
}

// Step 2: accumulates the right-hand transformations (stored in the rows of
// a) into v.
void accumulateRight(const Matrix& a, const Vector& e, Matrix& v) {
  const int32_t n = a.columns();
  // g and l carry over from one i to the next (g = e[i + 1], l = i + 1); at
  // i = n - 1 they are not read.
  float g = 0.0f;
  int32_t l = n;
  for (int32_t i = n - 1; i >= 0; --i) {
    if (i < n - 1) {
      if (g != 0.0f) {
        // Double division avoids a possible underflow.
        for (int32_t j = l; j < n; ++j) v(j, i) = (a(i, j) / a(i, l)) / g;
        const float* colI = &v(0, i);
        for (int32_t j = l; j < n; ++j) {
          float* colJ = &v(0, j);
          float s = 0.0f;
          for (int32_t k = l; k < n; ++k) s += a(i, k) * colJ[k];
          for (int32_t k = l; k < n; ++k) colJ[k] += s * colI[k];
        }
      }
      for (int32_t j = l; j < n; ++j) v(i, j) = v(j, i) = 0.0f;
    }
    v(i, i) = 1.0f;
    g = e[i];
    l = i;
  }
}

// Step 3: accumulates the left-hand transformations, turning a into U.
void accumulateLeft(Matrix& a, const Vector& w) {
  const int32_t m = a.rows(), n = a.columns();
  for (int32_t i = std::min(m, n) - 1; i >= 0; --i) {
    const int32_t l = i + 1;
    float g = w[i];
    for (int32_t j = l; j < n; ++j) a(i, j) = 0.0f;
    float* colI = &a(0, i);
    if (g != 0.0f) {
      g = 1.0f / g;
      for (int32_t j = l; j < n; ++j) {
        float* colJ = &a(0, j);
        float s = 0.0f;
        for (int32_t k = l; k < m; ++k) s += colI[k] * colJ[k];
        const float f = (s / colI[i]) * g;
        for (int32_t k = i; k < m; ++k) colJ[k] += f * colI[k];
      }
      for (int32_t j = i; j < m; ++j) colI[j] *= g;
    } else {
      for (int32_t j = i; j < m; ++j) colI[j] = 0.0f;
    }
    colI[i] += 1.0f;
  }
}

// Step 4: diagonalises the bidiagonal form (w, e) by implicit-shift QR,
// rotating the columns of U (a) and V along. False when one singular value
// needs more than 30 tests.
bool diagonalise(Matrix& a, Vector& w, Vector& e, Matrix& v, float anorm) {
  const int32_t m = a.rows(), n = a.columns();
  auto negligible = [anorm](float x) { return std::fabs(x) + anorm == anorm; };
  for (int32_t k = n - 1; k >= 0; --k) {
    for (int32_t its = 0;; ++its) {
      // Find the start l of the unreduced block ending at k. e[0] is always
      // 0, so the search ends at l = 0 without cancellation; testing l == 0
      // explicitly also keeps w[-1] out of reach when anorm is not finite.
      bool cancel = false;
      int32_t l = k;
      for (; l > 0; --l) {
        if (negligible(e[l])) break;
        if (negligible(w[l - 1])) {
          cancel = true;
          break;
        }
      }
      if (cancel) {
        const int32_t nm = l - 1;
        float c = 0.0f, s = 1.0f;
        for (int32_t i = l; i <= k; ++i) {
          const float f = s * e[i];
          e[i] = c * e[i];
          if (negligible(f)) break;
          const float g = w[i];
          float h = hypotenuse(f, g);
          w[i] = h;
          h = 1.0f / h;
          c = g * h;
          s = -f * h;
          rotateColumns(a.data(), m, nm, i, c, s);
        }
      }
      const float z = w[k];
      if (l == k) {
        if (z < 0.0f) {
          w[k] = -z;
          float* colK = &v(0, k);
          for (int32_t j = 0; j < n; ++j) colK[j] = -colK[j];
        }
        break;
      }
      if (its == 29) return false;
      // Shift from the bottom 2 x 2 minor.
      float x = w[l];
      float y = w[k - 1];
      float g = e[k - 1];
      float h = e[k];
      float f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0f * h * y);
      g = hypotenuse(f, 1.0f);
      f = ((x - z) * (x + z) + h * ((y / (f + withSignOf(g, f))) - h)) / x;
      // QR sweep.
      float c = 1.0f, s = 1.0f;
      for (int32_t j = l; j <= k - 1; ++j) {
        const int32_t i = j + 1;
        g = e[i];
        y = w[i];
        h = s * g;
        g = c * g;
        float zz = hypotenuse(f, h);
        e[j] = zz;
        c = f / zz;
        s = h / zz;
        f = x * c + g * s;
        g = g * c - x * s;
        h = y * s;
        y = y * c;
        rotateColumns(v.data(), n, j, i, c, s);
        zz = hypotenuse(f, h);
        w[j] = zz;
        if (zz != 0.0f) {
          zz = 1.0f / zz;
          c = f * zz;
          s = h * zz;
        }
        f = c * g + s * y;
        x = c * y - s * g;
        rotateColumns(a.data(), m, j, i, c, s);
      }
      e[l] = 0.0f;
      e[k] = f;
      w[k] = x;
    }
  }
  return true;
}

}  // namespace

Matrix operator*(const Matrix& a, const Matrix& b) {
  const int32_t p = a.rows(), n = a.columns(), q = b.columns();
  Matrix r(p, q);
  if (p == 0 || q == 0) return r;
  // Column j of the result gathers the columns of a weighted by b(k, j); every
  // element still sums its terms in increasing k, starting with k = 0.
  for (int32_t j = 0; j < q; ++j) {
    float* out = &r(0, j);
    if (n == 0) {
      std::fill_n(out, p, 0.0f);
      continue;
    }
    const float* a0 = a.data();
    const float b0 = b(0, j);
    for (int32_t i = 0; i < p; ++i) out[i] = a0[i] * b0;
    for (int32_t k = 1; k < n; ++k) {
      const float* ak = columnOf(a, k);
      const float bk = b(k, j);
      for (int32_t i = 0; i < p; ++i) out[i] += ak[i] * bk;
    }
  }
  return r;
}

Vector operator*(const Matrix& a, const Vector& v) {
  const int32_t p = a.rows(), n = a.columns();
  Vector r(p);
  if (p == 0) return r;
  float* out = r.data();
  if (n == 0) {
    std::fill_n(out, p, 0.0f);
    return r;
  }
  const float* a0 = a.data();
  for (int32_t i = 0; i < p; ++i) out[i] = a0[i] * v[0];
  for (int32_t k = 1; k < n; ++k) {
    const float* ak = columnOf(a, k);
    const float vk = v[k];
    for (int32_t i = 0; i < p; ++i) out[i] += ak[i] * vk;
  }
  return r;
}

Matrix operator-(const Matrix& a) {
  Matrix r(a.rows(), a.columns());
  const size_t count = static_cast<size_t>(a.rows()) * static_cast<size_t>(a.columns());
  const float* in = a.data();
  float* out = r.data();
  for (size_t i = 0; i < count; ++i) out[i] = -in[i];
  return r;
}

Matrix transpose(const Matrix& a) {
  Matrix r(a.columns(), a.rows());
  for (int32_t i = 0; i < a.rows(); ++i)
    for (int32_t j = 0; j < a.columns(); ++j) r(j, i) = a(i, j);
  return r;
}

bool svd(Matrix& a, Vector& w, Matrix& v) {
  const int32_t n = a.columns();
  w.resize(n);
  v.resize(n, n);
  Vector e(n);  // superdiagonal of the bidiagonal form
  const float anorm = bidiagonalise(a, w, e);
  accumulateRight(a, e, v);
  accumulateLeft(a, w);
  return diagonalise(a, w, e, v, anorm);
}

bool pseudoInverse(Matrix& a) {
  if (a.rows() != a.columns()) return false;
  const int32_t n = a.columns();
  Vector w;
  Matrix v;
  if (!svd(a, w, v)) return false;
  Matrix p(n, n, 0.0f);
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t j = 0; j < n; ++j) {
      float sum = p(i, j);
      for (int32_t k = 0; k < n; ++k) {
        // A NaN singular value is not 0 and is "inverted" like any other.
        if (w[k] != 0.0f) sum += a(j, k) * v(i, k) / w[k];
      }
      p(i, j) = sum;
    }
  }
  a = p;
  return true;
}

}  // namespace daxo
