#pragma once

#include "volume/volume.h"

// Folds of a displacement map: a map whose values change by more than one
// voxel between vertically neighbouring voxels (x, y, z), (x, y + 1, z) maps two
// rows onto the same place or swaps their order, so it has no inverse. Maps are
// in voxels along y; a column is the line (x, 0 .. ny-1, z).

namespace daxo {

// Number of neighbouring pairs along y with |v(x, y+1, z) - v(x, y, z)| > 1
// (strict, single precision). NaN values never count.
int countFolds(const Volume& v);

// Removes folds in place, one column at a time (z outer, then x): sweeps the
// column upward, moving each pair that differs by more than 1 by 0.05 toward
// each other (the sum is kept up to rounding), and repeats the sweep until it
// changes nothing. Returns the number of pair adjustments. A pair that is not
// finite, or so large that a step of 0.05 leaves a value unchanged, is left
// alone and not counted, so that every column ends. Allocates nothing.
unsigned int reduceFolds(Volume& v);

}  // namespace daxo
