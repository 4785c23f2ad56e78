#include "host/crosscheck/plaindft.h"

#include <complex>
#include <utility>
#include <vector>

namespace daxo::crosscheck {

namespace {

using Complex = std::complex<double>;

struct PlainPlan {
  int n0, n1, n2;
  bool forward;  // real to complex
  float* real;
  FftComplex* half;
};

// Taylor series of cos and sin at x in [0, pi / 4], summed from the small
// end; plain multiplications and additions only.
void seriesCosSin(double x, double& c, double& s) {
  const double x2 = x * x;
  double cosine = 0.0;
  double sine = 0.0;
  for (int k = 14; k >= 1; --k) {
    cosine = 1.0 - x2 / ((2.0 * k - 1.0) * (2.0 * k)) * cosine;
    sine = 1.0 - x2 / ((2.0 * k) * (2.0 * k + 1.0)) * sine;
  }
  c = cosine;
  s = x * sine;
}

// One-dimensional transform of `count` values `stride` apart, in place, with
// the sign of the exponent -1 (forward) or +1.
void transformLine(Complex* data, int count, int stride, int sign, const std::vector<Complex>& roots,
                   std::vector<Complex>& scratch) {
  for (int k = 0; k < count; ++k) {
    Complex sum(0.0, 0.0);
    for (int n = 0; n < count; ++n) {
      const Complex w = roots[static_cast<size_t>((static_cast<long long>(k) * n) % count)];
      sum += data[static_cast<size_t>(n) * stride] * (sign < 0 ? std::conj(w) : w);
    }
    scratch[k] = sum;
  }
  for (int k = 0; k < count; ++k) data[static_cast<size_t>(k) * stride] = scratch[k];
}

// Transforms the full n0 x n1 x n2 array along every axis.
void transform3d(std::vector<Complex>& a, int n0, int n1, int n2, int sign) {
  const int extents[3] = {n0, n1, n2};
  const int strides[3] = {n1 * n2, n2, 1};
  std::vector<Complex> scratch;
  for (int axis = 0; axis < 3; ++axis) {
    const int count = extents[axis];
    std::vector<Complex> roots(count);
    for (int j = 0; j < count; ++j) {
      double c = 0.0;
      double s = 0.0;
      unitRoot(j, count, c, s);
      roots[j] = Complex(c, s);
    }
    scratch.assign(count, Complex());
    for (size_t start = 0; start < a.size(); ++start) {
      // A line starts where the axis index is 0.
      if ((start / strides[axis]) % count != 0) continue;
      transformLine(&a[start], count, strides[axis], sign, roots, scratch);
    }
  }
}

}  // namespace

void unitRoot(int j, int n, double& cosine, double& sine) {
  // Reduce to the first octant by the exact symmetries of the circle, in
  // integer arithmetic on 8 j / n.
  const long long eighths = 8LL * j;
  const int octant = static_cast<int>(eighths / n);
  const long long remainder = eighths % n;
  const double quarter = 1.5707963267948966;  // pi / 2
  // Angle measured inside the octant, and from its far end for odd octants.
  const bool odd = (octant % 2) != 0;
  const double t = odd ? static_cast<double>(n - remainder) / (2.0 * n) : static_cast<double>(remainder) / (2.0 * n);
  double c = 0.0;
  double s = 0.0;
  seriesCosSin(t * quarter, c, s);
  // For odd octants the angle is (octant + 1) * 45 degrees minus t, which
  // swaps cosine and sine within the quadrant.
  if (odd) std::swap(c, s);
  switch (octant / 2) {
    case 0:
      cosine = c;
      sine = s;
      break;
    case 1:
      cosine = -s;
      sine = c;
      break;
    case 2:
      cosine = -c;
      sine = -s;
      break;
    default:
      cosine = s;
      sine = -c;
      break;
  }
}

FftPlan planPlainRealToComplex3d(int n0, int n1, int n2, float* in, FftComplex* out) {
  return new PlainPlan{n0, n1, n2, true, in, out};
}

FftPlan planPlainComplexToReal3d(int n0, int n1, int n2, FftComplex* in, float* out) {
  return new PlainPlan{n0, n1, n2, false, out, in};
}

void executePlainPlan(FftPlan plan) {
  const PlainPlan& p = *static_cast<PlainPlan*>(plan);
  const int halfN2 = p.n2 / 2 + 1;
  const size_t total = static_cast<size_t>(p.n0) * p.n1 * p.n2;
  std::vector<Complex> a(total);
  if (p.forward) {
    for (size_t i = 0; i < total; ++i) a[i] = Complex(p.real[i], 0.0);
    transform3d(a, p.n0, p.n1, p.n2, -1);
    for (int i0 = 0; i0 < p.n0; ++i0) {
      for (int i1 = 0; i1 < p.n1; ++i1) {
        for (int k = 0; k < halfN2; ++k) {
          const Complex& v = a[(static_cast<size_t>(i0) * p.n1 + i1) * p.n2 + k];
          float* out = p.half[(static_cast<size_t>(i0) * p.n1 + i1) * halfN2 + k];
          out[0] = static_cast<float>(v.real());
          out[1] = static_cast<float>(v.imag());
        }
      }
    }
    return;
  }
  // The full spectrum from its half: X(k0, k1, k2) = conj X(-k0, -k1, -k2).
  for (int i0 = 0; i0 < p.n0; ++i0) {
    for (int i1 = 0; i1 < p.n1; ++i1) {
      for (int k = 0; k < p.n2; ++k) {
        Complex v;
        if (k < halfN2) {
          const float* in = p.half[(static_cast<size_t>(i0) * p.n1 + i1) * halfN2 + k];
          v = Complex(in[0], in[1]);
        } else {
          const int j0 = (p.n0 - i0) % p.n0;
          const int j1 = (p.n1 - i1) % p.n1;
          const float* in = p.half[(static_cast<size_t>(j0) * p.n1 + j1) * halfN2 + (p.n2 - k)];
          v = Complex(in[0], -in[1]);
        }
        a[(static_cast<size_t>(i0) * p.n1 + i1) * p.n2 + k] = v;
      }
    }
  }
  transform3d(a, p.n0, p.n1, p.n2, +1);
  for (size_t i = 0; i < total; ++i) p.real[i] = static_cast<float>(a[i].real());
}

void destroyPlainPlan(FftPlan plan) { delete static_cast<PlainPlan*>(plan); }

}  // namespace daxo::crosscheck
