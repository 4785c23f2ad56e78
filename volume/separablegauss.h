#pragma once

#include "volume/volume.h"

namespace daxo {

// Gaussian smoothing of deviation `sigma` voxels along every axis, by direct
// separable convolution in double precision (taps to 3 sigma, normalised,
// the edge voxel repeated past the ends); sigma 0 copies. Needs no FFT.
Volume gaussianSmoothed(const Volume& v, double sigma);

}  // namespace daxo
