// Generation time of the demo data at the default size (96 x 96 x 48), and
// how the estimation paths fare on the demo pair (BM_EstimationOnDemo).
#include <benchmark/benchmark.h>

#include <array>
#include <map>

#include "correction/estimationschedule.h"
#include "correction/simplevdmestimate.h"
#include "correction/vdm.h"
#include "correction/vdmestimate.h"
#include "demodata/accuracy.h"
#include "demodata/displacementfield.h"
#include "demodata/distortedscan.h"
#include "demodata/headvolumes.h"
#include "volume/fftw/fftwbinding.h"
#include "volume/volumegauss.h"

namespace {

using namespace daxo;

void BM_Acquisition(benchmark::State& state) {
  const DemoSettings s;
  for (auto _ : state) {
    DistortedAcquisition a(s, PhaseDirection::First);
    benchmark::DoNotOptimize(a);
  }
}
BENCHMARK(BM_Acquisition)->Unit(benchmark::kMillisecond);

void BM_NoisyVolume(benchmark::State& state) {
  const DistortedAcquisition a(DemoSettings{}, PhaseDirection::First);
  for (auto _ : state) benchmark::DoNotOptimize(a.scan(Contrast{}, 1));
}
BENCHMARK(BM_NoisyVolume)->Unit(benchmark::kMillisecond);

// Everything the demo writes: the true map, the head mask, both functional
// series (six volumes each) and the diffusion series of the first direction.
void BM_WholeDemoData(benchmark::State& state) {
  const DemoSettings s;
  for (auto _ : state) {
    const Volume d = trueDisplacement(s);
    const Volume mask = headMask(s);
    const DistortedAcquisition first(s, PhaseDirection::First);
    const DistortedAcquisition second(s, PhaseDirection::Second);
    benchmark::DoNotOptimize(first.functionalSeries());
    benchmark::DoNotOptimize(second.functionalSeries());
    benchmark::DoNotOptimize(first.diffusionSeries());
    benchmark::DoNotOptimize(d.data());
    benchmark::DoNotOptimize(mask.data());
  }
}
BENCHMARK(BM_WholeDemoData)->Unit(benchmark::kMillisecond);

// The demo pair of a grid of n x n x n/2 voxels of 2.5 mm (the head scaled to
// fit) with its truth and masks, made once per size.
struct DemoPair {
  DemoSettings settings;
  Volume first, second, truth, head, intracranial;
};

const DemoPair& demoPair(int n) {
  static std::map<int, DemoPair> pairs;
  auto found = pairs.find(n);
  if (found == pairs.end()) {
    DemoSettings s;
    s.nx = n;
    s.ny = n;
    s.nz = n / 2;
    found =
        pairs
            .emplace(n, DemoPair{s, distortedScan(s, PhaseDirection::First), distortedScan(s, PhaseDirection::Second),
                                 trueDisplacement(s), headMask(s), intracranialMask(s)})
            .first;
  }
  return found->second;
}

enum Path { kNone, kTruth, kFast, kSsd, kSsdModulated, kCorrelation, kCorrelationModulated };

Volume estimate(const DemoPair& p, int path) {
  const std::array<double, 3> voxelSize{p.settings.voxelMm, p.settings.voxelMm, p.settings.voxelMm};
  const Sigma3 columnSigma = standardColumnSigma(voxelSize);
  switch (path) {
    case kNone:
      return Volume(p.truth.dimensions(), 0.0f);
    case kTruth:
      return p.truth;
    case kFast: {
      Volume v = estimateColumnWise(p.first, p.second, columnSigma, nullptr, 0);
      smooth(v, {1.5, 1.5, 1.5}, {0, 0, 0}, true);
      return v;
    }
    default: {
      const bool ssd = path == kSsd || path == kSsdModulated;
      const bool modulated = path == kSsdModulated || path == kCorrelationModulated;
      VdmEstimateSettings settings = standardVdmSettings(voxelSize);
      settings.columnSigma = columnSigma;
      settings.useSsd = ssd;
      settings.useIc = modulated;
      return estimateVdm(p.first, p.second, settings, nullptr).map;
    }
  }
}

// Arguments: the path (0 no correction, 1 the true map, 2 the fast path:
// column-wise estimate smoothed with sigma 1.5, 3 and 4 the full estimation
// with SSD without and with intensity modulation, 5 and 6 the same with
// correlation) and the grid (96 for the default 96 x 96 x 48, 48 for
// 48 x 48 x 24).
// The time is the estimation's alone. Counters: RMS and 95th percentile of
// |v - d| (voxels) inside the head and inside the skull, and the correlation
// of the pair corrected with v (cubic, +v and -v) inside the head.
void BM_EstimationOnDemo(benchmark::State& state) {
  bindFft(fftwFunctions());
  const DemoPair& p = demoPair(static_cast<int>(state.range(1)));
  Volume v;
  for (auto _ : state) {
    v = estimate(p, static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(v.data());
  }
  const DisplacementError head = displacementError(v, p.truth, p.head);
  const DisplacementError brain = displacementError(v, p.truth, p.intracranial);
  Volume a(v.dimensions()), b(v.dimensions());
  warpCubic(a, p.first, v, false);
  warpCubic(b, p.second, v, true);
  state.counters["head_rms"] = head.rms;
  state.counters["head_p95"] = head.percentile95;
  state.counters["brain_rms"] = brain.rms;
  state.counters["brain_p95"] = brain.percentile95;
  state.counters["corr"] = maskedCorrelation(a, b, p.head);
}
BENCHMARK(BM_EstimationOnDemo)
    ->ArgsProduct({{kNone, kTruth, kFast, kSsd, kSsdModulated, kCorrelation, kCorrelationModulated}, {96, 48}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
