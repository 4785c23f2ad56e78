#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

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
  void add(size_t k, float f, float g) {
    const double d = static_cast<double>(f - g);
    costs_[k] += d * d;
  }
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
  void reset() { sums_.assign(sums_.size(), Sums{}); }
  void add(size_t k, float f, float g) {
    Sums& s = sums_[k];
    s.a += f;
    s.aa += f * f;
    s.b += g;
    s.bb += g * g;
    s.ab += f * g;
  }
  void finish(size_t voxels) {
    const float count = static_cast<float>(voxels);
    for (size_t k = 0; k < sums_.size(); ++k) {
      const Sums& s = sums_[k];
      const float numerator = count * s.ab - s.a * s.b;
      const float denominator = std::sqrt(count * s.aa - s.a * s.a) * std::sqrt(count * s.bb - s.b * s.b);
      costs_[k] = -static_cast<double>(numerator / denominator);
    }
  }
  const std::vector<double>& costs() const { return costs_; }

 private:
  struct Sums {
    float a = 0.0f, aa = 0.0f, b = 0.0f, bb = 0.0f, ab = 0.0f;
  };
  std::vector<Sums> sums_;
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
