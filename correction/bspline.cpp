#include "correction/bspline.h"

#include <algorithm>
#include <cstddef>

#include "correction/bsplinetaps.h"
#include "volume/columnthreads.h"

namespace daxo {

namespace {

using bspline::kSixth;

// Elimination factors of the tridiagonal system (1 4 1) / 6 with zero ends, for
// lines of up to `length` samples: m(0) = 1.5, q(0) = 0.25,
// m(i) = 1 / ((4 - q(i-1)) * (1/6)), q(i) = m(i) * (1/6). They depend only on
// the position in the line, so one set serves every line of every axis.
struct EliminationFactors {
  std::vector<double> m;
  std::vector<double> q;
};

EliminationFactors eliminationFactors(int32_t length) {
  EliminationFactors f;
  f.m.resize(static_cast<size_t>(length));
  f.q.resize(static_cast<size_t>(length));
  if (length == 0) return f;
  f.m[0] = 1.5;
  f.q[0] = 0.25;
  for (int32_t i = 1; i < length; ++i) {
    f.m[i] = 1.0 / ((4.0 - f.q[i - 1]) * kSixth);
    f.q[i] = f.m[i] * kSixth;
  }
  return f;
}

// Solves `width` lines at once: sample i of line j lies at
// data[i * stride + j * lineStride] for i = 0 .. n-1, j = 0 .. width-1. Every
// line gets the same arithmetic as if it were solved alone; handling them
// together only lets the inner loop run over neighbouring memory (lineStride
// 1) or over independent chains (lines along x).
//   forward:  e(0) = f(0) m(0), e(i) = (f(i) - e(i-1) * (1/6)) m(i)
//   backward: c(n-1) = e(n-1), c(i) = e(i) - q(i) c(i+1)
void solveLines(double* data, int32_t n, size_t width, size_t stride, size_t lineStride, const EliminationFactors& f) {
  if (n == 0) return;
  for (size_t j = 0; j < width; ++j) data[j * lineStride] *= f.m[0];
  for (int32_t i = 1; i < n; ++i) {
    const double m = f.m[i];
    const double* prev = data + static_cast<size_t>(i - 1) * stride;
    double* cur = data + static_cast<size_t>(i) * stride;
    for (size_t j = 0; j < width; ++j) cur[j * lineStride] = (cur[j * lineStride] - prev[j * lineStride] * kSixth) * m;
  }
  for (int32_t i = n - 2; i >= 0; --i) {
    const double q = f.q[i];
    const double* next = data + static_cast<size_t>(i + 1) * stride;
    double* cur = data + static_cast<size_t>(i) * stride;
    for (size_t j = 0; j < width; ++j) cur[j * lineStride] = cur[j * lineStride] - q * next[j * lineStride];
  }
}

}  // namespace

std::vector<double> bsplineCoefficients(const Volume& src) {
  std::vector<double> c;
  bsplineCoefficients(src, c);
  return c;
}

void bsplineCoefficients(const Volume& src, std::vector<double>& c, ColumnThreads* threads) {
  const int32_t nx = src.nx(), ny = src.ny(), nz = src.nz();
  const size_t count = src.voxelCount();
  c.clear();
  if (count == 0) return;
  // The float samples convert to double exactly, so converting up front equals
  // letting the first pass read the float source.
  const float* in = src.data();
  c.assign(in, in + count);
  const EliminationFactors f = eliminationFactors(std::max({nx, ny, nz}));
  const size_t plane = static_cast<size_t>(nx) * static_cast<size_t>(ny);
  const size_t width = static_cast<size_t>(nx);
  double* data = c.data();
  ColumnThreads single(1);
  ColumnThreads& pool = threads != nullptr ? *threads : single;
  // Every pass splits its lines across the threads; a line's arithmetic does
  // not depend on which lines it is solved with.
  // Along z: lines of constant (x, y) together, one plane per step.
  pool.run(plane, [&](size_t begin, size_t end, int) { solveLines(data + begin, nz, end - begin, plane, 1, f); });
  // Along y: per slice, all lines of constant x together, one row per step.
  pool.run(static_cast<size_t>(nz), [&](size_t begin, size_t end, int) {
    for (size_t z = begin; z < end; ++z) solveLines(data + z * plane, ny, width, width, 1, f);
  });
  // Along x: four rows at a time, whose independent recursions can overlap
  // (more rows at once would map to conflicting cache sets).
  const size_t rows = static_cast<size_t>(ny) * static_cast<size_t>(nz);
  pool.run(rows, [&](size_t begin, size_t end, int) {
    for (size_t row = begin; row < end; row += 4)
      solveLines(data + row * width, nx, std::min<size_t>(4, end - row), 1, width, f);
  });
}

void bsplineSample(const std::vector<double>& coefficients, const Dimensions& dims, const std::vector<Float3>& points,
                   float* out, const Float3& extent) {
  const bool physical = extent.x != 0.0f;
  const double* c = coefficients.data();
  for (size_t i = 0; i < points.size(); ++i) {
    const Float3 u = physical ? bspline::toVoxelPosition(points[i], dims, extent) : points[i];
    bspline::AxisTaps tx, ty, tz;
    if (bspline::valueTaps(u.x, dims.x, tx) && bspline::valueTaps(u.y, dims.y, ty) &&
        bspline::valueTaps(u.z, dims.z, tz)) {
      out[i] = bspline::sumTaps(c, dims.x, dims.y, tx, ty, tz);
    } else {
      out[i] = 0.0f;
    }
  }
}

}  // namespace daxo
