#include "correction/columnfit.h"

#include <limits>

#include "volume/distance.h"

namespace daxo {

void invert2x2(float p, float q, float r, float s, float inverse[4]) {
  const float factor = 1.0f / (s * p - r * q);
  inverse[0] = factor * s;
  inverse[1] = factor * -q;
  inverse[2] = factor * -r;
  inverse[3] = factor * p;
}

ColumnFit::ColumnFit(int32_t ny) : ramp_(centredRamp(ny)), o_(ny), m_(ny), ga_(ny), fa_(ny), k0_(ny), k1_(ny), e_(ny) {}

void ColumnFit::samplingPositions(float a, float b) {
  const int32_t ny = ramp_.size();
  const float inverse = 1.0f / a;
  const float negB = -b;
  for (int32_t i = 0; i < ny; ++i) {
    o_[i] = b + a * ramp_[i];
    m_[i] = negB + inverse * ramp_[i];
  }
}

double ColumnFit::cost(const Vector& g, const Vector& f, float a) {
  const int32_t ny = ramp_.size();
  const float half = 0.5f * static_cast<float>(ny);
  const float inverse = 1.0f / a;
  for (int32_t i = 0; i < ny; ++i) {
    ga_[i] = a * sampleLinear(g.data(), ny, o_[i] + half);
    fa_[i] = inverse * sampleLinear(f.data(), ny, m_[i] + half);
  }
  return meanSquaredDifferenceNonZero(ga_, fa_);
}

void ColumnFit::step(const Vector& dg, const Vector& df, float a, float& t0, float& t1) {
  const int32_t ny = ramp_.size();
  if (ny == 0) {
    t0 = t1 = 0.0f;
    return;
  }
  const float half = 0.5f * static_cast<float>(ny);
  const float inverse = 1.0f / a;
  const float negInverse = -1.0f / a;
  const float negInverseSquare = -1.0f / (a * a);
  for (int32_t i = 0; i < ny; ++i) {
    const float ra = sampleLinear(dg.data(), ny, o_[i] + half);
    const float rb = sampleLinear(df.data(), ny, m_[i] + half);
    k0_[i] = (a * ra - inverse * rb * negInverseSquare) * ramp_[i];
    k1_[i] = a * ra - negInverse * rb;
    e_[i] = ga_[i] - fa_[i];
  }
  // K^T K, each element summed in increasing row order from the first term.
  float n00 = k0_[0] * k0_[0], n01 = k0_[0] * k1_[0], n11 = k1_[0] * k1_[0];
  for (int32_t i = 1; i < ny; ++i) {
    n00 += k0_[i] * k0_[i];
    n01 += k0_[i] * k1_[i];
    n11 += k1_[i] * k1_[i];
  }
  float inverseNormal[4];
  invert2x2(n00, n01, n01, n11, inverseNormal);
  const float c00 = -inverseNormal[0], c10 = -inverseNormal[1], c01 = -inverseNormal[2], c11 = -inverseNormal[3];
  // Row i of ((-(K^T K)^-1) K^T) is c(i, 0) k0 + c(i, 1) k1; its product with
  // e is summed in increasing row order from the first term.
  t0 = (c00 * k0_[0] + c01 * k1_[0]) * e_[0];
  t1 = (c10 * k0_[0] + c11 * k1_[0]) * e_[0];
  for (int32_t i = 1; i < ny; ++i) {
    t0 += (c00 * k0_[i] + c01 * k1_[i]) * e_[i];
    t1 += (c10 * k0_[i] + c11 * k1_[i]) * e_[i];
  }
}

void ColumnFit::fit(const Vector& g, const Vector& f, const Vector& dg, const Vector& df, float& a, float& b) {
  float u0 = a, u1 = b;
  float t0 = 0.0f, t1 = 0.0f;
  double best = std::numeric_limits<double>::max();
  double last = best;
  for (int repetition = 0; repetition < kRepetitions; ++repetition) {
    samplingPositions(u0, u1);
    last = cost(g, f, u0);
    // Relative improvement below 0.01 per cent, or a rise. NaN compares
    // false and never stops.
    if ((last - best) * 100.0 / best > -0.01) break;
    best = last;
    step(dg, df, u0, t0, t1);
    u0 = u0 + t0;
    u1 = u1 + t1;
  }
  if (last > best) {
    u0 = u0 - t0;
    u1 = u1 - t1;
  }
  a = u0;
  b = u1;
}

void ColumnFit::displacement(float a, float b, Vector& out) {
  samplingPositions(a, b);
  for (int32_t i = 0; i < ramp_.size(); ++i) out[i] = (o_[i] - m_[i]) / 2.0f;
}

}  // namespace daxo
