#include "correction/leastsquaresrestoration.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace daxo {

namespace {

// One scan's distortion of a column as sparse columns of W: undistorted cell
// i lands on observed cells first[i] .. first[i] + count[i] - 1 with the
// weights at values[offset[i] ..].
struct ColumnDistortion {
  std::vector<int32_t> first, count;
  std::vector<size_t> offset;
  std::vector<double> values;
};

// Faces of cell i at i - 1/2 and i + 1/2 moved by sign * the face
// displacement; false when a cell folds (its moved extent is not positive).
bool distortion(const double* faceShift, int32_t m, double sign, ColumnDistortion& w) {
  w.first.assign(static_cast<size_t>(m), 0);
  w.count.assign(static_cast<size_t>(m), 0);
  w.offset.assign(static_cast<size_t>(m), 0);
  w.values.clear();
  for (int32_t i = 0; i < m; ++i) {
    const double lo = (i - 0.5) + sign * faceShift[i], hi = (i + 0.5) + sign * faceShift[i + 1];
    const double width = hi - lo;
    if (!(width > 1e-6)) return false;
    const int32_t j0 = std::max<int32_t>(0, static_cast<int32_t>(std::floor(lo + 0.5)));
    const int32_t j1 = std::min<int32_t>(m - 1, static_cast<int32_t>(std::floor(hi + 0.5)));
    w.offset[static_cast<size_t>(i)] = w.values.size();
    w.first[static_cast<size_t>(i)] = j0;
    for (int32_t j = j0; j <= j1; ++j) {
      const double overlap = std::min(hi, j + 0.5) - std::max(lo, j - 0.5);
      w.values.push_back(overlap > 0.0 ? overlap / width : 0.0);
    }
    w.count[static_cast<size_t>(i)] = std::max<int32_t>(0, j1 - j0 + 1);
  }
  return true;
}

// The largest k - i with columns i and k of W overlapping.
int32_t bandOf(const ColumnDistortion& w, int32_t m) {
  int32_t band = 0;
  for (int32_t i = 0; i < m; ++i) {
    const int32_t last = w.first[static_cast<size_t>(i)] + w.count[static_cast<size_t>(i)] - 1;
    for (int32_t k = i + 1; k < m && w.first[static_cast<size_t>(k)] <= last; ++k) band = std::max(band, k - i);
  }
  return band;
}

// W^T W into the band (row i, entry i + e at normal[i * (band + 1) + e]) and
// W^T observed into rhs.
void normalEquations(const ColumnDistortion& w, const double* observed, int32_t m, int32_t band,
                     std::vector<double>& normal, std::vector<double>& rhs) {
  const size_t stride = static_cast<size_t>(band) + 1;
  normal.assign(static_cast<size_t>(m) * stride, 0.0);
  rhs.assign(static_cast<size_t>(m), 0.0);
  for (int32_t i = 0; i < m; ++i) {
    const size_t a = static_cast<size_t>(i);
    const int32_t fi = w.first[a], ci = w.count[a];
    const double* vi = w.values.data() + w.offset[a];
    double r = 0.0;
    for (int32_t t = 0; t < ci; ++t) r += vi[t] * observed[fi + t];
    rhs[a] = r;
    for (int32_t k = i; k < m && k <= i + band; ++k) {
      const size_t b = static_cast<size_t>(k);
      const int32_t fk = w.first[b], ck = w.count[b];
      const double* vk = w.values.data() + w.offset[b];
      const int32_t from = std::max(fi, fk), to = std::min(fi + ci, fk + ck);
      double sum = 0.0;
      for (int32_t j = from; j < to; ++j) sum += vi[j - fi] * vk[j - fk];
      normal[a * stride + static_cast<size_t>(k - i)] = sum;
    }
  }
}

// Solves the banded symmetric positive definite system in place (Cholesky,
// the factor overwriting the band); rhs becomes the solution.
void solveBanded(std::vector<double>& a, std::vector<double>& rhs, int32_t m, int32_t band) {
  const size_t stride = static_cast<size_t>(band) + 1;
  // a(i, i + e) = a[i * stride + e]; the factor U with A = U^T U, same layout.
  for (int32_t i = 0; i < m; ++i) {
    double* row = a.data() + static_cast<size_t>(i) * stride;
    for (int32_t k = std::max(0, i - band); k < i; ++k) {
      // Subtract U(k, i) U(k, i + e) from row i.
      const double* upper = a.data() + static_cast<size_t>(k) * stride;
      const double uki = upper[i - k];
      for (int32_t e = 0; e <= band && i + e < m && (i - k) + e <= band; ++e) row[e] -= uki * upper[(i - k) + e];
    }
    const double pivot = std::sqrt(std::max(row[0], 1e-300));
    row[0] = pivot;
    for (int32_t e = 1; e <= band && i + e < m; ++e) row[e] /= pivot;
  }
  // U^T z = rhs, then U x = z.
  for (int32_t i = 0; i < m; ++i) {
    double s = rhs[static_cast<size_t>(i)];
    for (int32_t k = std::max(0, i - band); k < i; ++k)
      s -= a[static_cast<size_t>(k) * stride + static_cast<size_t>(i - k)] * rhs[static_cast<size_t>(k)];
    rhs[static_cast<size_t>(i)] = s / a[static_cast<size_t>(i) * stride];
  }
  for (int32_t i = m - 1; i >= 0; --i) {
    double s = rhs[static_cast<size_t>(i)];
    for (int32_t e = 1; e <= band && i + e < m; ++e)
      s -= a[static_cast<size_t>(i) * stride + static_cast<size_t>(e)] * rhs[static_cast<size_t>(i + e)];
    rhs[static_cast<size_t>(i)] = s / a[static_cast<size_t>(i) * stride];
  }
}

}  // namespace

