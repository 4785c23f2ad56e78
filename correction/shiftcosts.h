#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "volume/distancesums.h"

// Per-shift costs of the local search, accumulated voxel by voxel over a box:
// each shift's sum takes the box voxels in list order, so every cost is bit
// for bit the list measure (ssdAt, or the negated nccAt) of the pair that
// shift's trial left.
//
// Sums are formed either one shift at a time (add) or for kShiftLanes
// consecutive shifts at once in a Block, held in vector registers while a
// box is walked and stored with storeBlock. Each lane of a block performs
// exactly the scalar operations of its own shift, so both give the same bits.

namespace daxo {

constexpr size_t kShiftLanes = 4;

// Shift counts rounded up to whole blocks; the lanes past the last shift are
// summed and never read.
inline size_t paddedShiftCount(size_t shifts) { return (shifts + kShiftLanes - 1) / kShiftLanes * kShiftLanes; }

namespace shiftlanes {
typedef float Floats __attribute__((vector_size(4 * kShiftLanes)));
typedef int32_t Ints __attribute__((vector_size(4 * kShiftLanes)));
typedef double Doubles __attribute__((vector_size(16)));  // two lanes
}  // namespace shiftlanes

// Sum of squared differences: each difference in single precision, squared
// and summed in double, as ssdAt.
class SsdCosts {
 public:
  struct Block {
    shiftlanes::Doubles low{0.0, 0.0}, high{0.0, 0.0};
    void add(shiftlanes::Floats f, shiftlanes::Floats g) {
      const shiftlanes::Floats d = f - g;
      const shiftlanes::Doubles dLow = {static_cast<double>(d[0]), static_cast<double>(d[1])};
      const shiftlanes::Doubles dHigh = {static_cast<double>(d[2]), static_cast<double>(d[3])};
      low += dLow * dLow;
      high += dHigh * dHigh;
    }
  };

  explicit SsdCosts(size_t shifts) : sums_(paddedShiftCount(shifts)), costs_(shifts) {}
  void reset() { sums_.assign(sums_.size(), 0.0); }
  void add(size_t k, float f, float g) { sums_[k] += squaredDifference(f, g); }
  // The sums of shifts k0 .. k0 + kShiftLanes - 1 (k0 a multiple of
  // kShiftLanes), replacing what was there.
  void storeBlock(size_t k0, const Block& block) {
    for (size_t i = 0; i < 2; ++i) {
      sums_[k0 + i] = block.low[i];
      sums_[k0 + 2 + i] = block.high[i];
    }
  }
  void finish(size_t) { costs_.assign(sums_.begin(), sums_.begin() + static_cast<std::ptrdiff_t>(costs_.size())); }
  const std::vector<double>& costs() const { return costs_; }

 private:
  std::vector<double> sums_;
  std::vector<double> costs_;
};

// Negated correlation: five single-precision sums per shift and the final
// formula in single precision, as nccAt.
class CorrelationCosts {
 public:
  struct Block {
    shiftlanes::Floats a{}, aa{}, b{}, bb{}, ab{};
    void add(shiftlanes::Floats f, shiftlanes::Floats g) {
      a += f;
      aa += f * f;
      b += g;
      bb += g * g;
      ab += f * g;
    }
  };

  explicit CorrelationCosts(size_t shifts) : sums_(paddedShiftCount(shifts)), costs_(shifts) {}
  void reset() { sums_.assign(sums_.size(), CorrelationSums{}); }
  void add(size_t k, float f, float g) { sums_[k].add(f, g); }
  // As SsdCosts::storeBlock.
  void storeBlock(size_t k0, const Block& block) {
    for (size_t i = 0; i < kShiftLanes; ++i)
      sums_[k0 + i] = CorrelationSums{block.a[i], block.aa[i], block.b[i], block.bb[i], block.ab[i]};
  }
  void finish(size_t voxels) {
    const float count = static_cast<float>(voxels);
    for (size_t k = 0; k < costs_.size(); ++k) costs_[k] = -sums_[k].correlation(count);
  }
  const std::vector<double>& costs() const { return costs_; }

 private:
  std::vector<CorrelationSums> sums_;
  std::vector<double> costs_;
};

// Index of the first smallest cost: a later cost replaces the best only when
// strictly smaller, so equal costs keep the earliest shift and a NaN never
// replaces anything (nor is it replaced when it comes first).
inline size_t firstSmallest(const std::vector<double>& costs) {
  size_t best = 0;
  for (size_t k = 1; k < costs.size(); ++k)
    if (costs[k] < costs[best]) best = k;
  return best;
}

}  // namespace daxo
