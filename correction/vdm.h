#pragma once

#include <vector>

#include "volume/columnthreads.h"
#include "volume/volume.h"

// Applying a voxel displacement map (VDM). A map holds, per voxel, a
// displacement in voxels along y (the phase-encoding axis). Applying it builds
// dst(x, y, z) = src sampled at (x, y + d, z) with d = +v(x, y, z), or
// d = -v(x, y, z) when `negate` is set (the scan of the opposite direction).
// The source counts as 0 outside its extents.
//
// Every warp checks, before writing anything, that dst and the map have src's
// dimensions and that dst is not src (module "vdm"). dst may be the map
// itself: each voxel reads its own displacement before it is written.

namespace daxo {

// Every voxel of dst by cubic B-spline interpolation of src (coefficients with
// zeros outside the volume). The coefficients and the slices are spread over
// `threads` (null: the calling thread only); the result does not depend on it.
void warpCubic(Volume& dst, const Volume& src, const Volume& vdm, bool negate, ColumnThreads* threads = nullptr);

// Every voxel of dst by trilinear interpolation (sampleTrilinear) of src.
void warpTrilinear(Volume& dst, const Volume& src, const Volume& vdm, bool negate);

// Only the listed voxels of dst, by linear interpolation along y, with a trial
// shift added inside a box: for the k-th voxel p of `voxels` and the k-th voxel
// b of `boxVoxels`, d = sign * (v(p) + scale * box(b)). A voxel whose displaced
// position y + d does not lie strictly inside (0, ny - 1) keeps its value, as
// do all unlisted voxels. The lists must be of equal length, every voxel inside
// the volumes and every box voxel inside the box (not checked). Allocates
// nothing.
void warpLinearY(Volume& dst, const Volume& src, const Volume& vdm, const VoxelList& voxels, const Volume& box,
                 const VoxelList& boxVoxels, float scale, bool negate);

// Corrects one project volume with the project's own map (cubic, d = +v). When
// `transposed` is set the phase-encoding axis of src is x: the map is expected
// in the transposed frame (extents (ny, nx, nz) of src) and the result is
// transposed back, so it always has src's extents. A map of other extents
// fails the first check of warpCubic.
// The warp is spread over `threads` as warpCubic's.
Volume correctVolume(const Volume& vdm, const Volume& src, bool transposed, ColumnThreads* threads = nullptr);

// Replaces every volume by correctVolume(vdm, volume, transposed), bit for bit
// the same, but allocates the spline coefficients and working volumes once
// for all volumes rather than once per volume (fresh memory costs a page
// fault per page). Stops at the first volume that fails the checks; the
// volumes before it are then already corrected. Each volume's correction is
// spread over `threads` (null: the calling thread only), with the same
// result for any number of threads.
void correctVolumes(const Volume& vdm, std::vector<Volume>& volumes, bool transposed, ColumnThreads* threads = nullptr);

}  // namespace daxo
