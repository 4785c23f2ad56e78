#pragma once

#include <array>

namespace daxo {

// A 4 x 4 affine transform, row-major, acting on column vectors (i, j, k, 1):
// for images, voxel indices to scanner coordinates in mm.
using Affine = std::array<std::array<double, 4>, 4>;

// The inverse of an affine whose last row is (0, 0, 0, 1). Throws
// std::invalid_argument when its 3 x 3 part is singular.
Affine inverseAffine(const Affine& a);

}  // namespace daxo
