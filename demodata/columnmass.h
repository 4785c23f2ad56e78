#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

// The voxel-integrating forward model of one column along the
// phase-encoding axis y (voxel j covers [j - 1/2, j + 1/2]).

namespace daxo {

// out[j * stride] = the mass of density(y) over {y : y + sign * field(y) in
// [j - 1/2, j + 1/2]}, j = 0 .. ny - 1: the signal that the displacement
// field(y) (voxels) moves into voxel j, integrated in steps of 1/8 voxel over
// [-margin - 1/2, ny + margin - 1/2]. Signal moved past either end is lost.
// The positions y + sign * field(y) must increase along y (|field'| < 1).
template <class Density, class Field>
void distortColumnMass(const Density& density, const Field& field, int32_t ny, int32_t margin, double sign, float* out,
                       size_t stride) {
  constexpr int32_t kSub = 8;
  const double h = 1.0 / kSub;
  const int32_t count = (ny + 2 * margin) * kSub + 1;
  std::vector<double> position(static_cast<size_t>(count)), mass(static_cast<size_t>(count));
  double previousDensity = 0.0;
  for (int32_t k = 0; k < count; ++k) {
    const double y = -margin - 0.5 + k * h;
    position[static_cast<size_t>(k)] = y + sign * field(y);
    const double d = density(y);
    mass[static_cast<size_t>(k)] = k == 0 ? 0.0 : mass[static_cast<size_t>(k - 1)] + 0.5 * h * (d + previousDensity);
    previousDensity = d;
  }
  // The mass below the object point that lands at boundary beta.
  const auto massBelow = [&](double beta) {
    const auto it = std::lower_bound(position.begin(), position.end(), beta);
    if (it == position.begin()) return 0.0;
    if (it == position.end()) return mass.back();
    const size_t k = static_cast<size_t>(it - position.begin());
    const double t = (beta - position[k - 1]) / (position[k] - position[k - 1]);
    return mass[k - 1] + t * (mass[k] - mass[k - 1]);
  };
  double lower = massBelow(-0.5);
  for (int32_t j = 0; j < ny; ++j) {
    const double upper = massBelow(j + 0.5);
    out[static_cast<size_t>(j) * stride] = static_cast<float>(upper - lower);
    lower = upper;
  }
}

}  // namespace daxo
