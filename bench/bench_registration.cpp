// Timing of the rigid registration at the size the estimation runs it: a
// 96 x 96 x 48 pair (2.5 mm voxels, the synthetic head) registered over the
// 80 x 80 x 80 grid. The moving scan is the fixed one under a known small
// motion (2 degrees about z, 1 degree about x, 1.5 mm along x, 1 mm along
// y); the counter "steps" is the number of accepted Gauss-Newton steps and
// "error_mm" the largest residual displacement at the corners of the field
// of view after composing the result with the known motion.

#include <benchmark/benchmark.h>

#include <cmath>

#include "correction/registration.h"
#include "correction/rigidmotion.h"
#include "demodata/demosettings.h"
#include "demodata/headvolumes.h"
#include "testsupport/rigidtesting.h"
#include "volume/fft.h"
#include "volume/fftw/fftwbinding.h"

namespace daxo {
namespace {

void bindFftw() {
  static const bool bound = [] {
    bindFft(fftwFunctions());
    return true;
  }();
  (void)bound;
}

Vector knownMotion() {
  const float degree = 4.0f * std::atan(1.0f) / 180.0f;
  Vector g(6, 0.0f);
  g[0] = 1.0f * degree;
  g[2] = 2.0f * degree;
  g[3] = 1.5f;
  g[4] = 1.0f;
  return g;
}

void BM_RegisterRigid(benchmark::State& state) {
  bindFftw();
  const DemoSettings settings;  // 96 x 96 x 48, 2.5 mm
  const Volume fixed = headObject(settings);
  const float mm = static_cast<float>(settings.voxelMm);
  const Float3 extent{mm * settings.nx, mm * settings.ny, mm * settings.nz};
  const Vector motion = knownMotion();
  const Volume moving = resampleRigid(fixed, extent, motion);
  unsigned steps = 0;
  Vector result(6, 0.0f);
  for (auto _ : state) {
    result = Vector(6, 0.0f);
    steps = registerRigid(fixed, extent, moving, extent, {80, 80, 80}, result);
    benchmark::DoNotOptimize(result.data());
  }
  state.counters["steps"] = steps;
  state.counters["error_mm"] = testing::largestCornerShift(extent, result, motion);
}
BENCHMARK(BM_RegisterRigid)->Unit(benchmark::kMillisecond);

void BM_ResampleRigid(benchmark::State& state) {
  const DemoSettings settings;
  const Volume volume = headObject(settings);
  const float mm = static_cast<float>(settings.voxelMm);
  const Float3 extent{mm * settings.nx, mm * settings.ny, mm * settings.nz};
  const Vector motion = knownMotion();
  for (auto _ : state) benchmark::DoNotOptimize(resampleRigid(volume, extent, motion));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(volume.voxelCount()));
}
BENCHMARK(BM_ResampleRigid)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace daxo

BENCHMARK_MAIN();
