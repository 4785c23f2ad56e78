// Timing of the displacement-map warps at the sizes the workflows use: the
// cubic warp corrects every volume of a 128 x 128 x 64 project, the boxed
// linear warp is the inner loop of the map estimation (7 x 7 x 7 box).

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "correction/bspline.h"
#include "correction/vdm.h"

namespace daxo {
namespace {

Volume smoothVolume(const Dimensions& d, float scale) {
  Volume v(d);
  for (int z = 0; z < d.z; ++z)
    for (int y = 0; y < d.y; ++y)
      for (int x = 0; x < d.x; ++x)
        v(x, y, z) = scale * (1.0f + std::sin(0.11f * x + 0.07f * y) * std::cos(0.05f * y - 0.13f * z));
  return v;
}

const Dimensions kProject{128, 128, 64};

void BM_WarpCubic(benchmark::State& state) {
  const Volume src = smoothVolume(kProject, 500.0f);
  const Volume vdm = smoothVolume(kProject, 2.0f);
  Volume dst(kProject);
  for (auto _ : state) {
    warpCubic(dst, src, vdm, false);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(src.voxelCount()));
}
BENCHMARK(BM_WarpCubic)->Unit(benchmark::kMillisecond);

void BM_BsplineCoefficients(benchmark::State& state) {
  const Volume src = smoothVolume(kProject, 500.0f);
  for (auto _ : state) benchmark::DoNotOptimize(bsplineCoefficients(src));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(src.voxelCount()));
}
BENCHMARK(BM_BsplineCoefficients)->Unit(benchmark::kMillisecond);

void BM_WarpTrilinear(benchmark::State& state) {
  const Volume src = smoothVolume(kProject, 500.0f);
  const Volume vdm = smoothVolume(kProject, 2.0f);
  Volume dst(kProject);
  for (auto _ : state) {
    warpTrilinear(dst, src, vdm, false);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(src.voxelCount()));
}
BENCHMARK(BM_WarpTrilinear)->Unit(benchmark::kMillisecond);

// One trial shift of the estimation: a full 7 x 7 x 7 box (343 voxels) around
// an interior voxel of a project-sized volume.
void BM_WarpLinearYBox(benchmark::State& state) {
  const Volume src = smoothVolume(kProject, 500.0f);
  const Volume vdm = smoothVolume(kProject, 2.0f);
  const Volume box(7, 7, 7, 1.0f);
  Volume dst(kProject, 0.0f);
  VoxelList voxels, boxVoxels;
  const Dimensions centre{64, 64, 32};
  for (int z = -3; z <= 3; ++z)
    for (int y = -3; y <= 3; ++y)
      for (int x = -3; x <= 3; ++x) {
        voxels.push_back({centre.x + x, centre.y + y, centre.z + z});
        boxVoxels.push_back({x + 3, y + 3, z + 3});
      }
  float scale = -5.0f;
  for (auto _ : state) {
    warpLinearY(dst, src, vdm, voxels, box, boxVoxels, scale, false);
    benchmark::DoNotOptimize(dst.data());
    scale = scale < 5.0f ? scale + 0.5f : -5.0f;
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(voxels.size()));
}
BENCHMARK(BM_WarpLinearYBox);

}  // namespace
}  // namespace daxo

BENCHMARK_MAIN();
