#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "correction/localsweep.h"
#include "volume/columnthreads.h"
#include "volume/volume.h"

// The trials of the local search over the box around one voxel (see
// correction/localsweep.h). A trial of shift s rewrites, for every box voxel
// p = (x, y, z) with box value c, F(p) = Am sampled at y + (v(p) + s c) and
// G(p) = Pm sampled at y - (v(p) + s c), linearly along y, where the position
// lies strictly inside (0, ny - 1) (elsewhere the voxel keeps its value), as
// warpLinearY does; the trial's cost is the list measure of F and G over the
// box voxels in order z, y, x (correction/shiftcosts.h).
//
// Both implementations run the trials voxel by voxel rather than shift by
// shift: for each box voxel the shifts are taken in list order, the voxel's F
// and G values carried from trial to trial, so each trial sees what the
// earlier ones left, and the values of the last trial that wrote them are
// stored once. Each shift's cost sums the box voxels in list order, so costs
// and stored values are those of the shift-by-shift order, bit for bit.

namespace daxo {

// The box of extents `box` (odd) around `centre`, clipped to a volume of
// extents `volume`: the inclusive ranges x0 .. x1, y0 .. y1, z0 .. z1, and the
// box's half extents (box coordinate = position - centre + half).
struct BoxRange {
  int32_t x0, x1, y0, y1, z0, z1;
  Dimensions half;
};
BoxRange clipBox(const Dimensions& volume, const Dimensions& centre, const Dimensions& box);

// Trials for any box, from the two voxel lists of buildBoxLists. The shift
// list must not be empty.
class ListedBoxTrials {
 public:
  ListedBoxTrials(const TrialVolumes& volumes, const Volume& box, const std::vector<float>& shifts);

  // Runs every shift over the listed voxels into `costs` (SsdCosts or
  // CorrelationCosts), which is reset first and finished with the list length.
  template <typename Costs>
  void run(const VoxelList& voxels, const VoxelList& boxVoxels, Costs& costs);

 private:
  TrialVolumes volumes_;
  const Volume& box_;
  const std::vector<float>& shifts_;
};

// What the trials of a box of one value leave behind. The sample of a voxel
// under a shift then does not depend on the centre whose box it is tried in,
// so every trial that reaches voxel p leaves the same value there: the sample
// of the last shift whose position lies inside, or the value p held before
// when there is none. Since that earlier value is itself either the stage's
// start or what an earlier trial left, p holds its start value until the
// first searched centre's box covers it and `leftF[p]` / `leftG[p]` ever
// after.
struct UniformLeftovers {
  std::vector<float> leftF, leftG;
  // Per voxel, the ordinal (0, 1, .. in sweep order) of the first searched
  // centre whose box covers it; kNever when none does.
  std::vector<uint32_t> firstCover;
  static constexpr uint32_t kNever = ~0u;
};

// Fills leftF and leftG for every voxel from F, G (the stage's start), Am,
// Pm and v, slice by slice across `threads`. boxValue is the box's value.
void computeLeftovers(const TrialVolumes& volumes, float boxValue, const std::vector<float>& shifts,
                      ColumnThreads& threads, UniformLeftovers& leftovers);

// Trials for a box whose voxels all hold the same value. The samples of every
// shift are computed once per stage, slice by slice, into a table that holds
// the slices a box around the current centre reaches (box.z slices); the
// centres given to one object must come in ascending z. The trials read F and
// G without writing them: a box voxel starts from leftF / leftG when a centre
// before this one covered it and from F / G otherwise (UniformLeftovers), so
// the centres can be tried in any order and on any thread once firstCover is
// known. Works for 1 to kMaxShifts shifts. The table takes
// box.z * nx * ny * (2 + 2 * lanes) * 4 bytes, lanes being the shift count
// rounded up to a multiple of the width (9 MB for 96 x 96 slices, a 7-voxel
// box, 11 shifts and 16 lanes).
class UniformBoxTrials {
 public:
  static constexpr size_t kMaxShifts = 32;

  // `width`: the lanes of floats the costs are summed in, one of
  // vectorWidths() (volume/vectorlanes.h; every width gives the same bits);
  // 0 takes the widest. Throws std::invalid_argument for another.
  UniformBoxTrials(const TrialVolumes& volumes, const Volume& box, const std::vector<float>& shifts,
                   const UniformLeftovers& leftovers, int width = 0);

  // Runs every shift over the box around `centre`, the searched centre of
  // ordinal `ordinal`, into `costs`.
  template <typename Costs>
  void run(const Dimensions& centre, uint32_t ordinal, Costs& costs);

 private:
  // Fills the table up to the last slice the box around slice z reaches,
  // starting, on the first call, with the first slice it reaches.
  void prepareSlices(int32_t z);
  void computeSlice(int32_t z);

  TrialVolumes volumes_;
  const UniformLeftovers& leftovers_;
  Dimensions boxDims_;
  float boxValue_;
  const std::vector<float>& shifts_;
  int32_t slots_;
  int width_;
  size_t lanes_;  // the shift count rounded up to whole blocks of width_
  int32_t nextSlice_ = -1;
  // Per table voxel: how many shifts, from the first, have their F (G)
  // position outside (lanes_ when all do), interleaved F, G; and the values
  // the voxel takes under every shift, the last inside sample carried on:
  // lanes_ values of F, then lanes_ of G.
  std::vector<int32_t> leading_;
  std::vector<float> samples_;
};

// True when every voxel of the box holds the same value, bit for bit (not NaN).
bool isUniformBox(const Volume& box);

}  // namespace daxo
