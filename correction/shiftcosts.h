#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "volume/distancesums.h"
#include "volume/vectorlanes.h"

// Per-shift costs of the local search, accumulated voxel by voxel over a box:
// each shift's sum takes the box voxels in list order, so every cost is bit
// for bit the list measure (ssdAt, or the negated nccAt) of the pair that
// shift's trial left.
//
// Sums are formed either one shift at a time (add) or for kLanes consecutive
// shifts at once in a Block (volume/vectorlanes.h), held in registers while
// a box is walked and stored with storeBlock. Each lane of a block performs
// exactly the scalar operations of its own shift, so both give the same bits.

namespace daxo {

// The most lanes a block has.
constexpr size_t kMaxShiftLanes = 16;

// Shift counts rounded up to whole blocks of `lanes`; the lanes past the
// last shift are summed and never read.
inline size_t paddedShiftCount(size_t shifts, size_t lanes) { return (shifts + lanes - 1) / lanes * lanes; }

// Sum of squared differences: each difference in single precision, squared
// and summed in double, as ssdAt.
class SsdCosts {
 public:
  template <int kLanes>
  struct Block {
    typedef double Pair __attribute__((vector_size(16)));
    Pair sums[kLanes / 2] = {};
    DAXO_LANES_INLINE void add(const typename Lanes<kLanes>::Floats& f, const typename Lanes<kLanes>::Floats& g) {
      const typename Lanes<kLanes>::Floats d = f - g;
      for (int i = 0; i < kLanes / 2; ++i) {
        const Pair p = {static_cast<double>(d[2 * i]), static_cast<double>(d[2 * i + 1])};
        sums[i] += p * p;
      }
    }
  };

  explicit SsdCosts(size_t shifts) : sums_(paddedShiftCount(shifts, kMaxShiftLanes)), costs_(shifts) {}
  void reset() { sums_.assign(sums_.size(), 0.0); }
  void add(size_t k, float f, float g) { sums_[k] += squaredDifference(f, g); }
  // The sums of shifts k0 .. k0 + kLanes - 1 (k0 a multiple of kLanes),
  // replacing what was there.
  template <int kLanes>
  DAXO_LANES_INLINE void storeBlock(size_t k0, const Block<kLanes>& block) {
    for (int i = 0; i < kLanes / 2; ++i) {
      sums_[k0 + 2 * i] = block.sums[i][0];
      sums_[k0 + 2 * i + 1] = block.sums[i][1];
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
  template <int kLanes>
  struct Block {
    typename Lanes<kLanes>::Floats a{}, aa{}, b{}, bb{}, ab{};
    DAXO_LANES_INLINE void add(const typename Lanes<kLanes>::Floats& f, const typename Lanes<kLanes>::Floats& g) {
      a += f;
      aa += f * f;
      b += g;
      bb += g * g;
      ab += f * g;
    }
  };

  explicit CorrelationCosts(size_t shifts) : sums_(paddedShiftCount(shifts, kMaxShiftLanes)), costs_(shifts) {}
  void reset() { sums_.assign(sums_.size(), CorrelationSums{}); }
  void add(size_t k, float f, float g) { sums_[k].add(f, g); }
  // As SsdCosts::storeBlock.
  template <int kLanes>
  DAXO_LANES_INLINE void storeBlock(size_t k0, const Block<kLanes>& block) {
    for (int i = 0; i < kLanes; ++i)
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