Volume restoreLeastSquares(const Volume& first, const Volume& second, const Volume& map,
                           const RestorationSettings& settings, ColumnThreads* threads) {
  if (first.dimensions() != second.dimensions() || first.dimensions() != map.dimensions())
    throw std::invalid_argument("least-squares restoration: the two scans and the map differ in extents");
  const Dimensions e = first.dimensions();
  Volume out(e, 0.0f);
  if (first.voxelCount() == 0) return out;
  const int32_t m = e.y;
  const size_t columns = static_cast<size_t>(e.x) * static_cast<size_t>(e.z);
  std::atomic<bool> folded{false};
  const auto work = [&](size_t begin, size_t end) {
    std::vector<double> faces(static_cast<size_t>(m) + 1), a(static_cast<size_t>(m)), b(static_cast<size_t>(m));
    std::vector<double> normalA, rhsA, normalB, rhsB, normal, rhs;
    ColumnDistortion plus, minus;
    for (size_t c = begin; c < end; ++c) {
      const int32_t x = static_cast<int32_t>(c % static_cast<size_t>(e.x));
      const int32_t z = static_cast<int32_t>(c / static_cast<size_t>(e.x));
      for (int32_t y = 0; y < m; ++y) {
        a[static_cast<size_t>(y)] = first(x, y, z);
        b[static_cast<size_t>(y)] = second(x, y, z);
      }
      faces[0] = map(x, 0, z);
      faces[static_cast<size_t>(m)] = map(x, m - 1, z);
      for (int32_t k = 1; k < m; ++k)
        faces[static_cast<size_t>(k)] = 0.5 * (static_cast<double>(map(x, k - 1, z)) + map(x, k, z));
      if (!distortion(faces.data(), m, 1.0, plus) || !distortion(faces.data(), m, -1.0, minus)) {
        folded = true;
        continue;
      }
      const int32_t band = std::max({bandOf(plus, m), bandOf(minus, m), 1});
      normalEquations(plus, a.data(), m, band, normalA, rhsA);
      normalEquations(minus, b.data(), m, band, normalB, rhsB);
      const size_t stride = static_cast<size_t>(band) + 1;
      normal.resize(normalA.size());
      rhs.resize(rhsA.size());
      // Each entry the sum of the two scans' parts: the same in either order.
      for (size_t k = 0; k < normal.size(); ++k) normal[k] = normalA[k] + normalB[k];
      for (size_t k = 0; k < rhs.size(); ++k) rhs[k] = rhsA[k] + rhsB[k];
      const double s = settings.smoothness;
      for (int32_t i = 0; i < m; ++i) {
        const size_t row = static_cast<size_t>(i) * stride;
        normal[row] += s * ((i > 0) + (i + 1 < m)) + 1e-9;
        if (i + 1 < m) normal[row + 1] -= s;
      }
      solveBanded(normal, rhs, m, band);
      for (int32_t y = 0; y < m; ++y) out(x, y, z) = static_cast<float>(rhs[static_cast<size_t>(y)]);
    }
  };
  if (threads) {
    threads->run(columns, [&](size_t begin, size_t end, int) { work(begin, end); });
  } else {
    work(0, columns);
  }
  if (folded) throw std::invalid_argument("least-squares restoration: the map folds (|dmap/dy| reaches 1)");
  return out;
}

}  // namespace daxo
