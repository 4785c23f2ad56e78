#include "correction/localsweep.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "correction/boxtrials.h"
#include "correction/shiftcosts.h"

namespace daxo {

namespace {

// A voxel takes part in the search when either warped scan is brighter.
constexpr float kSignalThreshold = 100.0f;

void checkSweepArguments(const TrialVolumes& volumes, const SweepResult& result) {
  const Volume& F = volumes.F;
  const Volume& G = volumes.G;
  const Volume& Am = volumes.Am;
  const Volume& Pm = volumes.Pm;
  const Volume& v = volumes.v;
  const Volume& acc = result.acc;
  const Volume& weights = result.weights;
  const Dimensions d = v.dimensions();
  for (const Volume* volume : {&F, &G, &Am, &Pm, &acc, &weights})
    if (volume->dimensions() != d) throw std::invalid_argument("sweepStage: every volume must have the map's extents");
  if (&F == &G || &F == &Am || &F == &Pm || &G == &Am || &G == &Pm)
    throw std::invalid_argument("sweepStage: F and G must be distinct and not the scans they are sampled from");
  if (&acc == &v) throw std::invalid_argument("sweepStage: acc must not be the map the trials start from");
}

// Visits every voxel, z outer, x inner; `search` returns the index of the
// chosen shift for a voxel that F or G, as they stand, show brighter than the
// threshold.
template <typename Search>
size_t sweepVoxels(const Volume& F, const Volume& G, const std::vector<float>& shifts, Volume& acc, Volume& weights,
                   Search search) {
  const Dimensions dims = F.dimensions();
  const float* f = F.data();
  const float* g = G.data();
  float* accumulated = acc.data();
  float* weight = weights.data();
  size_t searched = 0, at = 0;
  for (int32_t z = 0; z < dims.z; ++z)
    for (int32_t y = 0; y < dims.y; ++y)
      for (int32_t x = 0; x < dims.x; ++x, ++at) {
        if (!(f[at] > kSignalThreshold || g[at] > kSignalThreshold)) continue;
        const size_t best = search(Dimensions{x, y, z});
        weight[at] = 1.0f;
        accumulated[at] = accumulated[at] + shifts[best];
        ++searched;
      }
  return searched;
}

// Marks the voxels of the box around `centre` that no earlier centre covered
// as first covered by centre `ordinal` (ordinals only grow, so the smaller
// mark is the earlier one).
void coverBox(const Dimensions& dims, const Dimensions& centre, const Dimensions& box, uint32_t ordinal,
              uint32_t* firstCover) {
  const BoxRange r = clipBox(dims, centre, box);
  const int32_t width = r.x1 - r.x0 + 1;
  for (int32_t z = r.z0; z <= r.z1; ++z)
    for (int32_t y = r.y0; y <= r.y1; ++y) {
      uint32_t* row = firstCover + (static_cast<size_t>(z) * dims.y + y) * dims.x + r.x0;
      for (int32_t i = 0; i < width; ++i) row[i] = std::min(row[i], ordinal);
    }
}

// coverBox for a centre whose left neighbour was the centre before it: only
// the box's last column (when inside the volume) can be first covered here.
void coverColumn(const Dimensions& dims, const Dimensions& centre, const Dimensions& box, uint32_t ordinal,
                 uint32_t* firstCover) {
  const BoxRange r = clipBox(dims, centre, box);
  const int32_t x = centre.x + r.half.x;
  if (x > r.x1) return;
  for (int32_t z = r.z0; z <= r.z1; ++z)
    for (int32_t y = r.y0; y <= r.y1; ++y) {
      uint32_t& mark = firstCover[(static_cast<size_t>(z) * dims.y + y) * dims.x + x];
      mark = std::min(mark, ordinal);
    }
}

// The sweep with a box of one value, in two passes.
//
// Which voxels are searched depends on the order: a voxel is searched when F
// or G, as the trials before it left them, exceed the threshold, and a trial
// reads, at box voxels where not every shift samples, what earlier trials
// left. With a box of one value both depend only on whether an earlier
// searched centre's box covered the voxel (UniformLeftovers). So the first,
// serial pass walks the voxels in sweep order, z outer, x inner, deciding
// each voxel from its start value or its leftover value as the covers so far
// say, and records the searched centres and, per voxel, the first centre that
// covers it; that takes a comparison per box voxel instead of a trial per
// shift. The second pass runs the trials of the searched centres, split in
// contiguous runs across the threads: centre n reads a box voxel's leftover
// value exactly when its first cover is below n, which is what the serial
// sweep would have left there, sums the costs in the same order, and so
// picks the same shift, whatever the number of threads. F and G end as the
// serial sweep leaves them: the leftover value where covered.
template <typename Costs>
size_t sweepUniform(const TrialVolumes& volumes, const Volume& box, const std::vector<float>& shifts, Volume& acc,
                    Volume& weights, ColumnThreads& threads) {
  const Dimensions dims = volumes.v.dimensions();
  const size_t voxelCount = volumes.v.voxelCount();
  UniformLeftovers leftovers;
  computeLeftovers(volumes, box.data()[0], shifts, threads, leftovers);
  leftovers.firstCover.assign(voxelCount, UniformLeftovers::kNever);

  std::vector<size_t> centres;
  {
    const float* F = volumes.F.data();
    const float* G = volumes.G.data();
    const float* leftF = leftovers.leftF.data();
    const float* leftG = leftovers.leftG.data();
    uint32_t* firstCover = leftovers.firstCover.data();
    size_t at = 0;
    for (int32_t z = 0; z < dims.z; ++z)
      for (int32_t y = 0; y < dims.y; ++y)
        for (int32_t x = 0; x < dims.x; ++x, ++at) {
          const bool covered = firstCover[at] != UniformLeftovers::kNever;
          const float f = covered ? leftF[at] : F[at], g = covered ? leftG[at] : G[at];
          if (!(f > kSignalThreshold || g > kSignalThreshold)) continue;
          const uint32_t ordinal = static_cast<uint32_t>(centres.size());
          // Right after the voxel to its left, every voxel of this box but
          // its last column already has that centre's smaller mark.
          const bool followsLeft = x > 0 && !centres.empty() && centres.back() == at - 1;
          if (followsLeft) {
            coverColumn(dims, Dimensions{x, y, z}, box.dimensions(), ordinal, firstCover);
          } else {
            coverBox(dims, Dimensions{x, y, z}, box.dimensions(), ordinal, firstCover);
          }
          centres.push_back(at);
        }
  }

  // Allocated here: the threads' bodies must not throw.
  std::vector<UniformBoxTrials> trials;
  std::vector<Costs> costs;
  for (int t = 0; t < threads.count(); ++t) {
    trials.emplace_back(volumes, box, shifts, leftovers);
    costs.emplace_back(shifts.size());
  }
  float* accumulated = acc.data();
  float* weight = weights.data();
  const size_t plane = static_cast<size_t>(dims.x) * dims.y;
  threads.run(centres.size(), [&](size_t begin, size_t end, int thread) {
    for (size_t n = begin; n < end; ++n) {
      const size_t at = centres[n];
      const Dimensions centre{static_cast<int32_t>(at % dims.x), static_cast<int32_t>(at % plane / dims.x),
                              static_cast<int32_t>(at / plane)};
      trials[thread].run(centre, static_cast<uint32_t>(n), costs[thread]);
      const size_t best = firstSmallest(costs[thread].costs());
      weight[at] = 1.0f;
      accumulated[at] = accumulated[at] + shifts[best];
    }
  });

  float* F = volumes.F.data();
  float* G = volumes.G.data();
  for (size_t i = 0; i < voxelCount; ++i)
    if (leftovers.firstCover[i] != UniformLeftovers::kNever) {
      F[i] = leftovers.leftF[i];
      G[i] = leftovers.leftG[i];
    }
  return centres.size();
}

// A box of varying values: serial (a voxel's leftover value depends on which
// centre's box last covered it).
template <typename Costs>
size_t sweepListed(const TrialVolumes& volumes, const Volume& box, const std::vector<float>& shifts, Volume& acc,
                   Volume& weights) {
  Costs costs(shifts.size());
  ListedBoxTrials trials(volumes, box, shifts);
  // Reused for every voxel: cleared, their capacity kept.
  VoxelList voxels, boxVoxels;
  voxels.reserve(box.voxelCount());
  boxVoxels.reserve(box.voxelCount());
  const Dimensions dims = volumes.v.dimensions();
  return sweepVoxels(volumes.F, volumes.G, shifts, acc, weights, [&](const Dimensions& centre) {
    buildBoxLists(dims, centre, box.dimensions(), voxels, boxVoxels);
    trials.run(voxels, boxVoxels, costs);
    return firstSmallest(costs.costs());
  });
}

template <typename Costs>
size_t sweepWith(const TrialVolumes& volumes, const Volume& box, const std::vector<float>& shifts, Volume& acc,
                 Volume& weights, ColumnThreads& threads) {
  // Ordinals of searched centres are 32-bit, below kNever.
  const bool ordinalsFit = volumes.v.voxelCount() < UniformLeftovers::kNever;
  if (isUniformBox(box) && shifts.size() <= UniformBoxTrials::kMaxShifts && ordinalsFit)
    return sweepUniform<Costs>(volumes, box, shifts, acc, weights, threads);
  return sweepListed<Costs>(volumes, box, shifts, acc, weights);
}

}  // namespace

void buildBoxLists(const Dimensions& volume, const Dimensions& centre, const Dimensions& box, VoxelList& voxels,
                   VoxelList& boxVoxels) {
  const BoxRange r = clipBox(volume, centre, box);
  voxels.clear();
  boxVoxels.clear();
  for (int32_t z = r.z0; z <= r.z1; ++z)
    for (int32_t y = r.y0; y <= r.y1; ++y)
      for (int32_t x = r.x0; x <= r.x1; ++x) {
        voxels.push_back({x, y, z});
        boxVoxels.push_back({x - centre.x + r.half.x, y - centre.y + r.half.y, z - centre.z + r.half.z});
      }
}

size_t sweepStage(const TrialVolumes& volumes, const SweepStage& stage, const SweepResult& result,
                  ColumnThreads* threads) {
  checkSweepArguments(volumes, result);
  if (stage.shifts.empty()) return 0;
  ColumnThreads single(1);
  ColumnThreads& pool = threads != nullptr ? *threads : single;
  return stage.useSsd ? sweepWith<SsdCosts>(volumes, stage.box, stage.shifts, result.acc, result.weights, pool)
                      : sweepWith<CorrelationCosts>(volumes, stage.box, stage.shifts, result.acc, result.weights, pool);
}

}  // namespace daxo
