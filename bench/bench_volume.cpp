// Timings of the numerics core's hot operations at the sizes the estimation
// works on: padded smoothing, the 9 x 9 x 9 masked convolution it runs after
// every stage, and affine resampling.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "volume/columnthreads.h"
#include "volume/fft.h"
#include "volume/fftw/fftwbinding.h"
#include "volume/maskedconvolution.h"
#include "volume/vectorlanes.h"
#include "volume/volumegauss.h"
#include "volume/volumetransform.h"

namespace {

using daxo::Dimensions;
using daxo::Volume;

Volume noiseVolume(int32_t nx, int32_t ny, int32_t nz, float low, float high, uint32_t seed) {
  Volume v(nx, ny, nz);
  std::mt19937 engine(seed);
  std::uniform_real_distribution<float> uniform(low, high);
  for (size_t i = 0; i < v.voxelCount(); ++i) v.data()[i] = uniform(engine);
  return v;
}

void bindFftw() {
  static const bool bound = [] {
    daxo::bindFft(daxo::fftwFunctions());
    return true;
  }();
  (void)bound;
}

void BM_SmoothPadded(benchmark::State& state) {
  bindFftw();
  const int32_t nx = static_cast<int32_t>(state.range(0)), nz = static_cast<int32_t>(state.range(1));
  const Volume source = noiseVolume(nx, nx, nz, 0.0f, 1000.0f, 1);
  for (auto _ : state) {
    state.PauseTiming();
    Volume v = source;
    state.ResumeTiming();
    daxo::smooth(v, {1.5, 1.5, 1.5}, {0, 0, 0}, true);
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_SmoothPadded)->Args({96, 48})->Args({128, 64})->Unit(benchmark::kMillisecond);

// Weights as the estimation sets them: 1 where a voxel was optimised, 0.25
// elsewhere. Arguments: nx (= ny), nz, vector width (floats; skipped where
// this computer lacks it), one thread.
void BM_ConvolveMasked3D(benchmark::State& state) {
  const int32_t nx = static_cast<int32_t>(state.range(0)), nz = static_cast<int32_t>(state.range(1));
  const int width = static_cast<int>(state.range(2));
  const std::vector<int>& widths = daxo::vectorWidths();
  if (std::find(widths.begin(), widths.end(), width) == widths.end()) {
    state.SkipWithError("this computer lacks that vector width");
    return;
  }
  const Volume source = noiseVolume(nx, nx, nz, -2.0f, 2.0f, 2);
  Volume weights = noiseVolume(nx, nx, nz, 0.0f, 1.0f, 3);
  for (size_t i = 0; i < weights.voxelCount(); ++i) weights.data()[i] = weights.data()[i] < 0.5f ? 0.25f : 1.0f;
  const Volume kernel = daxo::gaussianKernel3D({9, 9, 9}, {1.5, 1.5, 1.5}, {0, 0, 0}, false);
  const daxo::MaskedGrid grid{nx, nx, nz, 9, 9, 9};
  daxo::ColumnThreads threads(1);
  Volume out(source.dimensions());
  for (auto _ : state) {
    std::fill(out.data(), out.data() + out.voxelCount(), 0.0f);
    daxo::maskedConvolve({source.data(), weights.data(), kernel.data(), grid, true, false}, out.data(), threads, width);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_ConvolveMasked3D)
    ->ArgNames({"n", "nz", "width"})
    ->ArgsProduct({{96}, {48}, {4, 8, 16}})
    ->Unit(benchmark::kMillisecond);

void BM_ResampleAffine(benchmark::State& state) {
  const Volume source = noiseVolume(128, 128, 64, 0.0f, 1000.0f, 4);
  Volume destination(source.dimensions());
  daxo::Matrix4 m = daxo::Matrix4::identity();
  m.m[0] = m.m[5] = 0.995f;
  m.m[1] = 0.0998f;
  m.m[4] = -0.0998f;
  m.m[12] = 3.3f;
  m.m[13] = -1.7f;
  m.m[14] = 0.4f;
  for (auto _ : state) {
    daxo::resampleAffine(destination, source, m);
    benchmark::DoNotOptimize(destination.data());
  }
}
BENCHMARK(BM_ResampleAffine)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
