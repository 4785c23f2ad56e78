#pragma once

#include <cstddef>
#include <vector>

#include "volume/columnthreads.h"
#include "volume/volume.h"

// The local search of one stage of the displacement-map estimation: every
// bright voxel tries a list of shifts of the map inside a box around it and
// keeps the one that makes the two warped scans agree best. Maps and shifts
// are in voxels along y (the phase-encoding axis).

namespace daxo {

// The voxels of the box of extents `box` centred on `centre`, clipped to a
// volume of extents `volume`, z outermost, then y, then x: `voxels` receives
// the volume positions, `boxVoxels` the matching box coordinates
// (position - centre + box / 2). Both lists are cleared first and keep their
// capacity. Box extents are expected odd, so the coordinates stay inside the
// box.
void buildBoxLists(const Dimensions& volume, const Dimensions& centre, const Dimensions& box, VoxelList& voxels,
                   VoxelList& boxVoxels);

// The volumes of one stage: the scans Am and Pm, their warped copies F and G
// (written; distinct, and neither is Am or Pm) and the map v the trials
// start from. All have v's extents.
struct TrialVolumes {
  Volume& F;
  Volume& G;
  const Volume& Am;
  const Volume& Pm;
  const Volume& v;
};

// One stage's search: the box whose values scale a trial shift (odd
// extents), the shifts in voxels in the order they are tried, and the cost.
struct SweepStage {
  const Volume& box;
  const std::vector<float>& shifts;
  bool useSsd;  // the mean squared difference, else the correlation
};

// What a stage leaves: acc, the map plus each searched voxel's chosen shift
// (not v itself), and the smoothing weight of each voxel, set to 1 where it
// was searched. Both have v's extents.
struct SweepResult {
  Volume& acc;
  Volume& weights;
};

// Sweeps every voxel (z outer, x inner) whose F or G value, as it stands at
// that moment, exceeds 100. For such a voxel each shift s is tried in list
// order: F and G are rewritten over the box with warpLinearY from Am (+map)
// and Pm (-map), the map being v plus s times the box value, and the cost is
// ssdAt (useSsd) or -nccAt of F and G over the box. The first shift of the
// smallest cost is added to acc at the voxel, whose weight becomes 1. F and G
// keep the values of the last trials (they are not restored), and later
// voxels read them. v is not changed, so every trial starts from the map of
// the stage's start. An empty shift list tries nothing and changes nothing.
// Volumes of other extents than v's, F or G not distinct or one of Am and
// Pm, and acc being v are refused with std::invalid_argument. Returns the
// number of voxels searched.
//
// The results are those of running, per voxel and shift, warpLinearY on F and
// G and then ssdAt or nccAt, bit for bit; the work is organised differently
// (correction/boxtrials.h): a box of one value, as the standard schedule uses,
// takes its samples from a per-slice table computed once per stage, and its
// trials are spread over `threads` (null: the calling thread only) with the
// same results for any number of threads (correction/localsweep.cpp says
// why). Other boxes are swept on the calling thread.
size_t sweepStage(const TrialVolumes& volumes, const SweepStage& stage, const SweepResult& result,
                  ColumnThreads* threads = nullptr);

}  // namespace daxo
