#pragma once

#include <cmath>

// The sums behind the distance measures (volume/distance.h), shared with the
// per-shift costs of the local search so that both form them alike, bit for
// bit.

namespace daxo {

// (a - b)^2: the difference in single precision, squared in double.
inline double squaredDifference(float a, float b) {
  const double d = static_cast<double>(a - b);
  return d * d;
}

// The five single-precision sums of a correlation, added value pair by value
// pair.
struct CorrelationSums {
  float a = 0.0f, aa = 0.0f, b = 0.0f, bb = 0.0f, ab = 0.0f;

  void add(float va, float vb) {
    a += va;
    aa += va * va;
    b += vb;
    bb += vb * vb;
    ab += va * vb;
  }

  // (N*Sab - Sa*Sb) / (sqrt(N*Saa - Sa^2) * sqrt(N*Sbb - Sb^2)), all in single
  // precision; NaN or an infinity for a constant input.
  double correlation(float count) const {
    const float numerator = count * ab - a * b;
    const float denominator = std::sqrt(count * aa - a * a) * std::sqrt(count * bb - b * b);
    return static_cast<double>(numerator / denominator);
  }
};

}  // namespace daxo
