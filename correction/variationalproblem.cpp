#include "correction/variationalproblem.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

namespace daxo {

namespace {

// Zero cells padded on both ends of a column before the B-spline prefilter:
// the prefilter's pole decays by 0.268 per cell, so the coefficients past the
// padding are below 1e-6 of the signal and are taken as 0.
constexpr int32_t kPad = 12;

// The samples c[0 .. padded - 1] replaced by their cubic B-spline
// coefficients (Unser's recursive filter; the padding makes its ends'
// conditions irrelevant).
void prefilterInPlace(double* c, int32_t padded) {
  const double z = std::sqrt(3.0) - 2.0;
  for (int32_t k = 1; k < padded; ++k) c[k] += z * c[k - 1];
  c[padded - 1] = z / (z * z - 1.0) * c[padded - 1];
  for (int32_t k = padded - 2; k >= 0; --k) c[k] = z * (c[k + 1] - c[k]);
  for (int32_t k = 0; k < padded; ++k) c[k] *= 6.0;
}

// Cubic B-spline coefficients of one column that is zero outside its m cells.
void prefilterColumn(const double* f, int32_t m, double* c, int32_t padded) {
  std::fill(c, c + padded, 0.0);
  std::copy(f, f + m, c + kPad);
  prefilterInPlace(c, padded);
}

// Cubic B-spline coefficients of a column's cumulative signal at its m + 1
// faces (face k: the sum of cells 0 .. k-1), held at 0 below the column and
// at its total above: kPad faces of those constants pad each end. Returns
// the total.
double prefilterCumulative(const double* f, int32_t m, double* c, int32_t padded) {
  double sum = 0.0;
  std::fill(c, c + kPad + 1, 0.0);
  for (int32_t i = 0; i < m; ++i) {
    sum += f[i];
    c[kPad + 1 + i] = sum;
  }
  std::fill(c + kPad + 1 + m, c + padded, sum);
  prefilterInPlace(c, padded);
  return sum;
}

// Value and derivative (per cell) of the spline at cell coordinate t (cell i
// at t = i); 0 where the four taps leave the padded column.
inline void sampleSpline(const double* c, int32_t padded, double t, double& value, double& slope) {
  const double u = t + kPad;
  const double fl = std::floor(u);
  const int32_t j = static_cast<int32_t>(fl);
  if (!(u >= 1.0) || j + 2 >= padded) {
    value = 0.0;
    slope = 0.0;
    return;
  }
  const double f = u - fl, g = 1.0 - f, f2 = f * f, f3 = f2 * f;
  const double w0 = g * g * g / 6.0, w1 = (3.0 * f3 - 6.0 * f2 + 4.0) / 6.0;
  const double w2 = (-3.0 * f3 + 3.0 * f2 + 3.0 * f + 1.0) / 6.0, w3 = f3 / 6.0;
  const double d0 = -0.5 * g * g, d1 = 0.5 * (3.0 * f2 - 4.0 * f);
  const double d2 = 0.5 * (-3.0 * f2 + 2.0 * f + 1.0), d3 = 0.5 * f2;
  const double* q = c + (j - 1);
  value = w0 * q[0] + w1 * q[1] + w2 * q[2] + w3 * q[3];
  slope = d0 * q[0] + d1 * q[1] + d2 * q[2] + d3 * q[3];
}

// The cumulative signal (prefilterCumulative) and its derivative at cell
// coordinate t, face k lying at t = k - 1/2: 0 below the padded column, the
// column's total above.
inline void sampleCumulative(const double* c, int32_t padded, double total, double t, double& value, double& slope) {
  if (std::floor(t + 0.5 + kPad) + 2.0 >= padded) {
    value = total;
    slope = 0.0;
    return;
  }
  sampleSpline(c, padded, t + 0.5, value, slope);
}

// The unweighted residual of one cell and its derivatives by the faces
// below (k = i) and above (k = i + 1).
struct CellResidual {
  double r, lower, upper;
};

// The cells of one column in order, each with its residual at b: the masses
// of the two scans between the cell's moved faces (each face sampled once,
// for the cells on both its sides), or their Jacobian-weighted samples.
class ColumnCells {
 public:
  ColumnCells(bool mass, const double* c1, const double* c2, int32_t padded, double total1, double total2,
              const double* b)
      : mass_(mass), c1_(c1), c2_(c2), padded_(padded), total1_(total1), total2_(total2), b_(b) {
    if (mass_) below_ = face(0);
  }

  // Cell i, called for i = 0, 1, ... in turn; |D b| < 1 there.
  CellResidual next(int32_t i) {
    if (!mass_) return sampled(i);
    const Face above = face(i + 1);
    const CellResidual cell{(above.p1 - below_.p1) - (above.p2 - below_.p2), -(below_.g1 + below_.g2),
                            above.g1 + above.g2};
    below_ = above;
    return cell;
  }

 private:
  // Each scan's cumulative signal at face k moved by +b_k (the first) and
  // -b_k (the second), and its derivative along PE there (a signal density).
  struct Face {
    double p1, g1, p2, g2;
  };
  Face face(int32_t k) const {
    Face f;
    sampleCumulative(c1_, padded_, total1_, k - 0.5 + b_[k], f.p1, f.g1);
    sampleCumulative(c2_, padded_, total2_, k - 0.5 - b_[k], f.p2, f.g2);
    return f;
  }
  CellResidual sampled(int32_t i) const {
    const double ab = 0.5 * (b_[i] + b_[i + 1]), db = b_[i + 1] - b_[i];
    const double j1 = 1.0 + db, j2 = 1.0 - db;
    double v1, d1, v2, d2;
    sampleSpline(c1_, padded_, i + ab, v1, d1);
    sampleSpline(c2_, padded_, i - ab, v2, d2);
    const double q = d1 * j1 + d2 * j2, gs = v1 + v2;
    return {v1 * j1 - v2 * j2, 0.5 * q - gs, 0.5 * q + gs};
  }

