#pragma once

#include <cstddef>
#include <vector>

#include "volume/distancesums.h"

// Per-shift costs of the local search, accumulated voxel by voxel over a box:
// the sums of all shifts are kept side by side, and each shift's sum takes the
// box voxels in list order, so every cost is bit for bit the list measure
// (ssdAt, or the negated nccAt) of the pair that shift's trial left.

namespace daxo {

// Sum of squared differences: each difference in single precision, squared
// and summed in double, as ssdAt.
class SsdCosts {
 public:
  explicit SsdCosts(size_t shifts) : costs_(shifts) {}
  void reset() { costs_.assign(costs_.size(), 0.0); }
  void add(size_t k, float f, float g) { costs_[k] += squaredDifference(f, g); }
  void finish(size_t) {}
  const std::vector<double>& costs() const { return costs_; }

 private:
  std::vector<double> costs_;
};

// Negated correlation: five single-precision sums per shift and the final
// formula in single precision, as nccAt.
class CorrelationCosts {
 public:
  explicit CorrelationCosts(size_t shifts) : sums_(shifts), costs_(shifts) {}
  void reset() { sums_.assign(sums_.size(), CorrelationSums{}); }
  void add(size_t k, float f, float g) { sums_[k].add(f, g); }
  void finish(size_t voxels) {
    const float count = static_cast<float>(voxels);
    for (size_t k = 0; k < sums_.size(); ++k) costs_[k] = -sums_[k].correlation(count);
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
