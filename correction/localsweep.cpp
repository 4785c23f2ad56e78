#include "correction/localsweep.h"

#include <stdexcept>

#include "correction/boxtrials.h"
#include "correction/shiftcosts.h"

namespace daxo {

namespace {

// A voxel takes part in the search when either warped scan is brighter.
constexpr float kSignalThreshold = 100.0f;

void checkSweepArguments(const Volume& F, const Volume& G, const Volume& Am, const Volume& Pm, const Volume& v,
                         const Volume& acc, const Volume& weights) {
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

template <typename Costs>
size_t sweepWith(const TrialVolumes& volumes, const Volume& box, const std::vector<float>& shifts, Volume& acc,
                 Volume& weights) {
  Costs costs(shifts.size());
  if (isUniformBox(box) && shifts.size() <= UniformBoxTrials::kMaxShifts) {
    UniformBoxTrials trials(volumes, box, shifts);
    return sweepVoxels(volumes.F, volumes.G, shifts, acc, weights, [&](const Dimensions& centre) {
      trials.run(centre, costs);
      return firstSmallest(costs.costs());
    });
  }
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

size_t sweepStage(Volume& F, Volume& G, const Volume& Am, const Volume& Pm, const Volume& v, const Volume& box,
                  const std::vector<float>& shifts, bool useSsd, Volume& acc, Volume& weights) {
  checkSweepArguments(F, G, Am, Pm, v, acc, weights);
  if (shifts.empty()) return 0;
  const TrialVolumes volumes{F, G, Am, Pm, v};
  return useSsd ? sweepWith<SsdCosts>(volumes, box, shifts, acc, weights)
                : sweepWith<CorrelationCosts>(volumes, box, shifts, acc, weights);
}

}  // namespace daxo
