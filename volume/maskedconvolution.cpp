#include "volume/maskedconvolution.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "volume/assertion.h"
#include "volume/vectorlanes.h"

namespace daxo {

namespace {

constexpr const char* kModule = "maskedconvolution";

// First and one-past-last kernel index along one axis whose image position
// (p + index - half) lies inside 0 .. n-1.
DAXO_LANES_INLINE int32_t windowBegin(int32_t p, int32_t half) { return half - std::min(p, half); }
DAXO_LANES_INLINE int32_t windowEnd(int32_t p, int32_t half, int32_t n, int32_t k) { return std::min(half + n - p, k); }

// Adds kernel cell value k, whose sample lies `shift` voxels along x from the
// output voxel, to the output voxels xBegin .. xEnd-1 of one row. Cells of
// weight 0 are skipped (a NaN weight is not 0): the select keeps each voxel's
// sum exactly as a sequential loop over its window forms it.
template <int kLanes, bool kNormalise, bool kCountCells>
DAXO_LANES_INLINE void accumulateCell(float* __restrict acc, float* __restrict weightSum, int32_t* __restrict usedCells,
                                      const float* __restrict image, const float* __restrict weights, float k,
                                      int32_t shift, int32_t xBegin, int32_t xEnd) {
  typedef typename Lanes<kLanes>::Floats Floats;
  typedef typename Lanes<kLanes>::Ints Ints;
  int32_t x = xBegin;
  const Floats kk = Floats{} + k;
  const Floats zero = Floats{};
  // Loads and stores through memcpy: the rows need not be aligned. (No
  // helper functions: a vector passed by value would cross the ABI of the
  // default instruction set.)
  for (; x + kLanes <= xEnd; x += kLanes) {
    Floats w, sum, sample;
    std::memcpy(&w, weights + x + shift, sizeof w);
    std::memcpy(&sum, acc + x, sizeof sum);
    std::memcpy(&sample, image + x + shift, sizeof sample);
    const Ints used = w != zero;
    const Floats wk = w * kk;
    sum = used ? sum + wk * sample : sum;
    std::memcpy(acc + x, &sum, sizeof sum);
    if (kNormalise) {
      Floats total;
      std::memcpy(&total, weightSum + x, sizeof total);
      total = used ? total + wk : total;
      std::memcpy(weightSum + x, &total, sizeof total);
    }
    if (kCountCells) {
      Ints count;
      std::memcpy(&count, usedCells + x, sizeof count);
      count -= used;  // used lanes are -1
      std::memcpy(usedCells + x, &count, sizeof count);
    }
  }
  for (; x < xEnd; ++x) {
    const float w = weights[x + shift];
    if (w == 0.0f) continue;
    const float wk = w * k;
    acc[x] = acc[x] + wk * image[x + shift];
    if (kNormalise) weightSum[x] = weightSum[x] + wk;
    if (kCountCells) ++usedCells[x];
  }
}

// The window of one output row: kernel slices sBegin .. sEnd-1 and kernel
// rows vBegin .. vEnd-1 reach inside the image.
struct RowWindow {
  const float* image;
  const float* weights;
  const float* kernel;
  const MaskedGrid* g;
  std::ptrdiff_t rowStride, sliceStride;
  // Offset in the image of kernel slice 0, row 0; negative where the window
  // is cut, but every row in it is inside.
  std::ptrdiff_t origin;
  int32_t sBegin, sEnd, vBegin, vEnd;

