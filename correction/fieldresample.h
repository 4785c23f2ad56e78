#pragma once

#include "volume/affine.h"
#include "volume/volume.h"

// Carrying a field (Hz, or any smooth quantity) from one image grid to
// another through the scanner coordinates both grids' affines give.

namespace daxo {

// The field `source` (on the grid whose voxel-to-mm affine is
// `sourceAffine`) at the voxel centres of a grid of `extents` with
// `targetAffine`: trilinear, and outside the source grid the value of the
// nearest edge (a field does not end where an image's field of view does).
// Throws std::invalid_argument for a singular source affine.
Volume resampleThroughAffines(const Volume& source, const Affine& sourceAffine, const Dimensions& extents,
                              const Affine& targetAffine);

// Whether two grids are the same: equal extents and affines equal within
// 1e-4 mm.
bool sameGrid(const Dimensions& a, const Affine& aAffine, const Dimensions& b, const Affine& bAffine);

}  // namespace daxo