  bool mass_;
  const double *c1_, *c2_;
  int32_t padded_;
  double total1_, total2_;
  const double* b_;
  Face below_{};
};

// phi(v) = v^4 / (1 - v^2) and its first two derivatives, |v| < 1. Written
// so that phi and phi'' are even and phi' odd bit for bit.
struct Barrier {
  double phi, first, second;
};
inline Barrier barrierAt(double v) {
  const double v2 = v * v, s = 1.0 - v2, s2 = s * s;
  const double v3 = v2 * v, v4 = v2 * v2;
  return {v4 / s, (4.0 * v3 - 2.0 * v3 * v2) / s2,
          (12.0 * v2 - 10.0 * v4) / s2 + (16.0 * v4 - 8.0 * v4 * v2) / (s2 * s)};
}

inline bool interior(int32_t j, int32_t n) { return j >= 1 && j <= n - 2; }

// The taps of a third difference; thirdDifference gives that of the window
// w[k], w[k + step], w[k + 2 step], w[k + 3 step].
constexpr double kThird[4] = {-1.0, 3.0, -3.0, 1.0};

inline double thirdDifference(const double* w, int32_t k, ptrdiff_t step) {
  return kThird[0] * w[k] + kThird[1] * w[k + step] + kThird[2] * w[k + 2 * step] + kThird[3] * w[k + 3 * step];
}

// Column c of the faces p and of the output, with its position and strides.
struct RegulariserColumn {
  int32_t faces, x, z;
  ptrdiff_t stride, zStride;
  const double* p;
  double* out;
};

RegulariserColumn regulariserColumn(const ColumnGrid& g, const double* pAll, double* outAll, size_t c) {
  const int32_t faces = g.m + 1;
  const ptrdiff_t stride = faces, offset = static_cast<ptrdiff_t>(c) * stride;
  return RegulariserColumn{faces,
                           static_cast<int32_t>(c % static_cast<size_t>(g.nx)),
                           static_cast<int32_t>(c / static_cast<size_t>(g.nx)),
                           stride,
                           stride * g.nx,
                           pAll + offset,
                           outAll + offset};
}

// out = S u, S the binomial filter [1 2 1] / 4 with zeros past both ends
// (symmetric, so it is its own transpose). out must not be u. The two ends
// are apart so that the loop between them vectorises.
inline void binomial(const double* __restrict u, double* __restrict out, int32_t m) {
  if (m <= 1) {
    if (m == 1) out[0] = 0.5 * u[0] + 0.25 * (0.0 + 0.0);
    return;
  }
  out[0] = 0.5 * u[0] + 0.25 * (0.0 + u[1]);
  for (ptrdiff_t i = 1; i + 1 < m; ++i) out[i] = 0.5 * u[i] + 0.25 * (u[i - 1] + u[i + 1]);
  out[m - 1] = 0.5 * u[m - 1] + 0.25 * (u[m - 2] + 0.0);
}

// S S u into `back`, leaving S u in `filtered`; returns back's data. With S
// symmetric this is S^T S u, the smoothed residual's pull on the unknowns.
inline const double* binomialTwice(const double* u, std::vector<double>& filtered, std::vector<double>& back,
                                   int32_t m) {
  binomial(u, filtered.data(), m);
  binomial(filtered.data(), back.data(), m);
  return back.data();
}

}  // namespace

VariationalProblem::VariationalProblem(const ColumnGrid& grid, const std::vector<double>& first,
                                       const std::vector<double>& second, const VariationalWeights& weights,
                                       ColumnThreads& threads)
    : grid_(grid), weights_(weights), threads_(&threads), padded_(grid.m + (weights.cellMass ? 1 : 0) + 2 * kPad) {
  scratch_.resize(static_cast<size_t>(threads.count()));
  for (auto& buffers : scratch_)
    for (std::vector<double>& b : buffers) b.resize(static_cast<size_t>(grid.m));
  const size_t columns = grid_.columns(), padded = static_cast<size_t>(padded_), m = static_cast<size_t>(grid_.m);
  coeff1_.resize(columns * padded);
  coeff2_.resize(columns * padded);
  if (weights_.cellMass) {
    total1_.resize(columns);
    total2_.resize(columns);
  }
  cellWeight_.assign(grid_.cells(), 1.0);
  rowA_.assign(grid_.cells(), 0.0);
  rowC_.assign(grid_.cells(), 0.0);
  barrierCurvature_.assign(grid_.cells(), 0.0);
  diag_.assign(grid_.faces(), 0.0);
  off_.assign(grid_.cells(), 0.0);
  preLower_.assign(grid_.faces(), 0.0);
  preInverse_.assign(grid_.faces(), 0.0);
  preOff_.assign(grid_.cells(), 0.0);
  if (weightedAcross()) {
    // 0 where a column is not interior along an axis: no second difference
    // is centred there.
    acrossWeight_.assign(grid_.columns() * 2 * static_cast<size_t>(grid_.m + 1), 0.0);
  }
  if (signalScaled()) scaleBySignal(first, second);
  partial_.assign(columns, 0.0);
  nextRz_.assign(columns, 0.0);
  const int64_t n = static_cast<int64_t>(columns);
  threads_->run(static_cast<size_t>(n), [&](size_t begin, size_t end, int) {
    for (int64_t cs = static_cast<int64_t>(begin); cs < static_cast<int64_t>(end); ++cs) {
      const size_t cc = static_cast<size_t>(cs);
      const double* f1 = first.data() + cc * m;
      const double* f2 = second.data() + cc * m;
      if (weights_.cellMass) {
        total1_[cc] = prefilterCumulative(f1, grid_.m, coeff1_.data() + cc * padded, padded_);
        total2_[cc] = prefilterCumulative(f2, grid_.m, coeff2_.data() + cc * padded, padded_);
      } else {
        prefilterColumn(f1, grid_.m, coeff1_.data() + cc * padded, padded_);
        prefilterColumn(f2, grid_.m, coeff2_.data() + cc * padded, padded_);
      }
    }
  });
}

void VariationalProblem::scaleBySignal(const std::vector<double>& first, const std::vector<double>& second) {
  const int32_t m = grid_.m, nx = grid_.nx, nz = grid_.nz, nf = m + 1;
  const size_t faces = static_cast<size_t>(nf), cells = static_cast<size_t>(m);
  const double reference = weights_.signalReference;
  signalScale_.assign(grid_.faces(), 0.0f);
  thirdScale_.assign(grid_.columns() * 2 * faces, 0.0f);
  threads_->run(grid_.columns(), [&](size_t begin, size_t end, int) {
    for (size_t c = begin; c < end; ++c) {
      const double* a = first.data() + c * cells;
      const double* b = second.data() + c * cells;
      for (int32_t k = 0; k < nf; ++k) {
        // The pair's mean over the cells beside face k.
        const int32_t lo = std::max(k - 1, 0), hi = std::min(k, m - 1);
        double sum = 0.0;
        for (int32_t i = lo; i <= hi; ++i) sum += 0.5 * (a[i] + b[i]);
        const double signal = sum / static_cast<double>(hi - lo + 1);
        signalScale_[c * faces + static_cast<size_t>(k)] =
            static_cast<float>(std::min(kGreatestSignalScale, std::max(kLeastSignalScale, signal / reference)));
      }
    }
  });
  // A third difference's window s .. s + 3 weighs the mean scale of its two
  // middle columns.
  threads_->run(grid_.columns(), [&](size_t begin, size_t end, int) {
    for (size_t c = begin; c < end; ++c) {
      const int32_t x = static_cast<int32_t>(c % static_cast<size_t>(nx));
      const int32_t z = static_cast<int32_t>(c / static_cast<size_t>(nx));
      for (const auto& [fits, axis, step] :
           {std::tuple<bool, size_t, size_t>{x + 3 < nx, 0, 1}, {z + 3 < nz, 1, static_cast<size_t>(nx)}}) {
        if (!fits) continue;
        const float* g1 = signalScale_.data() + (c + step) * faces;
        const float* g2 = signalScale_.data() + (c + 2 * step) * faces;
        float* out = thirdScale_.data() + (2 * c + axis) * faces;
        for (size_t k = 0; k < faces; ++k) out[k] = 0.5f * (g1[k] + g2[k]);
      }
    }
  });
}

namespace {

// The penalty of a second difference t across PE relative to t^2:
// 2 knee^2 (sqrt(1 + (t / knee)^2) - 1), t^2 below the knee and growing as
// 2 knee |t| above it (its minimiser under a frozen weight is that of
// w t^2 with w = 1 / sqrt(1 + (t / knee)^2)).
inline double kneePenalty(double t, double knee) {
  const double u = t / knee;
  return 2.0 * knee * knee * (std::sqrt(1.0 + u * u) - 1.0);
}

inline double kneeWeight(double t, double knee) {
  const double u = t / knee;
  return 1.0 / std::sqrt(1.0 + u * u);
}

// On Linux the hottest loops are also built for AVX2, chosen when the
// processor has it: wider vectors, the same operations in the same order
// (no contraction), so the same results. Not under the sanitizers: the
// choice is made while the program is loaded, before their runtimes start
// (ThreadSanitizer crashes there).
#if defined(__linux__) && defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define DAXO_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define DAXO_VECTOR_CLONES
#endif

// w[k] times the second difference of q at face k across columns `step`
// apart: one weighted bend of K'^T W K' p.
inline double weightedBend(const double* q, const double* w, ptrdiff_t step, ptrdiff_t k) {
  return w[k] * (q[k - step] - 2.0 * q[k] + q[k + step]);
}

// (T^T T q)[k] along one axis, columns `step` apart, three or more columns
// from both of its ends: the seven taps (-1, 6, -15, 20, -15, 6, -1).
inline double sevenTaps(const double* q, ptrdiff_t k, ptrdiff_t step) {
  return (20.0 * q[k] - 15.0 * (q[k - step] + q[k + step])) + 6.0 * (q[k - 2 * step] + q[k + 2 * step]) -
         (q[k - 3 * step] + q[k + 3 * step]);
}

// The interior loops of the regulariser's products, apart so that their
// pointers can be declared free of aliasing (out is never read through
// another pointer), which lets the compiler vectorise them.

// out[k] += K'^T W K' p at a column inside the volume: q, w, step, tap are
// the six columns' faces, weights, axis steps and taps (x before z).
DAXO_VECTOR_CLONES void addBendsInside(double* __restrict out, const double* const q[6], const double* const w[6],
                                       const ptrdiff_t step[6], const double tap[6], int32_t faces) {
  const double* __restrict q0 = q[0], * __restrict q1 = q[1], * __restrict q2 = q[2], * __restrict q3 = q[3], * __restrict q4 = q[4], * __restrict q5 = q[5];
  const double* __restrict w0 = w[0], * __restrict w1 = w[1], * __restrict w2 = w[2], * __restrict w3 = w[3], * __restrict w4 = w[4], * __restrict w5 = w[5];
  const ptrdiff_t s0 = step[0], s1 = step[1], s2 = step[2], s3 = step[3], s4 = step[4], s5 = step[5];
  const double t0 = tap[0], t1 = tap[1], t2 = tap[2], t3 = tap[3], t4 = tap[4], t5 = tap[5];
  // One pass, the x terms summed before the z terms.
  for (ptrdiff_t k = 0; k < faces; ++k) {
    const double b0 = weightedBend(q0, w0, s0, k), b1 = weightedBend(q1, w1, s1, k), b2 = weightedBend(q2, w2, s2, k);
    const double b3 = weightedBend(q3, w3, s3, k), b4 = weightedBend(q4, w4, s4, k), b5 = weightedBend(q5, w5, s5, k);
    out[k] += ((t0 * b0 + t1 * b1) + t2 * b2) + ((t3 * b3 + t4 * b4) + t5 * b5);
  }
}

// out[k] += lambda T^T T p along x and z at a column three or more from
// every end of both axes.
DAXO_VECTOR_CLONES void addSevenTapsInside(double* __restrict out, const double* __restrict p, int32_t faces,
                                           ptrdiff_t xStep, ptrdiff_t zStep, double lambda) {
  for (ptrdiff_t k = 0; k < faces; ++k) out[k] += lambda * sevenTaps(p, k, xStep) + lambda * sevenTaps(p, k, zStep);
}

// out[k] += tap h[k] t(k), t the third difference of the window w0 (see
// thirdDifference), h its scale: one window's part of T^T H T p.
DAXO_VECTOR_CLONES void addScaledWindow(double* __restrict out, const double* __restrict w0, const float* __restrict h,
                                        ptrdiff_t step, double tap, int32_t faces) {
  for (ptrdiff_t k = 0; k < faces; ++k)
    out[k] += tap * (static_cast<double>(h[k]) * thirdDifference(w0, static_cast<int32_t>(k), step));
}

// out[k] += the regulariser's product at the faces 2 .. faces - 3 of a
// column (VariationalProblem::addRegulariser): along PE the fourth and
// second differences, across PE the 5-point stencils xw on xs and zw on zs
// (centre the sum of their middle weights), and the mixed term, the second
// difference along PE of e(k), the sum of the four neighbours' differences
// from p. Each e is formed anew for its three uses, so that the faces do not
// depend on each other.
DAXO_VECTOR_CLONES void addRegulariserInside(double* __restrict out, const double* __restrict p,
                                             const double* const xs[5], const double* const zs[5], const double xw[5],
                                             const double zw[5], double centre, double a2, double a1, double am,
                                             int32_t faces) {
  const double* __restrict x0 = xs[0], * __restrict x1 = xs[1], * __restrict x3 = xs[3], * __restrict x4 = xs[4];
  const double* __restrict z0 = zs[0], * __restrict z1 = zs[1], * __restrict z3 = zs[3], * __restrict z4 = zs[4];
  const double xw0 = xw[0], xw1 = xw[1], xw3 = xw[3], xw4 = xw[4], zw0 = zw[0], zw1 = zw[1], zw3 = zw[3], zw4 = zw[4];
  for (ptrdiff_t k = 2; k + 3 <= faces; ++k) {
    const double previous =
        ((x1[k - 1] - p[k - 1]) + (x3[k - 1] - p[k - 1])) + ((z1[k - 1] - p[k - 1]) + (z3[k - 1] - p[k - 1]));
    const double current = ((x1[k] - p[k]) + (x3[k] - p[k])) + ((z1[k] - p[k]) + (z3[k] - p[k]));
    const double next =
        ((x1[k + 1] - p[k + 1]) + (x3[k + 1] - p[k + 1])) + ((z1[k + 1] - p[k + 1]) + (z3[k + 1] - p[k + 1]));
    const double along = a2 * (p[k - 2] - 4.0 * p[k - 1] + 6.0 * p[k] - 4.0 * p[k + 1] + p[k + 2]) +
                         a1 * (2.0 * p[k] - p[k - 1] - p[k + 1]);
    const double across = centre * p[k] + xw0 * x0[k] + xw1 * x1[k] + xw3 * x3[k] + xw4 * x4[k] + zw0 * z0[k] +
                          zw1 * z1[k] + zw3 * z3[k] + zw4 * z4[k];
    out[k] += along + across + am * ((next - current) - (current - previous));
  }
}

// o = the data and barrier terms' Gauss-Newton matrix times one column pc
// (m cells, m + 1 faces): J^T S^T S J pc plus the barrier's tridiagonal
// part, J's rows ra, rc and the barrier's curvature hb per cell. u, filtered,
// back: m cells of scratch. Each face sums its lower cell's part before its
// upper cell's, from 0.
DAXO_VECTOR_CLONES void dataProduct(double* __restrict o, const double* __restrict pc, const double* __restrict ra,
                                    const double* __restrict rc, const double* __restrict hb, double* __restrict u,
                                    double* __restrict filtered, double* __restrict back, int32_t m, bool smoothed) {
  for (ptrdiff_t i = 0; i < m; ++i) u[i] = ra[i] * pc[i] + rc[i] * pc[i + 1];
  const double* v = u;
  if (smoothed) {
    binomial(u, filtered, m);
    binomial(filtered, back, m);
    v = back;
  }
  o[0] = 0.0 + (ra[0] * v[0] - hb[0] * (pc[1] - pc[0]));
  for (ptrdiff_t k = 1; k < m; ++k)
    o[k] =
        (0.0 + (rc[k - 1] * v[k - 1] + hb[k - 1] * (pc[k] - pc[k - 1]))) + (ra[k] * v[k] - hb[k] * (pc[k + 1] - pc[k]));
  o[m] = 0.0 + (rc[m - 1] * v[m - 1] + hb[m - 1] * (pc[m] - pc[m - 1]));
}

}  // namespace

double VariationalProblem::sumOfPartials() const {
  double sum = 0.0;
  for (double p : partial_) sum += p;
  return sum;
}

double VariationalProblem::regulariserCost(const double* b, size_t c) const {
  const int32_t faces = grid_.m + 1, nx = grid_.nx, nz = grid_.nz;
  const int32_t x = static_cast<int32_t>(c % static_cast<size_t>(nx)),
                z = static_cast<int32_t>(c / static_cast<size_t>(nx));
  const size_t stride = static_cast<size_t>(faces), zStride = stride * static_cast<size_t>(nx);
  const double* p = b + c * stride;
  double curvature = 0.0, acrossCurvature = 0.0, diffusion = 0.0;
  const double knee = weights_.acrossKnee;
  for (int32_t k = 1; k + 1 < faces; ++k) {
    const double t = p[k - 1] - 2.0 * p[k] + p[k + 1];
    curvature += t * t;
  }
  for (int32_t k = 0; k + 1 < faces; ++k) {
    const double t = p[k + 1] - p[k];
    diffusion += t * t;
  }
  // The signal's scale of each face of this column, or 1.
  const bool scaled = signalScaled();
  const float* g = scaled ? signalScale_.data() + c * stride : nullptr;
  for (const auto& [inside, step] : {std::pair<bool, size_t>{interior(x, nx), stride}, {interior(z, nz), zStride}}) {
    if (!inside) continue;
    const double *l = p - step, *r = p + step;
    for (int32_t k = 0; k < faces; ++k) {
      const double t = l[k] - 2.0 * p[k] + r[k];
      const double penalty = knee > 0.0 ? kneePenalty(t, knee) : t * t;
      acrossCurvature += scaled ? static_cast<double>(g[k]) * penalty : penalty;
    }
  }
  if (x + 1 < nx) {
    const double* r = p + stride;
    for (int32_t k = 0; k < faces; ++k) {
      const double t = r[k] - p[k];
      diffusion += t * t;
    }
  }
  if (z + 1 < nz) {
    const double* r = p + zStride;
    for (int32_t k = 0; k < faces; ++k) {
      const double t = r[k] - p[k];
      diffusion += t * t;
    }
  }
  // The mixed differences between this column and its next neighbours.
  double mixed = 0.0;
  for (const auto& [next, step] : {std::pair<bool, size_t>{x + 1 < nx, stride}, {z + 1 < nz, zStride}}) {
    if (!next) continue;
    const double* r = p + step;
    for (int32_t k = 0; k + 1 < faces; ++k) {
      const double t = r[k + 1] - r[k] - p[k + 1] + p[k];
      mixed += t * t;
    }
  }
  // Third differences across PE: the windows that start at this column.
  double third = 0.0;
  if (weights_.thirdAcross != 0.0) {
    for (const auto& [fits, axis, step] :
         {std::tuple<bool, size_t, size_t>{x + 3 < nx, 0, stride}, {z + 3 < nz, 1, zStride}}) {
      if (!fits) continue;
      const float* h = scaled ? thirdScale_.data() + (2 * c + axis) * stride : nullptr;
      for (int32_t k = 0; k < faces; ++k) {
        const double t = thirdDifference(p, k, static_cast<ptrdiff_t>(step));
        third += scaled ? static_cast<double>(h[k]) * (t * t) : t * t;
      }
    }
  }
  return 0.5 * weights_.curvature * curvature + 0.5 * weights_.curvatureAcross * acrossCurvature +
         0.5 * weights_.mixedCurvature * mixed + 0.5 * weights_.diffusion * diffusion +
         0.5 * weights_.thirdAcross * third;
}

void VariationalProblem::addRegulariser(const double* pAll, double* outAll, size_t c) const {
  const RegulariserColumn col = regulariserColumn(grid_, pAll, outAll, c);
  const int32_t faces = col.faces, nx = grid_.nx, nz = grid_.nz, x = col.x, z = col.z;
  const ptrdiff_t stride = col.stride, zStride = col.zStride;
  const double* p = col.p;
  double* out = col.out;
  // With weights (a knee, the signal's scale) the second differences across
  // PE are added by addAcrossWeighted, each with its own weight.
  const double a2 = weights_.curvature, a2x = weightedAcross() ? 0.0 : weights_.curvatureAcross,
               a1 = weights_.diffusion;

  // Across PE the regulariser's rows are 5-point stencils in x and in z whose
  // weights depend only on the column's position: K^T K (second differences
  // at interior positions) plus the diffusion's first differences.
  struct Stencil {
    double weight[5] = {0, 0, 0, 0, 0};
    const double* source[5];
  };
  const auto stencil = [&](int32_t pos, int32_t n, ptrdiff_t step) {
    Stencil st;
    for (int32_t row = pos - 1; row <= pos + 1; ++row) {
      if (!interior(row, n)) continue;
      const double cr = row == pos ? -2.0 * a2x : a2x;
      st.weight[row - pos + 1] += cr;
      st.weight[row - pos + 2] -= 2.0 * cr;
      st.weight[row - pos + 3] += cr;
    }
    if (pos > 0) {
      st.weight[2] += a1;
      st.weight[1] -= a1;
    }
    if (pos + 1 < n) {
      st.weight[2] += a1;
      st.weight[3] -= a1;
    }
    for (int32_t o = -2; o <= 2; ++o) {
      const bool valid = pos + o >= 0 && pos + o < n;
      st.source[o + 2] = valid ? p + o * step : p;
    }
    return st;
  };
  const Stencil sx = stencil(x, nx, stride), sz = stencil(z, nz, zStride);
  const double* const* xs = sx.source;
  const double* const* zs = sz.source;
  const double* xw = sx.weight;
  const double* zw = sz.weight;
  const double centre = xw[2] + zw[2];

  // Along PE: K^T K p with K the second differences at the interior faces,
  // written out in the interior and through t at the two ends.
  const auto t = [&](int32_t j) { return interior(j, faces) ? p[j - 1] - 2.0 * p[j] + p[j + 1] : 0.0; };
  const auto alongEnd = [&](int32_t k) {
    double d = 0.0;
    if (k > 0) d += p[k] - p[k - 1];
    if (k + 1 < faces) d += p[k] - p[k + 1];
    return a2 * (t(k - 1) - 2.0 * t(k) + t(k + 1)) + a1 * d;
  };
  const auto acrossAt = [&](int32_t k) {
    return centre * p[k] + xw[0] * xs[0][k] + xw[1] * xs[1][k] + xw[3] * xs[3][k] + xw[4] * xs[4][k] +
           zw[0] * zs[0][k] + zw[1] * zs[1][k] + zw[3] * zs[3][k] + zw[4] * zs[4][k];
  };
  // The mixed differences: M^T M p at this column is the second difference
  // along PE (one-sided at the ends) of e(k), the sum over the neighbour
  // columns q of q(k) - p(k) (see regulariserCost); a missing neighbour points at
  // this column and adds 0.
  const double am = weights_.mixedCurvature;
  const auto e = [&](int32_t k) {
    return ((xs[1][k] - p[k]) + (xs[3][k] - p[k])) + ((zs[1][k] - p[k]) + (zs[3][k] - p[k]));
  };
  const auto mixedAt = [&](int32_t k) {
    const double here = e(k);
    const double below = k > 0 ? here - e(k - 1) : 0.0, above = k + 1 < faces ? e(k + 1) - here : 0.0;
    return above - below;
  };
  const auto edge = [&](int32_t k) { out[k] += alongEnd(k) + acrossAt(k) + am * mixedAt(k); };
  for (int32_t k = 0; k < std::min(2, faces); ++k) edge(k);
  addRegulariserInside(out, p, xs, zs, xw, zw, centre, a2, a1, am, faces);
  for (int32_t k = std::max(2, faces - 2); k < faces; ++k) edge(k);
  if (weights_.thirdAcross != 0.0) addThirdAcross(pAll, outAll, c);
  if (weightedAcross()) addAcrossWeighted(pAll, outAll, c);
}

template <typename Visit>
void VariationalProblem::eachBendNeighbour(size_t c, Visit visit) const {
  const int32_t nx = grid_.nx, nz = grid_.nz;
  const int32_t x = static_cast<int32_t>(c % static_cast<size_t>(nx)),
                z = static_cast<int32_t>(c / static_cast<size_t>(nx));
  for (int axis = 0; axis < 2; ++axis) {
    const int32_t pos = axis == 0 ? x : z, n = axis == 0 ? nx : nz;
    const ptrdiff_t columnStep = axis == 0 ? 1 : nx;
    for (int32_t j = pos - 1; j <= pos + 1; ++j) {
      if (!interior(j, n)) continue;
      visit(static_cast<size_t>(static_cast<ptrdiff_t>(c) + (j - pos) * columnStep), axis, j == pos);
    }
  }
}

void VariationalProblem::addAcrossWeighted(const double* pAll, double* outAll, size_t c) const {
  // K'^T W K' p along x and along z: each interior column j within one of
  // this column adds its tap (1, -2, 1) times w_j (K' p)_j, the weighted
  // second difference formed here from p (reading p's neighbours, which are
  // in cache, costs less than storing the bends and reading them back).
  const int32_t faces = grid_.m + 1, nx = grid_.nx;
  const size_t stride = static_cast<size_t>(faces);
  const double lambda = weights_.curvatureAcross;
  double* out = outAll + c * stride;
  const double* q[6];
  const double* w[6];
  ptrdiff_t step[6];
  double tap[6];
  int count = 0;
  eachBendNeighbour(c, [&](size_t column, int axis, bool centre) {
    q[count] = pAll + column * stride;
    w[count] = acrossWeight_.data() + (2 * column + static_cast<size_t>(axis)) * stride;
    step[count] = (axis == 0 ? 1 : static_cast<ptrdiff_t>(nx)) * static_cast<ptrdiff_t>(stride);
    tap[count++] = lambda * (centre ? -2.0 : 1.0);
  });
  if (count == 6) {
    addBendsInside(out, q, w, step, tap, faces);
    return;
  }
  for (int i = 0; i < count; ++i)
    for (int32_t k = 0; k < faces; ++k) out[k] += tap[i] * weightedBend(q[i], w[i], step[i], k);
}

template <typename Store>
void VariationalProblem::eachSecondDifferenceAcross(const double* pAll, Store store) const {
  const int32_t faces = grid_.m + 1, nx = grid_.nx, nz = grid_.nz;
  const size_t stride = static_cast<size_t>(faces);
  threads_->run(grid_.columns(), [&](size_t begin, size_t end, int) {
    for (size_t c = begin; c < end; ++c) {
      const int32_t x = static_cast<int32_t>(c % static_cast<size_t>(nx)),
                    z = static_cast<int32_t>(c / static_cast<size_t>(nx));
      const double* p = pAll + c * stride;
      for (int axis = 0; axis < 2; ++axis) {
        if (!interior(axis == 0 ? x : z, axis == 0 ? nx : nz)) continue;
        const size_t offset = (2 * c + static_cast<size_t>(axis)) * stride;
        const size_t step = axis == 0 ? stride : stride * static_cast<size_t>(nx);
        for (int32_t k = 0; k < faces; ++k)
          store(offset + static_cast<size_t>(k), p[k - step] - 2.0 * p[k] + p[k + step]);
      }
    }
  });
}

void VariationalProblem::freezeAcrossWeights(const std::vector<double>& b) {
  const double knee = weights_.acrossKnee;
  const bool scaled = signalScaled();
  const size_t faces = static_cast<size_t>(grid_.m + 1);
  double* w = acrossWeight_.data();
  eachSecondDifferenceAcross(b.data(), [&](size_t i, double t) {
    // i = (2 column + axis) faces + k
    const double g = scaled ? static_cast<double>(signalScale_[i / faces / 2 * faces + i % faces]) : 1.0;
    w[i] = g * (knee > 0.0 ? kneeWeight(t, knee) : 1.0);
  });
}

void VariationalProblem::addThirdAcross(const double* pAll, double* outAll, size_t c) const {
  // T^T T p along x and along z: each window s .. s + 3 that holds this
  // column adds its tap here times its third difference.
  const RegulariserColumn col = regulariserColumn(grid_, pAll, outAll, c);
  const int32_t faces = col.faces, nx = grid_.nx, nz = grid_.nz, x = col.x, z = col.z;
  const ptrdiff_t stride = col.stride, zStride = col.zStride;
  const double* p = col.p;
  double* out = col.out;
  const double lambda = weights_.thirdAcross;
  if (signalScaled()) {
    // Each window weighs its own scale: T^T H T p, window by window.
    for (const auto& [pos, n, axis, step, columnStep] :
         {std::tuple<int32_t, int32_t, size_t, ptrdiff_t, ptrdiff_t>{x, nx, 0, stride, 1}, {z, nz, 1, zStride, nx}})
      for (int32_t start = pos - 3; start <= pos; ++start) {
        if (start < 0 || start + 3 >= n) continue;
        const size_t window = static_cast<size_t>(static_cast<ptrdiff_t>(c) + (start - pos) * columnStep);
        addScaledWindow(out, p + (start - pos) * step,
                        thirdScale_.data() + (2 * window + axis) * static_cast<size_t>(faces), step,
                        lambda * kThird[pos - start], faces);
      }
    return;
  }
  // Three or more columns from both ends of an axis, the four windows sum to
  // the seven taps of T^T T, (-1, 6, -15, 20, -15, 6, -1).
  const auto deep = [](int32_t pos, int32_t n) { return pos >= 3 && pos + 3 < n; };
  const bool deepX = deep(x, nx), deepZ = deep(z, nz);
  if (deepX && deepZ) {
    addSevenTapsInside(out, p, faces, stride, zStride, lambda);
    return;
  }
  for (const auto& [pos, n, step] : {std::tuple<int32_t, int32_t, ptrdiff_t>{x, nx, stride}, {z, nz, zStride}}) {
    if (deep(pos, n)) {
      for (int32_t k = 0; k < faces; ++k) out[k] += lambda * sevenTaps(p, k, step);
      continue;
    }
    for (int32_t start = pos - 3; start <= pos; ++start) {
      if (start < 0 || start + 3 >= n) continue;
      const double* w0 = p + (start - pos) * step;
      const double tap = lambda * kThird[pos - start];
      for (int32_t k = 0; k < faces; ++k) {
        const double t = thirdDifference(w0, k, step);
        out[k] += tap * t;
      }
    }
  }
}

bool VariationalProblem::lineariseColumn(const std::vector<double>& b, std::vector<double>& gradient, size_t c,
                                         int thread) {
  auto& [rho, filtered, back] = scratch_[static_cast<size_t>(thread)];
  const int32_t m = grid_.m;
  const size_t faces = static_cast<size_t>(m + 1), padded = static_cast<size_t>(padded_),
               cells = static_cast<size_t>(m);
  const double beta = weights_.barrier, last = static_cast<double>(m) - 0.5;
  const double* bc = b.data() + c * faces;
  ColumnCells cellsOf(weights_.cellMass, coeff1_.data() + c * padded, coeff2_.data() + c * padded, padded_,
                      weights_.cellMass ? total1_[c] : 0.0, weights_.cellMass ? total2_[c] : 0.0, bc);
  double* g = gradient.data() + c * faces;
  double* dg = diag_.data() + c * faces;
  double* of = off_.data() + c * cells;
  double* w = cellWeight_.data() + c * cells;
  double* ra = rowA_.data() + c * cells;
  double* rc = rowC_.data() + c * cells;
  double* hb = barrierCurvature_.data() + c * cells;
  std::fill(dg, dg + faces, 0.0);
  double cost = 0.0;
  for (int32_t i = 0; i < m; ++i) {
    const double ab = 0.5 * (bc[i] + bc[i + 1]), db = bc[i + 1] - bc[i];
    if (!(std::fabs(db) < 1.0)) {
      partial_[c] = std::numeric_limits<double>::infinity();
      return false;
    }
    const double s1 = i + ab, s2 = i - ab;
    const double j1 = 1.0 + db, j2 = 1.0 - db;
    const CellResidual cell = cellsOf.next(i);
    const bool inside = s1 >= -0.5 && s1 <= last && s2 >= -0.5 && s2 <= last;
    const double wi = inside ? 2.0 / (j1 * j1 + j2 * j2) : 0.0;
    const double sw = std::sqrt(wi);
    w[i] = wi;
    const double ga = sw * cell.lower, gc = sw * cell.upper;
    ra[i] = ga;
    rc[i] = gc;
    rho[static_cast<size_t>(i)] = sw * cell.r;
    const Barrier phi = barrierAt(db);
    cost += beta * phi.phi;
    g[i] -= beta * phi.first;
    g[i + 1] += beta * phi.first;
    const double h = beta * phi.second;
    hb[i] = h;
    dg[i] += ga * ga + h;
    dg[i + 1] += gc * gc + h;
    of[i] = ga * gc - h;
  }
  const double* resid = rho.data();
  if (weights_.smoothResidual) {
    resid = binomialTwice(rho.data(), filtered, back, m);
    for (int32_t i = 0; i < m; ++i) cost += 0.5 * filtered[static_cast<size_t>(i)] * filtered[static_cast<size_t>(i)];
  } else {
    for (int32_t i = 0; i < m; ++i) cost += 0.5 * rho[static_cast<size_t>(i)] * rho[static_cast<size_t>(i)];
  }
  for (int32_t i = 0; i < m; ++i) {
    g[i] += ra[i] * resid[i];
    g[i + 1] += rc[i] * resid[i];
  }
  addRegulariser(b.data(), gradient.data(), c);
  partial_[c] = cost + regulariserCost(b.data(), c);
  return true;
}

void VariationalProblem::factorPreconditioner(size_t c) {
  const int32_t m = grid_.m, nx = grid_.nx, nz = grid_.nz, nf = m + 1;
  const size_t faces = static_cast<size_t>(nf), cells = static_cast<size_t>(m);
  const double a2 = weights_.curvature, a2x = weights_.curvatureAcross, a1 = weights_.diffusion;
  const int32_t x = static_cast<int32_t>(c % static_cast<size_t>(nx));
  const int32_t z = static_cast<int32_t>(c / static_cast<size_t>(nx));
  const auto across = [](int32_t pos, int32_t count) {
    return 4.0 * interior(pos, count) + 1.0 * interior(pos - 1, count) + 1.0 * interior(pos + 1, count);
  };
  const double neighbours = (x > 0) + (x + 1 < nx) + (z > 0) + (z + 1 < nz);
  const bool weighted = weightedAcross();
  const double acrossDiag = (weighted ? 0.0 : a2x * (across(x, nx) + across(z, nz))) + a1 * neighbours;
  // With weights, the weighted second differences' diagonal, per face: the
  // squares of the taps (1, -2, 1) times each interior column's weight.
  const auto bendDiagonal = [&](int32_t k) {
    double sum = 0.0;
    eachBendNeighbour(c, [&](size_t column, int axis, bool centre) {
      sum += (centre ? 4.0 : 1.0) *
             acrossWeight_[(2 * column + static_cast<size_t>(axis)) * faces + static_cast<size_t>(k)];
    });
    return a2x * sum;
  };
  // Each mixed difference with a neighbour column holds faces k and k + 1.
  const double mixedDiag = weights_.mixedCurvature * neighbours;
  const double* dg = diag_.data() + c * faces;
  const double* of = off_.data() + c * cells;
  double* lower = preLower_.data() + c * faces;
  double* inverse = preInverse_.data() + c * faces;
  double* po = preOff_.data() + c * cells;
  const auto thirdCount = [](int32_t pos, int32_t n) {
    double sum = 0.0;
    for (int32_t start = pos - 3; start <= pos; ++start)
      if (start >= 0 && start + 3 < n) sum += kThird[pos - start] * kThird[pos - start];
    return sum;
  };
  const double thirdDiag = weights_.thirdAcross * (thirdCount(x, nx) + thirdCount(z, nz));
  // Scaled by the signal: the squares of the taps times each window's scale.
  const auto scaledThirdDiagonal = [&](int32_t k) {
    double sum = 0.0;
    for (const auto& [pos, n, axis, step] :
         {std::tuple<int32_t, int32_t, size_t, ptrdiff_t>{x, nx, 0, 1}, {z, nz, 1, static_cast<ptrdiff_t>(nx)}})
      for (int32_t start = pos - 3; start <= pos; ++start) {
        if (start < 0 || start + 3 >= n) continue;
        const size_t window = static_cast<size_t>(static_cast<ptrdiff_t>(c) + (start - pos) * step);
        sum += kThird[pos - start] * kThird[pos - start] *
               static_cast<double>(thirdScale_[(2 * window + axis) * faces + static_cast<size_t>(k)]);
      }
    return weights_.thirdAcross * sum;
  };
  const bool scaled = signalScaled() && weights_.thirdAcross != 0.0;
  double previousLower = 0.0, previousOff = 0.0;
  for (int32_t k = 0; k < nf; ++k) {
    const double pe = 4.0 * interior(k, nf) + 2.0 * interior(k - 1, nf) + 2.0 * interior(k + 1, nf);
    const double diagonal = dg[k] + a2 * pe + a1 * ((k > 0) + (k + 1 < nf)) + acrossDiag +
                            mixedDiag * ((k > 0) + (k + 1 < nf)) + (scaled ? scaledThirdDiagonal(k) : thirdDiag) +
                            (weighted ? bendDiagonal(k) : 0.0);
    const double pivot = diagonal - previousOff * previousLower;
    inverse[k] = 1.0 / pivot;
    if (k + 1 < nf) {
      const double o = of[k] - 2.0 * a2 * (interior(k, nf) + interior(k + 1, nf)) - a1 - mixedDiag;
      po[k] = o;
      lower[k] = o / pivot;
      previousLower = lower[k];
      previousOff = o;
    }
  }
}

double VariationalProblem::linearise(const std::vector<double>& b, std::vector<double>& gradient) {
  gradient.assign(grid_.faces(), 0.0);
  if (weightedAcross()) {
    freezeAcrossWeights(b);
  }
  threads_->run(grid_.columns(), [&](size_t begin, size_t end, int thread) {
    for (size_t c = begin; c < end; ++c)
      if (lineariseColumn(b, gradient, c, thread)) factorPreconditioner(c);
  });
  return sumOfPartials();
}

double VariationalProblem::cost(const std::vector<double>& b) const {
  const int32_t m = grid_.m;
  const size_t faces = static_cast<size_t>(m + 1), padded = static_cast<size_t>(padded_),
               cells = static_cast<size_t>(m);
  const double beta = weights_.barrier;
  const bool smoothed = weights_.smoothResidual;
  const int64_t n = static_cast<int64_t>(grid_.columns());
  threads_->run(static_cast<size_t>(n), [&](size_t begin, size_t end, int thread) {
    auto& [rho, filtered, back] = scratch_[static_cast<size_t>(thread)];
    for (int64_t cs = static_cast<int64_t>(begin); cs < static_cast<int64_t>(end); ++cs) {
      const size_t c = static_cast<size_t>(cs);
      const double* bc = b.data() + c * faces;
      ColumnCells cellsOf(weights_.cellMass, coeff1_.data() + c * padded, coeff2_.data() + c * padded, padded_,
                          weights_.cellMass ? total1_[c] : 0.0, weights_.cellMass ? total2_[c] : 0.0, bc);
      const double* w = cellWeight_.data() + c * cells;
      double cost = 0.0;
      bool columnFolded = false;
      for (int32_t i = 0; i < m; ++i) {
        const double db = bc[i + 1] - bc[i];
        if (!(std::fabs(db) < 1.0)) {
          columnFolded = true;
          break;
        }
        rho[static_cast<size_t>(i)] = std::sqrt(w[i]) * cellsOf.next(i).r;
        cost += beta * barrierAt(db).phi;
      }
      if (columnFolded) {
        partial_[c] = std::numeric_limits<double>::infinity();
        continue;
      }
      const double* resid = rho.data();
      if (smoothed) {
        binomial(rho.data(), filtered.data(), m);
        resid = filtered.data();
      }
      for (int32_t i = 0; i < m; ++i) cost += 0.5 * resid[i] * resid[i];
      partial_[c] = cost + regulariserCost(b.data(), c);
    }
  });
  return sumOfPartials();
}

void VariationalProblem::applyHessian(const std::vector<double>& p, std::vector<double>& out) const {
  out.resize(grid_.faces());
  const int32_t m = grid_.m;
  const size_t faces = static_cast<size_t>(m + 1), cells = static_cast<size_t>(m);
  const bool smoothed = weights_.smoothResidual;
  const int64_t n = static_cast<int64_t>(grid_.columns());
  threads_->run(static_cast<size_t>(n), [&](size_t begin, size_t end, int thread) {
    auto& [u, filtered, back] = scratch_[static_cast<size_t>(thread)];
    for (int64_t cs = static_cast<int64_t>(begin); cs < static_cast<int64_t>(end); ++cs) {
      const size_t c = static_cast<size_t>(cs);
      const double* pc = p.data() + c * faces;
      const double* ra = rowA_.data() + c * cells;
      const double* rc = rowC_.data() + c * cells;
      const double* hb = barrierCurvature_.data() + c * cells;
      double* o = out.data() + c * faces;
      dataProduct(o, pc, ra, rc, hb, u.data(), filtered.data(), back.data(), m, smoothed);
      addRegulariser(p.data(), out.data(), c);
      double pHp = 0.0;
      for (size_t k = 0; k < faces; ++k) pHp += pc[k] * o[k];
      partial_[c] = pHp;
    }
  });
}

void VariationalProblem::preconditionColumns(size_t first, size_t count, const double* r, double* z, double* rz) const {
  const int32_t m = grid_.m;
  const size_t faces = static_cast<size_t>(m + 1);
  const double* rc[kLanes];
  const double* lower[kLanes];
  const double* inverse[kLanes];
  const double* po[kLanes];
  double* zc[kLanes];
  for (size_t j = 0; j < count; ++j) {
    const size_t c = first + j;
    rc[j] = r + c * faces;
    lower[j] = preLower_.data() + c * faces;
    inverse[j] = preInverse_.data() + c * faces;
    po[j] = preOff_.data() + c * static_cast<size_t>(m);
    zc[j] = z + c * faces;
  }
  if (count == kLanes) {
    double last[kLanes];
    for (size_t j = 0; j < kLanes; ++j) zc[j][0] = last[j] = rc[j][0] * inverse[j][0];
    for (int32_t k = 1; k <= m; ++k)
      for (size_t j = 0; j < kLanes; ++j) zc[j][k] = last[j] = (rc[j][k] - po[j][k - 1] * last[j]) * inverse[j][k];
    for (int32_t k = m - 1; k >= 0; --k)
      for (size_t j = 0; j < kLanes; ++j) zc[j][k] = last[j] = zc[j][k] - lower[j][k] * last[j];
  } else {
    for (size_t j = 0; j < count; ++j) {
      zc[j][0] = rc[j][0] * inverse[j][0];
      for (int32_t k = 1; k <= m; ++k) zc[j][k] = (rc[j][k] - po[j][k - 1] * zc[j][k - 1]) * inverse[j][k];
      for (int32_t k = m - 1; k >= 0; --k) zc[j][k] -= lower[j][k] * zc[j][k + 1];
    }
  }
  for (size_t j = 0; j < count; ++j) {
    double sum = 0.0;
    for (size_t k = 0; k < faces; ++k) sum += rc[j][k] * zc[j][k];
    rz[first + j] = sum;
  }
}

void VariationalProblem::applyPreconditioner(const std::vector<double>& r, std::vector<double>& z) const {
  z.resize(grid_.faces());
  threads_->run(grid_.columns(), [&](size_t begin, size_t end, int) {
    for (size_t first = begin; first < end; first += kLanes)
      preconditionColumns(first, std::min(kLanes, end - first), r.data(), z.data(), partial_.data());
  });
}

double VariationalProblem::dot(const std::vector<double>& a, const std::vector<double>& b) const {
  const size_t faces = static_cast<size_t>(grid_.m + 1);
  const int64_t n = static_cast<int64_t>(grid_.columns());
  threads_->run(static_cast<size_t>(n), [&](size_t begin, size_t end, int) {
    for (int64_t cs = static_cast<int64_t>(begin); cs < static_cast<int64_t>(end); ++cs) {
      const size_t c = static_cast<size_t>(cs);
      const double *x = a.data() + c * faces, *y = b.data() + c * faces;
      double s = 0.0;
      for (size_t k = 0; k < faces; ++k) s += x[k] * y[k];
      partial_[c] = s;
    }
  });
  return sumOfPartials();
}

double VariationalProblem::maxJacobianChange(const std::vector<double>& b) const {
  const size_t faces = static_cast<size_t>(grid_.m + 1);
  const int64_t n = static_cast<int64_t>(grid_.columns());
  threads_->run(static_cast<size_t>(n), [&](size_t begin, size_t end, int) {
    for (int64_t cs = static_cast<int64_t>(begin); cs < static_cast<int64_t>(end); ++cs) {
      const size_t c = static_cast<size_t>(cs);
      const double* bc = b.data() + c * faces;
      double worst = 0.0;
      for (size_t k = 0; k + 1 < faces; ++k) worst = std::max(worst, std::fabs(bc[k + 1] - bc[k]));
      partial_[c] = worst;
    }
  });
  double worst = 0.0;
  for (double p : partial_) worst = std::max(worst, p);
  return worst;
}

int VariationalProblem::solve(const std::vector<double>& rhs, std::vector<double>& x, int maxIterations,
                              double tolerance) const {
  const size_t n = rhs.size(), faces = static_cast<size_t>(grid_.m + 1);
  x.assign(n, 0.0);
  const double norm0 = std::sqrt(dot(rhs, rhs));
  if (!(norm0 > 0.0)) return 0;
  // The work vectors are kept between solves: allocating them anew would
  // fault in fresh pages on every Gauss-Newton step.
  std::vector<double>&r = cgResidual_, &z = cgPreconditioned_, &p = cgDirection_, &hp = cgProduct_;
  r.assign(rhs.begin(), rhs.end());
  applyPreconditioner(r, z);  // also leaves r . z per column
  double rz = sumOfPartials();
  p.assign(z.begin(), z.end());
  const int64_t columns = static_cast<int64_t>(grid_.columns());
  int iterations = 0;
  while (iterations < maxIterations) {
    applyHessian(p, hp);  // also leaves p . Hp per column
    const double curvature = sumOfPartials();
    if (!(curvature > 0.0)) break;
    const double alpha = rz / curvature;
    // The step, the new residual's norm (partial_) and, for the next
    // direction, the preconditioned residual and r . z (nextRz_) in one pass
    // over the columns; z is wasted only when the residual is small enough.
    threads_->run(static_cast<size_t>(columns), [&](size_t begin, size_t end, int) {
      for (size_t first = begin; first < end; first += kLanes) {
        const size_t count = std::min(kLanes, end - first);
        for (size_t cs = first; cs < first + count; ++cs) {
          const size_t from = cs * faces;
          double rr = 0.0;
          for (size_t i = from; i < from + faces; ++i) {
            x[i] += alpha * p[i];
            r[i] -= alpha * hp[i];
            rr += r[i] * r[i];
          }
          partial_[cs] = rr;
        }
        preconditionColumns(first, count, r.data(), z.data(), nextRz_.data());
      }
    });
    ++iterations;
    if (std::sqrt(sumOfPartials()) <= tolerance * norm0) break;
    double next = 0.0;
    for (double v : nextRz_) next += v;
    const double beta = next / rz;
    rz = next;
    threads_->run(static_cast<size_t>(columns), [&](size_t begin, size_t end, int) {
      for (int64_t cs = static_cast<int64_t>(begin); cs < static_cast<int64_t>(end); ++cs) {
        const size_t begin = static_cast<size_t>(cs) * faces;
        for (size_t i = begin; i < begin + faces; ++i) p[i] = z[i] + beta * p[i];
      }
    });
  }
  return iterations;
}

}  // namespace daxo
