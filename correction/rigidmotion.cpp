#include "correction/rigidmotion.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "correction/registration.h"

namespace daxo {

namespace {

// Sines and cosines of the three rotation angles, single precision.
struct Angles {
  float s0, c0, s1, c1, s2, c2;
};

Angles anglesOf(const Vector& parameters) {
  const float r0 = parameters[0], r1 = parameters[1], r2 = parameters[2];
  return {std::sin(r0), std::cos(r0), std::sin(r1), std::cos(r1), std::sin(r2), std::cos(r2)};
}

int signOf(float v) { return (v > 0.0f) - (v < 0.0f); }

// acos(ratio), negated when the sign of `opposite` (the matrix element that
// carries the angle's sine) differs from the sign of q * sin(angle); 0 when
// the ratio is not below 1 in magnitude (also when it is NaN).
float angleFromCosine(float ratio, float opposite, float q) {
  if (!(std::fabs(ratio) < 1.0f)) return 0.0f;
  const float angle = std::acos(ratio);
  return signOf(opposite) != signOf(q * std::sin(angle)) ? -angle : angle;
}

}  // namespace

void requireMotionParameters(const Vector& parameters) {
  if (parameters.size() != 6)
    throw std::invalid_argument("rigid motion needs 6 parameters (r0, r1, r2, t0, t1, t2), got " +
                                std::to_string(parameters.size()));
}

Matrix4 rigidMatrix(const Vector& parameters) {
  requireMotionParameters(parameters);
  const Angles a = anglesOf(parameters);
  Matrix4 r;
  float* m = r.m;
  m[0] = a.c1 * a.c2;
  m[1] = a.c1 * a.s2;
  m[2] = -a.s1;
  m[4] = a.s0 * a.s1 * a.c2 - a.c0 * a.s2;
  m[5] = a.s0 * a.s1 * a.s2 + a.c0 * a.c2;
  m[6] = a.s0 * a.c1;
  m[8] = a.s0 * a.s2 + a.c0 * a.s1 * a.c2;
  m[9] = a.c0 * a.s1 * a.s2 - a.s0 * a.c2;
  m[10] = a.c0 * a.c1;
  m[3] = parameters[3];
  m[7] = parameters[4];
  m[11] = parameters[5];
  m[15] = 1.0f;
  return r;
}

std::array<Matrix4, 3> rotationDerivatives(const Vector& parameters) {
  requireMotionParameters(parameters);
  const Angles a = anglesOf(parameters);
  std::array<Matrix4, 3> d;
  // d/dr0: Rx only; the first column of R does not depend on r0.
  float* m = d[0].m;
  m[4] = a.c0 * a.s1 * a.c2 + a.s0 * a.s2;
  m[5] = a.c0 * a.s1 * a.s2 - a.s0 * a.c2;
  m[6] = a.c0 * a.c1;
  m[8] = a.c0 * a.s2 - a.s0 * a.s1 * a.c2;
  m[9] = -a.s0 * a.s1 * a.s2 - a.c0 * a.c2;
  m[10] = -a.s0 * a.c1;
  // d/dr1.
  m = d[1].m;
  m[0] = -a.s1 * a.c2;
  m[1] = -a.s1 * a.s2;
  m[2] = -a.c1;
  m[4] = a.s0 * a.c1 * a.c2;
  m[5] = a.s0 * a.c1 * a.s2;
  m[6] = -a.s0 * a.s1;
  m[8] = a.c0 * a.c1 * a.c2;
  m[9] = a.c0 * a.c1 * a.s2;
  m[10] = -a.c0 * a.s1;
  // d/dr2: Rz only; the last row of R does not depend on r2.
  m = d[2].m;
  m[0] = -a.c1 * a.s2;
  m[1] = a.c1 * a.c2;
  m[4] = -a.s0 * a.s1 * a.s2 - a.c0 * a.c2;
  m[5] = a.s0 * a.s1 * a.c2 - a.c0 * a.s2;
  m[8] = a.s0 * a.c2 - a.c0 * a.s1 * a.s2;
  m[9] = a.c0 * a.s1 * a.c2 + a.s0 * a.s2;
  return d;
}

Vector rigidParameters(const Matrix4& matrix) {
  const float* m = matrix.m;
  Vector p(6, 0.0f);
  p[1] = std::asin(-m[2]);
  const float q = std::cos(p[1]);
  p[2] = angleFromCosine(m[0] / q, m[1], q);
  p[0] = angleFromCosine(m[10] / q, m[6], q);
  p[3] = m[3];
  p[4] = m[7];
  p[5] = m[11];
  return p;
}

Vector displayMotion(const Vector& parameters) {
  requireMotionParameters(parameters);
  const float pi = 4.0f * std::atan(1.0f);
  Vector shown(6);
  for (int32_t i = 0; i < 3; ++i) {
    shown[i] = -parameters[3 + i];
    shown[3 + i] = parameters[i] * 180.0f / pi;
  }
  return shown;
}

}  // namespace daxo