  std::ptrdiff_t sourceRow(int32_t s, int32_t v) const { return origin + s * sliceStride + v * rowStride; }
  const float* kernelRow(int32_t s, int32_t v) const {
    return kernel + static_cast<size_t>(g->kx) * (static_cast<size_t>(v) + static_cast<size_t>(g->ky) * s);
  }
};

// Output voxels lo .. hi-1 of a row, a kernel cell at a time over the row
// (accumulateCell), for the voxels near the row's ends whose window is cut.
template <int kLanes, bool kNormalise, bool kCountCells>
DAXO_LANES_INLINE void convolveCellwise(const RowWindow& w, int32_t lo, int32_t hi, float* acc, float* weightSum,
                                        int32_t* usedCells) {
  const int32_t nx = w.g->nx, hx = w.g->kx / 2;
  for (int32_t s = w.sBegin; s < w.sEnd; ++s)
    for (int32_t v = w.vBegin; v < w.vEnd; ++v) {
      const std::ptrdiff_t row = w.sourceRow(s, v);
      const float* kernelRow = w.kernelRow(s, v);
      for (int32_t u = 0; u < w.g->kx; ++u) {
        const int32_t shift = u - hx;
        const int32_t xBegin = std::max(std::max(0, -shift), lo), xEnd = std::min(std::min(nx, nx - shift), hi);
        accumulateCell<kLanes, kNormalise, kCountCells>(acc, weightSum, usedCells, w.image + row, w.weights + row,
                                                        kernelRow[u], shift, xBegin, xEnd);
      }
    }
}

// Output voxels x0 .. x0 + kBlocks * kLanes - 1 of a row, all of whose window
// cells lie inside the row: each cell of the window is added to all of them
// at once, the sums kept in registers from +0 (kBlocks independent chains of
// additions) and stored at the end, so spans may overlap.
template <int kLanes, int kBlocks, bool kNormalise, bool kCountCells>
DAXO_LANES_INLINE void convolveSpan(const RowWindow& w, int32_t x0, float* acc, float* weightSum, int32_t* usedCells) {
  typedef typename Lanes<kLanes>::Floats Floats;
  typedef typename Lanes<kLanes>::Ints Ints;
  const Floats zero = Floats{};
  Floats sum[kBlocks], total[kBlocks];
  Ints count[kBlocks];
  for (int b = 0; b < kBlocks; ++b) {
    sum[b] = zero;
    total[b] = zero;
    count[b] = Ints{};
  }
  const int32_t first = x0 - w.g->kx / 2;  // sample of kernel column 0
  for (int32_t s = w.sBegin; s < w.sEnd; ++s)
    for (int32_t v = w.vBegin; v < w.vEnd; ++v) {
      const std::ptrdiff_t row = w.sourceRow(s, v) + first;
      const float* image = w.image + row;
      const float* weights = w.weights + row;
      const float* kernelRow = w.kernelRow(s, v);
      for (int32_t u = 0; u < w.g->kx; ++u) {
        const float k = kernelRow[u];
        for (int b = 0; b < kBlocks; ++b) {
          Floats weight, sample;
          std::memcpy(&weight, weights + u + b * kLanes, sizeof weight);
          std::memcpy(&sample, image + u + b * kLanes, sizeof sample);
          const Ints used = weight != zero;
          const Floats wk = weight * k;
          sum[b] = used ? sum[b] + wk * sample : sum[b];
          if (kNormalise) total[b] = used ? total[b] + wk : total[b];
          if (kCountCells) count[b] -= used;  // used lanes are -1
        }
      }
    }
  for (int b = 0; b < kBlocks; ++b) {
    std::memcpy(acc + x0 + b * kLanes, &sum[b], sizeof sum[b]);
    if (kNormalise) std::memcpy(weightSum + x0 + b * kLanes, &total[b], sizeof total[b]);
    if (kCountCells) std::memcpy(usedCells + x0 + b * kLanes, &count[b], sizeof count[b]);
  }
}

// Rows rowBegin .. rowEnd-1 (row index y + ny * z); every row is independent
// of the others. The voxels whose whole window lies inside the row go in
// spans of kBlocks * kLanes (the last span may overlap the one before), the
// rest a cell at a time. Each voxel sums its cells in the same order either
// way. weightSum and usedCells are scratch rows of nx values (each used only
// when its option is on).
template <int kLanes, int kBlocks, bool kNormalise, bool kKeepEmpty>
DAXO_LANES_INLINE void convolveRows(const float* image, const float* weights, const float* kernel, const MaskedGrid& g,
                                    float* out, size_t rowBegin, size_t rowEnd, float* weightSum, int32_t* usedCells) {
  const int32_t hx = g.kx / 2, hy = g.ky / 2, hz = g.kz / 2;
  constexpr int32_t kSpan = kLanes * (kBlocks > 0 ? kBlocks : 1);
  // Voxels inner .. innerEnd-1 have every window cell inside the row.
  const int32_t inner = hx, innerEnd = g.nx - (g.kx - 1 - hx);
  const bool spans = kBlocks > 0 && innerEnd - inner >= kSpan;
  RowWindow window{image, weights, kernel, &g, g.nx, static_cast<std::ptrdiff_t>(g.nx) * g.ny, 0, 0, 0, 0, 0};
  for (size_t row = rowBegin; row < rowEnd; ++row) {
    const int32_t z = static_cast<int32_t>(row / static_cast<size_t>(g.ny));
    const int32_t y = static_cast<int32_t>(row % static_cast<size_t>(g.ny));
    window.sBegin = windowBegin(z, hz);
    window.sEnd = windowEnd(z, hz, g.nz, g.kz);
    window.vBegin = windowBegin(y, hy);
    window.vEnd = windowEnd(y, hy, g.ny, g.ky);
    window.origin = (z - hz) * window.sliceStride + (y - hy) * window.rowStride;
    const size_t rowOffset = static_cast<size_t>(z * window.sliceStride + y * window.rowStride);
    float* acc = out + rowOffset;
    if (kNormalise)
      for (int32_t x = 0; x < g.nx; ++x) weightSum[x] = 0.0f;
    if (kKeepEmpty)
      for (int32_t x = 0; x < g.nx; ++x) usedCells[x] = 0;
    if (spans) {
      convolveCellwise<4, kNormalise, kKeepEmpty>(window, 0, inner, acc, weightSum, usedCells);
      for (int32_t x0 = inner;; x0 += kSpan) {
        const int32_t start = std::min(x0, innerEnd - kSpan);
        convolveSpan<kLanes, kBlocks, kNormalise, kKeepEmpty>(window, start, acc, weightSum, usedCells);
        if (start + kSpan >= innerEnd) break;
      }
      convolveCellwise<4, kNormalise, kKeepEmpty>(window, innerEnd, g.nx, acc, weightSum, usedCells);
    } else {
      convolveCellwise<kLanes, kNormalise, kKeepEmpty>(window, 0, g.nx, acc, weightSum, usedCells);
    }
    if (kNormalise) {
      for (int32_t x = 0; x < g.nx; ++x)
        if (weightSum[x] > 0.0f) acc[x] = acc[x] / weightSum[x];
    }
    if (kKeepEmpty) {
      const float* input = image + rowOffset;
      for (int32_t x = 0; x < g.nx; ++x)
        if (usedCells[x] == 0) acc[x] = input[x];
    }
  }
}

// The arguments of one run of rows.
struct RowJob {
  const float* image;
  const float* weights;
  const float* kernel;
  const MaskedGrid* grid;
  bool normalise, keepEmpty;
  float* out;
  size_t rowBegin, rowEnd;
  float* weightSum;
  int32_t* usedCells;
};

template <int kLanes, int kBlocks>
DAXO_LANES_INLINE void runRows(const RowJob& j) {
  if (j.normalise && j.keepEmpty) {
    convolveRows<kLanes, kBlocks, true, true>(j.image, j.weights, j.kernel, *j.grid, j.out, j.rowBegin, j.rowEnd,
                                              j.weightSum, j.usedCells);
  } else if (j.normalise) {
    convolveRows<kLanes, kBlocks, true, false>(j.image, j.weights, j.kernel, *j.grid, j.out, j.rowBegin, j.rowEnd,
                                               j.weightSum, j.usedCells);
  } else if (j.keepEmpty) {
    convolveRows<kLanes, kBlocks, false, true>(j.image, j.weights, j.kernel, *j.grid, j.out, j.rowBegin, j.rowEnd,
                                               j.weightSum, j.usedCells);
  } else {
    convolveRows<kLanes, kBlocks, false, false>(j.image, j.weights, j.kernel, *j.grid, j.out, j.rowBegin, j.rowEnd,
                                                j.weightSum, j.usedCells);
  }
}

void rows4(const RowJob& j) { runRows<4, 0>(j); }
#if DAXO_WIDE_LANES
__attribute__((target("avx2"))) void rows8(const RowJob& j) { runRows<8, 2>(j); }
__attribute__((target("avx512f"))) void rows16(const RowJob& j) { runRows<16, 2>(j); }
#endif

typedef void (*RowsFunction)(const RowJob&);

struct Width {
  int lanes;
  RowsFunction rows;
};

const std::vector<Width>& availableWidths() {
  static const std::vector<Width> widths = [] {
    std::vector<Width> w;
    for (int lanes : vectorWidths()) {
      if (lanes == 4) w.push_back({4, rows4});
#if DAXO_WIDE_LANES
      if (lanes == 8) w.push_back({8, rows8});
      if (lanes == 16) w.push_back({16, rows16});
#endif
    }
    return w;
  }();
  return widths;
}

// A NaN that meets another NaN in an addition comes out as one of the two,
// which one depending on how the compiler ordered the operands, and the two
// may differ in sign. With finite inputs every NaN that arises is the
// processor's default NaN, so all widths agree bit for bit; with other inputs
// only the 4-lane code, as it always was, is used.
bool allFinite(const float* values, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (!std::isfinite(values[i])) return false;
  return true;
}

RowsFunction rowsFor(int width) {
  const std::vector<Width>& widths = availableWidths();
  if (width == 0) return widths.back().rows;
  for (const Width& w : widths)
    if (w.lanes == width) return w.rows;
  check(false, kModule, 1, "width is one of vectorWidths()");
  return nullptr;
}

}  // namespace

void maskedConvolve(const MaskedConvolution& convolution, float* out, ColumnThreads& threads, int width) {
  const float* image = convolution.image;
  const float* weights = convolution.weights;
  const float* kernel = convolution.kernel;
  const MaskedGrid& grid = convolution.grid;
  const size_t voxels = static_cast<size_t>(grid.nx) * static_cast<size_t>(grid.ny) * static_cast<size_t>(grid.nz);
  const size_t cells = static_cast<size_t>(grid.kx) * static_cast<size_t>(grid.ky) * static_cast<size_t>(grid.kz);
  const bool finite = allFinite(image, voxels) && allFinite(weights, voxels) && allFinite(kernel, cells);
  const RowsFunction rows = rowsFor(finite ? width : 4);
  const size_t nx = static_cast<size_t>(grid.nx);
  // Allocated here: the threads' bodies must not throw.
  std::vector<float> weightSums(nx * static_cast<size_t>(threads.count()));
  std::vector<int32_t> usedCells(nx * static_cast<size_t>(threads.count()));
  threads.run(static_cast<size_t>(grid.ny) * static_cast<size_t>(grid.nz), [&](size_t begin, size_t end, int thread) {
    const RowJob job{image,
                     weights,
                     kernel,
                     &grid,
                     convolution.normalise,
                     convolution.keepEmpty,
                     out,
                     begin,
                     end,
                     weightSums.data() + nx * static_cast<size_t>(thread),
                     usedCells.data() + nx * static_cast<size_t>(thread)};
    rows(job);
  });
}

}  // namespace daxo
