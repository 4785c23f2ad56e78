// Generation time of the demo data at the default size (96 x 96 x 48).
#include <benchmark/benchmark.h>

#include "demodata/displacementfield.h"
#include "demodata/distortedscan.h"
#include "demodata/headvolumes.h"

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

}  // namespace

BENCHMARK_MAIN();
