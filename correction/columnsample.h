#pragma once

#include <algorithm>
#include <cstdint>

// Linear sampling along y of one column of a volume, as warpLinearY and the
// trials of the local search (correction/boxtrials.h) do it. Row positions
// are in voxels; a column's values lie nx apart.

namespace daxo {

// Whether a row position lies strictly inside (0, top), top being the last
// row: only such positions are sampled, the others keep their voxel's value.
inline bool insideRows(float yy, float top) { return yy > 0.0f && yy < top; }

// The linear sample of `column` at row position yy, which lies strictly
// inside (0, lastRow).
inline float sampleColumn(const float* column, int32_t nx, int32_t lastRow, float yy) {
  const int32_t i = static_cast<int32_t>(yy);
  const float f = yy - static_cast<float>(i);
  // yy + 1 can round up to ny when yy lies within half an ulp below ny - 1
  // (ny = 2^k + 1); the row index is kept inside the volume.
  const int32_t i2 = std::min(static_cast<int32_t>(yy + 1.0f), lastRow);
  return (1.0f - f) * column[nx * i] + f * column[nx * i2];
}

}  // namespace daxo
