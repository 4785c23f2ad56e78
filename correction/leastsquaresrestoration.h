#pragma once

#include "volume/columnthreads.h"
#include "volume/volume.h"

// Least-squares restoration of one undistorted volume from two volumes of
// opposite phase-encoding polarity and the same contrast (the same diffusion
// gradient): where the field compresses signal into few voxels of one scan,
// the other scan stretches it over many, and the restoration takes each
// detail from the scan that resolved it.
//
// y is the phase-encoding axis; displacements are in voxels along y.

namespace daxo {

struct RestorationSettings {
  // Weight of the first differences of the restored column along y, relative
  // to the data (whose weight is 1 per voxel of each scan). It matters only
  // where both scans compress the same voxel and the data leave the column
  // undetermined.
  double smoothness = 0.01;
};

// The undistorted volume rho whose distortions by +map (as `first` shows it:
// the point of row y at row y + map) and by -map (`second`) best match the
// two scans: per column along y, rho minimises
//   |W+ rho - first|^2 + |W- rho - second|^2 + smoothness |D rho|^2,
// W+- the voxel-integrating distortion (each voxel of the undistorted column
// is spread evenly over the extent its two faces move to, the faces moved by
// the mean of the map at the voxels beside them, and each observed voxel
// collects what falls into it), D the first differences. Signal moved past
// the ends of the column is lost, as in the scans. Solved per column by a
// banded Cholesky factorisation, spread over `threads` (null: the calling
// thread); the result is the same for any number of threads, and swapping
// the scans and negating the map gives the same volume bit for bit. The three
// volumes share their extents (std::invalid_argument otherwise); |dmap/dy|
// must stay below 1 (a folding map is refused the same way).
Volume restoreLeastSquares(const Volume& first, const Volume& second, const Volume& map,
                           const RestorationSettings& settings = {}, ColumnThreads* threads = nullptr);

}  // namespace daxo
