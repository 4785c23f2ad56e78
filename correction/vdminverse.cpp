#include "correction/vdminverse.h"

#include <cstddef>
#include <utility>
#include <vector>

#include "correction/vdm.h"

namespace daxo {

namespace {

// Index of the first entry greater than e, by the halving search for an upper
// bound over the whole sequence (meant for ascending entries).
int32_t upperBound(const std::vector<float>& mapped, float e) {
  int32_t first = 0;
  int32_t count = static_cast<int32_t>(mapped.size());
  while (count > 0) {
    const int32_t half = count / 2;
    if (mapped[first + half] > e) {
      count = half;
    } else {
      first = first + half + 1;
      count = count - half - 1;
    }
  }
  return first;
}

// Gives every row without a value (defined[e] == 0) the value of the nearest
// row that has one, the lower on a tie; 0 when no row has a value.
void fillFromNearest(float* column, size_t stride, const std::vector<char>& defined) {
  const int32_t n = static_cast<int32_t>(defined.size());
  int32_t previous = -1;
  int32_t next = 0;  // the first defined row after e, or n
  for (int32_t e = 0; e < n; ++e) {
    if (defined[e]) {
      previous = e;
      continue;
    }
    if (next <= e) {
      next = e + 1;
      while (next < n && !defined[next]) ++next;
    }
    int32_t source = -1;
    if (previous >= 0 && (next >= n || e - previous <= next - e)) {
      source = previous;
    } else if (next < n) {
      source = next;
    }
    column[static_cast<size_t>(e) * stride] = source >= 0 ? column[static_cast<size_t>(source) * stride] : 0.0f;
  }
}

}  // namespace

Volume invertVdm(const Volume& v) {
  const int32_t nx = v.nx(), ny = v.ny(), nz = v.nz();
  Volume u(v.dimensions());
  if (v.voxelCount() == 0) return u;
  const size_t stride = static_cast<size_t>(nx);
  std::vector<float> mapped(static_cast<size_t>(ny));
  std::vector<char> defined(static_cast<size_t>(ny));
  for (int32_t z = 0; z < nz; ++z)
    for (int32_t x = 0; x < nx; ++x) {
      const float* in = &v.data()[v.index(x, 0, z)];
      float* out = &u.data()[u.index(x, 0, z)];
      for (int32_t y = 0; y < ny; ++y) mapped[y] = static_cast<float>(y) + in[static_cast<size_t>(y) * stride];
      for (int32_t row = 0; row < ny; ++row) {
        const float e = static_cast<float>(row);
        const int32_t n = upperBound(mapped, e);
        defined[row] = n > 0 && n < ny;
        if (!defined[row]) continue;
        const float below = mapped[n - 1], above = mapped[n];
        out[static_cast<size_t>(row) * stride] =
            ((e - below) * static_cast<float>(n) + (above - e) * static_cast<float>(n - 1)) / (above - below) - e;
      }
      // Rows before the first or at or after the last landing position.
      fillFromNearest(out, stride, defined);
    }
  return u;
}

void modulateIntensities(Volume& Am, Volume& Pm, const Volume& A, const Volume& P, const Volume& v) {
  const Volume s = derivativeY(invertVdm(v));
  Volume qa(A.dimensions());
  warpTrilinear(qa, (-s) + 1.0f, v, false);
  Volume qp(P.dimensions());
  warpTrilinear(qp, s + 1.0f, v, true);
  // Both products are formed before either output is replaced, so the outputs
  // may be the inputs.
  Volume am = A * qa;
  Volume pm = P * qp;
  Am = std::move(am);
  Pm = std::move(pm);
}

}  // namespace daxo
