#include "correction/vdmfolds.h"

#include <cmath>
#include <cstddef>

namespace daxo {

namespace {

// The float nearest 0.05.
constexpr float kFoldStep = 0.05f;

bool isFold(float a, float b) { return std::fabs(a - b) > 1.0f; }

// One upward sweep over a column of n values spaced `stride` apart; returns
// the number of adjustments. Each pair is read when it is reached, so an
// adjustment at y is seen by the comparison at y + 1.
unsigned int sweepColumn(float* column, int32_t n, size_t stride) {
  unsigned int adjustments = 0;
  for (int32_t y = 0; y + 1 < n; ++y) {
    float& lower = column[static_cast<size_t>(y) * stride];
    float& upper = column[static_cast<size_t>(y + 1) * stride];
    const float a = lower, b = upper;
    if (!isFold(a, b)) continue;
    const float a2 = a > b ? a - kFoldStep : a + kFoldStep;
    const float b2 = a > b ? b + kFoldStep : b - kFoldStep;
    // Infinite values, or values beyond about 800 000 where a step of 0.05 is
    // lost to rounding, could never be brought closer: leave them alone.
    if (!std::isfinite(a) || !std::isfinite(b) || a2 == a || b2 == b) continue;
    lower = a2;
    upper = b2;
    ++adjustments;
  }
  return adjustments;
}

}  // namespace

int countFolds(const Volume& v) {
  const int32_t nx = v.nx(), ny = v.ny(), nz = v.nz();
  int folds = 0;
  if (v.voxelCount() == 0) return folds;
  for (int32_t z = 0; z < nz; ++z)
    for (int32_t y = 0; y + 1 < ny; ++y) {
      const float* row = &v.data()[v.index(0, y, z)];
      const float* next = row + nx;
      for (int32_t x = 0; x < nx; ++x)
        if (isFold(next[x], row[x])) ++folds;
    }
  return folds;
}

unsigned int reduceFolds(Volume& v) {
  const int32_t nx = v.nx(), ny = v.ny(), nz = v.nz();
  const size_t stride = static_cast<size_t>(nx);
  unsigned int count = 0;
  if (v.voxelCount() == 0) return count;
  for (int32_t z = 0; z < nz; ++z)
    for (int32_t x = 0; x < nx; ++x) {
      float* column = &v.data()[v.index(x, 0, z)];
      for (;;) {
        const unsigned int adjustments = sweepColumn(column, ny, stride);
        count += adjustments;
        if (adjustments == 0) break;
      }
    }
  return count;
}

}  // namespace daxo
