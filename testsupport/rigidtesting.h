#pragma once

#include <algorithm>
#include <cmath>

#include "correction/registration.h"
#include "correction/rigidmotion.h"

// Rigid motions for the registration's tests and benchmark.

namespace daxo::testing {

// The motion parameters (r0, r1, r2, t0, t1, t2): radians and mm.
inline Vector parametersOf(float r0, float r1, float r2, float t0, float t1, float t2) {
  Vector p(6);
  const float values[6] = {r0, r1, r2, t0, t1, t2};
  for (int i = 0; i < 6; ++i) p[i] = values[i];
  return p;
}

// Largest distance (mm) between a corner of the field of view `extent`
// (centred) and its image under the map p -> second(first(p)): 0 when
// `first` undoes `second`.
inline float largestCornerShift(const Float3& extent, const Vector& first, const Vector& second) {
  const Matrix4 a = rigidMatrix(first), b = rigidMatrix(second);
  float worst = 0.0f;
  for (int k = 0; k < 8; ++k) {
    const Float3 p{(k & 1 ? 0.5f : -0.5f) * extent.x, (k & 2 ? 0.5f : -0.5f) * extent.y,
                   (k & 4 ? 0.5f : -0.5f) * extent.z};
    const Float3 q = rigidMap(b, rigidMap(a, p));
    worst = std::max(worst, std::hypot(q.x - p.x, q.y - p.y, q.z - p.z));
  }
  return worst;
}

}  // namespace daxo::testing
