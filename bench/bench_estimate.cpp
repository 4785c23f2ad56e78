// Timing of the displacement-map estimation on the demo pair at its default
// size (96 x 96 x 48, 2.5 mm voxels): the full four-stage estimation, the fast
// path (column-wise estimate and smoothing), and a breakdown of the full
// estimation into its pieces, which shows the share of the local sweeps.
//
// Then both methods as `daxo estimate` runs them (classic: correlation and
// intensity correction; variational: its defaults, on 1 and 2 threads) on the
// demo head with the standard and the strong field, the variational method on
// the truth cases at full size (pairs made by integrating the demo head over
// each voxel) and its time at 100 x 100 x 60. "rms" and "p95" are the errors
// (voxels) inside the head; "maxrss_mb" the process's peak resident memory so
// far.
//
// Counters are seconds per run. The full estimation's counters come from the
// times at which its log entries arrive: "columnwise" up to the column-wise
// estimate's last line, "start" the smoothed start and its warps, per stage
// "sN_search" (local sweep, masked smoothing and fold repair, up to the
// "Smoothed" line) and "sN_rewarp" (preparing and warping the scans, up to the
// "Finished" line), and "tail" the closing measures. "rms" is the RMS error
// (voxels) of the map against the demo's true displacement inside the head.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bench/benchmeasures.h"
#include "correction/estimationschedule.h"
#include "correction/localsweep.h"
#include "correction/noisefloor.h"
#include "correction/pairestimation.h"
#include "correction/pairmotion.h"
#include "correction/simplevdmestimate.h"
#include "correction/variationalestimate.h"
#include "correction/vdm.h"
#include "correction/vdmestimate.h"
#include "correction/vdmfolds.h"
#include "demodata/accuracy.h"
#include "demodata/anatomypair.h"
#include "demodata/displacementfield.h"
#include "demodata/distortedscan.h"
#include "demodata/headvolumes.h"
#include "demodata/truthpair.h"
#include "fileio/nifti/niftiimage.h"
#include "testsupport/entrylog.h"
#include "testsupport/realanatomy.h"
#include "volume/distance.h"
#include "volume/fftw/fftwbinding.h"
#include "volume/volumegauss.h"

namespace daxo {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Seconds at which the first entry beginning with `prefix` arrived, counted
// from entry `from` on, and its index; -1 and the entry count when there is
// none.
std::pair<double, size_t> arrivalOf(const testing::EntryLog& log, const std::string& prefix, size_t from = 0) {
  for (size_t i = from; i < log.entries().size(); ++i)
    if (log.entries()[i].compare(0, prefix.size(), prefix) == 0) return {log.arrivals()[i], i};
  return {-1.0, log.entries().size()};
}

struct DemoPair {
  Volume ap, pa, truth, mask;
  std::array<double, 3> voxelSize;
};

const DemoPair& demoPair() {
  static const DemoPair pair = [] {
    bindFft(fftwFunctions());
    const DemoSettings settings;
    return DemoPair{distortedScan(settings, PhaseDirection::First),
                    distortedScan(settings, PhaseDirection::Second),
                    trueDisplacement(settings),
                    headMask(settings),
                    {settings.voxelMm, settings.voxelMm, settings.voxelMm}};
  }();
  return pair;
}

// Full estimation with the standard schedule; argument: use_ic.
void BM_FullEstimation(benchmark::State& state) {
  const DemoPair& pair = demoPair();
  const EstimationSchedule schedule = standardSchedule(pair.voxelSize);
  VdmEstimateSettings settings = standardVdmSettings(pair.voxelSize);
  settings.useSsd = true;
  settings.useIc = state.range(0) != 0;
  for (auto _ : state) {
    testing::EntryLog timed;
    const Volume v = estimateVdm(pair.ap, pair.pa, settings, &timed).map;
    benchmark::DoNotOptimize(v.data());
    auto columnwise = arrivalOf(timed, "SSD after applying column wise VDM");
    auto start = arrivalOf(timed, "\nStarting local optimizations", columnwise.second);
    state.counters["columnwise"] = columnwise.first;
    state.counters["start"] = start.first - columnwise.first;
    double previous = start.first;
    size_t at = start.second;
    for (size_t stage = 1; stage <= schedule.shifts.size(); ++stage) {
      const auto smoothedLine = arrivalOf(timed, "Smoothed (", at);
      const auto finished = arrivalOf(timed, "Finished iteration", smoothedLine.second);
      state.counters["s" + std::to_string(stage) + "_search"] = smoothedLine.first - previous;
      state.counters["s" + std::to_string(stage) + "_rewarp"] = finished.first - smoothedLine.first;
      previous = finished.first;
      at = finished.second;
    }
    state.counters["tail"] = timed.arrivals().back() - previous;
    state.counters["total"] = timed.arrivals().back();
    state.counters["rms"] = displacementError(v, pair.truth, pair.mask).rms;
  }
}
BENCHMARK(BM_FullEstimation)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// The same estimation (SSD, no intensity modulation) run piece by piece, each
// piece timed; fails when its map differs from estimateVdm's in any bit.
void BM_EstimationBreakdown(benchmark::State& state) {
  const DemoPair& pair = demoPair();
  const EstimationSchedule schedule = standardSchedule(pair.voxelSize);
  const Sigma3 columnSigma = standardColumnSigma(pair.voxelSize);
  VdmEstimateSettings settings = standardVdmSettings(pair.voxelSize);
  settings.useSsd = true;
  const Volume reference = estimateVdm(pair.ap, pair.pa, settings, nullptr).map;
  for (auto _ : state) {
    double sweeps = 0.0, masked = 0.0, folds = 0.0, warps = 0.0;
    const Clock::time_point begin = Clock::now();
    Clock::time_point t = Clock::now();
    Volume v = estimateColumnWise(pair.ap, pair.pa, columnSigma, nullptr, 0);
    state.counters["columnwise"] = secondsSince(t);
    t = Clock::now();
    smooth(v, Sigma3{1.5, 1.5, 1.5}, Dimensions{0, 0, 0}, true);
    Volume F(v.dimensions()), G(v.dimensions());
    warpCubic(F, pair.ap, v, false);
    warpCubic(G, pair.pa, v, true);
    benchmark::DoNotOptimize(meanSsd(F, G));
    state.counters["start"] = secondsSince(t);
    for (size_t stage = 0; stage < schedule.shifts.size(); ++stage) {
      t = Clock::now();
      Volume acc = v;
      Volume weights(v.dimensions(), 0.25f);
      const size_t searched = sweepStage({F, G, pair.ap, pair.pa, v},
                                         {schedule.localBoxes[stage], schedule.shifts[stage], true}, {acc, weights});
      const double sweep = secondsSince(t);
      state.counters["s" + std::to_string(stage + 1) + "_sweep"] = sweep;
      state.counters["s" + std::to_string(stage + 1) + "_voxels"] = static_cast<double>(searched);
      sweeps += sweep;
      v = std::move(acc);
      t = Clock::now();
      convolveMasked3D(v, gaussianKernel3D({9, 9, 9}, schedule.smoothing[stage], {0, 0, 0}, false), weights, true);
      masked += secondsSince(t);
      t = Clock::now();
      reduceFolds(v);
      folds += secondsSince(t);
      t = Clock::now();
      warpCubic(F, pair.ap, v, false);
      warpCubic(G, pair.pa, v, true);
      benchmark::DoNotOptimize(meanSsd(F, G));
      warps += secondsSince(t);
    }
    const double total = secondsSince(begin);
    state.counters["sweeps"] = sweeps;
    state.counters["masked_smoothing"] = masked;
    state.counters["folds"] = folds;
    state.counters["rewarps"] = warps;
    state.counters["total"] = total;
    state.counters["sweep_share"] = sweeps / total;
    if (std::memcmp(v.data(), reference.data(), v.voxelCount() * sizeof(float)) != 0)
      state.SkipWithError("the pieces do not reproduce estimateVdm's map");
  }
}
BENCHMARK(BM_EstimationBreakdown)->Iterations(1)->Unit(benchmark::kSecond);

// The fast path: column-wise estimate, then smoothing with sigma 1.5.
void BM_FastPath(benchmark::State& state) {
  const DemoPair& pair = demoPair();
  const Sigma3 columnSigma = standardColumnSigma(pair.voxelSize);
  for (auto _ : state) {
    Volume v = estimateColumnWise(pair.ap, pair.pa, columnSigma, nullptr, 0);
    smooth(v, Sigma3{1.5, 1.5, 1.5}, Dimensions{0, 0, 0}, true);
    benchmark::DoNotOptimize(v.data());
    state.PauseTiming();
    state.counters["rms"] = displacementError(v, pair.truth, pair.mask).rms;
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FastPath)->Unit(benchmark::kMillisecond);

// The four filtered scans of the column-wise estimate alone.
void BM_ColumnwiseFilters(benchmark::State& state) {
  const DemoPair& pair = demoPair();
  const Sigma3 columnSigma = standardColumnSigma(pair.voxelSize);
  for (auto _ : state) {
    for (const Volume* scan : {&pair.ap, &pair.pa}) {
      benchmark::DoNotOptimize(smoothed(*scan, columnSigma, {0, 0, 0}).data());
      benchmark::DoNotOptimize(smoothed(*scan, columnSigma, {0, 1, 0}).data());
    }
  }
}
BENCHMARK(BM_ColumnwiseFilters)->Unit(benchmark::kMillisecond);

const DemoPair& demoPairWith(DemoField field) {
  static const DemoPair strong = [] {
    bindFft(fftwFunctions());
    const DemoSettings settings = withStrongField(DemoSettings{});
    return DemoPair{distortedScan(settings, PhaseDirection::First),
                    distortedScan(settings, PhaseDirection::Second),
                    trueDisplacement(settings),
                    headMask(settings),
                    {settings.voxelMm, settings.voxelMm, settings.voxelMm}};
  }();
  return field == DemoField::Strong ? strong : demoPair();
}

double peakMemoryMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void reportError(benchmark::State& state, const Volume& v, const Volume& truth, const Volume& mask) {
  const DisplacementError e = displacementError(v, truth, mask);
  state.counters["rms"] = e.rms;
  state.counters["p95"] = e.percentile95;
  state.counters["maxrss_mb"] = peakMemoryMb();
}

// Arguments: field (0 standard, 1 strong).
void BM_ClassicMethod(benchmark::State& state) {
  const DemoPair& pair = demoPairWith(state.range(0) != 0 ? DemoField::Strong : DemoField::Standard);
  VdmEstimateSettings settings = standardVdmSettings(pair.voxelSize);
  settings.useIc = true;
  for (auto _ : state) {
    const Volume v = estimateVdm(pair.ap, pair.pa, settings, nullptr).map;
    state.PauseTiming();
    reportError(state, v, pair.truth, pair.mask);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ClassicMethod)->ArgNames({"strong"})->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// Arguments: field (0 standard, 1 strong), threads.
void BM_VariationalMethod(benchmark::State& state) {
  const DemoPair& pair = demoPairWith(state.range(0) != 0 ? DemoField::Strong : DemoField::Standard);
  VariationalSettings settings;
  settings.threads = static_cast<int>(state.range(1));
  for (auto _ : state) {
    const Volume v = estimateVariational(pair.ap, pair.pa, settings, nullptr);
    state.PauseTiming();
    reportError(state, v, pair.truth, pair.mask);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_VariationalMethod)
    ->ArgNames({"strong", "threads"})
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->Iterations(3)
    ->Unit(benchmark::kSecond);

// The truth cases of the tests at full size: the demo head (96 x 96 x 48)
// integrated over each voxel, with fields given in voxels.
TruthPairRecipe truthCase(int index) {
  TruthPairRecipe s;
  s.extents = {96, 96, 48};
  const auto bump = [](double amplitude, double slope, double cy) {
    return FieldBump{amplitude, 47.5, cy, 18.0, 18.0, std::fabs(amplitude) * std::exp(-0.5) / slope, 12.0};
  };
  switch (index) {
    case 0:  // 7-voxel bump, slope 0.63
      s.bumps = {bump(7, 0.63, 32)};
      break;
    case 1:  // 7-voxel bump, slope 0.85
      s.bumps = {bump(7, 0.85, 32)};
      break;
    case 2:  // two bumps of opposite sign plus a linear gradient
      s.bumps = {FieldBump{5, 47.5, 28, 16, 16, 5, 10}, FieldBump{-4, 20, 52, 14, 12, 6, 10}};
      s.slopeY = 0.02;
      break;
    case 3:  // odd extents
      s.extents = {95, 97, 51};
      s.bumps = {bump(6, 0.7, 34)};
      break;
    case 4:  // the head pushed past the edge along PE
      s.objectShiftY = -10;
      s.bumps = {bump(5, 0.6, 20)};
      break;
    case 5:  // doubled noise
      s.noise *= 2;
      s.bumps = {bump(7, 0.85, 32)};
      break;
    default:  // the second scan 20 % brighter
      s.secondScale = 1.2;
      s.bumps = {bump(7, 0.85, 32)};
      break;
  }
  return s;
}

// Argument: the truth case (0 .. 6, see truthCase); 2 threads.
void BM_VariationalTruthCase(benchmark::State& state) {
  const TruthPairRecipe setup = truthCase(static_cast<int>(state.range(0)));
  const TruthPair pair = makeTruthPair(setup);
  VariationalSettings settings;
  settings.threads = 2;
  for (auto _ : state) {
    const Volume v = estimateVariational(pair.first, pair.second, settings, nullptr);
    state.PauseTiming();
    reportError(state, v, pair.truth, pair.mask);
    state.counters["slope"] = steepestSlope(setup);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_VariationalTruthCase)->DenseRange(0, 6)->Iterations(1)->Unit(benchmark::kSecond);

// The classic method (daxo's classic defaults) on the same truth cases, 2.5 mm
// voxels.
void BM_ClassicTruthCase(benchmark::State& state) {
  bindFft(fftwFunctions());
  const TruthPairRecipe setup = truthCase(static_cast<int>(state.range(0)));
  const TruthPair pair = makeTruthPair(setup);
  const std::array<double, 3> voxelSize{2.5, 2.5, 2.5};
  VdmEstimateSettings settings = standardVdmSettings(voxelSize);
  settings.useIc = true;
  for (auto _ : state) {
    const Volume v = estimateVdm(pair.first, pair.second, settings, nullptr).map;
    state.PauseTiming();
    reportError(state, v, pair.truth, pair.mask);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ClassicTruthCase)->DenseRange(0, 6)->Iterations(1)->Unit(benchmark::kSecond);

// The classic estimation as daxo runs it by default (correlation, intensity
// correction; estimatePairMap), timed end to end; arguments: size (0 the demo pair, 96 x 96 x
// 48; 1 the truth case of the 7-voxel bump at 100 x 100 x 60), fast (1 the
// fast path: column-wise estimate and smoothing), threads.
void BM_ClassicEstimate(benchmark::State& state) {
  bindFft(fftwFunctions());
  static const TruthPair large = [] {
    TruthPairRecipe setup = truthCase(1);
    setup.extents = {100, 100, 60};
    return makeTruthPair(setup);
  }();
  const bool demo = state.range(0) == 0;
  const Volume& first = demo ? demoPair().ap : large.first;
  const Volume& second = demo ? demoPair().pa : large.second;
  const std::array<double, 3> voxelSize = demo ? demoPair().voxelSize : std::array<double, 3>{2.5, 2.5, 2.5};
  const bool fast = state.range(1) != 0;
  const int threads = static_cast<int>(state.range(2));
  EstimationOptions options;
  options.method = EstimationMethod::Classic;
  options.fast = fast;
  options.threads = threads;
  std::ostringstream log;
  bench::resetPeakMemory();
  const bench::WallClock clock;
  for (auto _ : state) {
    const std::optional<Volume> v = estimatePairMap(first, second, voxelSize, options, log);
    benchmark::DoNotOptimize(v->data());
    log.str("");
  }
  bench::reportMeasures(state, static_cast<double>(first.voxelCount()), clock);
}
BENCHMARK(BM_ClassicEstimate)
    ->ArgNames({"size100", "fast", "threads"})
    ->ArgsProduct({{0, 1}, {0, 1}, {1, 2}})
    ->MinTime(2.0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// 100 x 100 x 60 with the 7-voxel bump of slope 0.85; argument: threads.
void BM_VariationalSize100(benchmark::State& state) {
  TruthPairRecipe setup = truthCase(1);
  setup.extents = {100, 100, 60};
  const TruthPair pair = makeTruthPair(setup);
  VariationalSettings settings;
  settings.threads = static_cast<int>(state.range(0));
  bench::resetPeakMemory();
  const bench::WallClock clock;
  for (auto _ : state) {
    const Volume v = estimateVariational(pair.first, pair.second, settings, nullptr);
    state.PauseTiming();
    reportError(state, v, pair.truth, pair.mask);
    state.ResumeTiming();
  }
  bench::reportMeasures(state, static_cast<double>(pair.first.voxelCount()), clock);
}
BENCHMARK(BM_VariationalSize100)
    ->ArgNames({"threads"})
    ->Arg(1)
    ->Arg(2)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

// The truth cases with real anatomy and real fields (testsupport/realanatomy.h),
// made once: the xa30 and canon b = 0 images, 4- and 7-voxel fields from the
// reference field, the real scans' noise, at their own grids and resampled to
// 100 x 100 x 60 voxels of 2 mm.
const std::vector<testing::RealAnatomyCase>& realAnatomyCases() {
  static const std::vector<testing::RealAnatomyCase> cases = testing::realAnatomyCases();
  return cases;
}

// The same cases without noise.
const std::vector<testing::RealAnatomyCase>& noiselessRealAnatomyCases() {
  static const std::vector<testing::RealAnatomyCase> cases = [] {
    testing::RealAnatomyOptions options;
    options.noiseScale = 0.0;
    return testing::realAnatomyCases(options);
  }();
  return cases;
}

// The voxels of `mask` where the slope (d map / dy, see derivativeY; its
// magnitude when `magnitude`) lies in [low, high).
Volume slopeRegion(const Volume& mask, const Volume& slope, double low, double high, bool magnitude) {
  Volume region(mask.dimensions());
  for (size_t i = 0; i < mask.voxelCount(); ++i) {
    const double d = slope.data()[i];
    const double s = magnitude ? std::fabs(d) : d;
    region.data()[i] = mask.data()[i] != 0.0f && s >= low && s < high ? 1.0f : 0.0f;
  }
  return region;
}

// The sum of first over the sum of second inside region.
double signalRatio(const Volume& first, const Volume& second, const Volume& region) {
  double a = 0.0, b = 0.0;
  for (size_t i = 0; i < region.voxelCount(); ++i)
    if (region.data()[i] != 0.0f) {
      a += first.data()[i];
      b += second.data()[i];
    }
  return a / b;
}

// PREFIX_flat and PREFIX_steep: the corrected pair's correlation where the
// map is flat (|slope| < 0.1) and where it is steep (0.2 and more).
// PREFIX_ratio_stretched and PREFIX_ratio_squeezed: the corrected first
// scan's signal over the second's where the slope is 0.2 or more (the first
// scan was stretched there, the second squeezed) and where it is -0.2 or
// less. On truth pairs, made by the voxel-integrating model, correlations
// are close and ratios near 1 with the true field; a real pair that departs
// far more where the map is steep shows what that model leaves out there.
void reportSlopeAgreement(benchmark::State& state, const std::string& prefix, const Volume& first, const Volume& second,
                          const Volume& mask, const Volume& map) {
  const Volume slope = derivativeY(map);
  state.counters[prefix + "_flat"] = maskedCorrelation(first, second, slopeRegion(mask, slope, 0.0, 0.1, true));
  state.counters[prefix + "_steep"] = maskedCorrelation(first, second, slopeRegion(mask, slope, 0.2, 1e9, true));
  state.counters[prefix + "_ratio_stretched"] = signalRatio(first, second, slopeRegion(mask, slope, 0.2, 1e9, false));
  state.counters[prefix + "_ratio_squeezed"] = signalRatio(first, second, slopeRegion(mask, slope, -1e9, -0.2, false));
}

// The Gauss-Newton iterations and conjugate-gradient steps of the finest
// level, read off the estimator's log (its last "Level" entry).
std::pair<double, double> finestIterations(const std::string& log) {
  const size_t at = log.rfind("Level ");
  if (at == std::string::npos) return {0.0, 0.0};
  const size_t gn = log.find(" iterations", at), cg = log.find(" CG steps", at);
  const auto numberBefore = [&](size_t end) {
    size_t begin = end;
    while (begin > 0 && std::isdigit(static_cast<unsigned char>(log[begin - 1]))) --begin;
    return std::stod(log.substr(begin, end - begin));
  };
  return {numberBefore(gn), numberBefore(cg)};
}

// The case that the benchmark's argument picks, its name set as the label;
// null, the benchmark skipped, without the real scans.
const testing::RealAnatomyCase* pickedCase(benchmark::State& state,
                                           const std::vector<testing::RealAnatomyCase>& cases) {
  const size_t index = static_cast<size_t>(state.range(0));
  if (index >= cases.size()) {
    state.SkipWithError("no real scans beside the project");
    return nullptr;
  }
  state.SetLabel(cases[index].name);
  return &cases[index];
}

// Argument: the case (its name is printed as the label); 2 threads.
void BM_VariationalRealAnatomy(benchmark::State& state) {
  const testing::RealAnatomyCase* picked = pickedCase(state, realAnatomyCases());
  if (!picked) return;
  const testing::RealAnatomyCase& c = *picked;
  VariationalSettings settings;
  settings.threads = 2;
  bench::resetPeakMemory();
  const bench::WallClock clock;
  for (auto _ : state) {
    std::ostringstream log;
    const Volume v = estimateVariational(c.pair.first, c.pair.second, settings, &log);
    state.PauseTiming();
    const DisplacementError e = displacementError(v, c.pair.truth, c.pair.mask);
    state.counters["rms"] = e.rms;
    state.counters["p95"] = e.percentile95;
    state.counters["slope"] = c.steepest;
    const auto [gn, cg] = finestIterations(log.str());
    state.counters["fine_gn"] = gn;
    state.counters["fine_cg"] = cg;
    Volume first, second;
    correctPair(c.pair.first, c.pair.second, v, first, second);
    reportSlopeAgreement(state, "after", first, second, c.pair.mask, v);
    state.ResumeTiming();
  }
  bench::reportMeasures(state, static_cast<double>(c.pair.first.voxelCount()), clock);
}
BENCHMARK(BM_VariationalRealAnatomy)->DenseRange(0, 5)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// The voxels where the mean of a pair, smoothed by 1.5 voxels, exceeds 15 %
// of its 99th percentile.
Volume pairHead(const Volume& a, const Volume& b) {
  Volume mean(a.dimensions());
  for (size_t i = 0; i < a.voxelCount(); ++i) mean.data()[i] = 0.5f * (a.data()[i] + b.data()[i]);
  return brightRegion(mean, 0.15);
}

// The mean of volumes 1 .. n - 1 of a run (its diffusion-weighted volumes);
// the run has two volumes at least.
Volume meanOfWeighted(const std::vector<Volume>& run) {
  Volume mean(run.front().dimensions(), 0.0f);
  for (size_t t = 1; t < run.size(); ++t)
    for (size_t i = 0; i < mean.voxelCount(); ++i) mean.data()[i] += run[t].data()[i];
  for (size_t i = 0; i < mean.voxelCount(); ++i) mean.data()[i] /= static_cast<float>(run.size() - 1);
  return mean;
}

// The correlation inside `mask` of the two runs' diffusion-weighted means
// corrected with `map` (the second moved by *motion first, when given):
// volumes the map was not estimated from, so a map that follows the b = 0
// pair's noise or its differences gains nothing here.
double heldOutAgreement(const Volume& first, const Volume& second, const Volume& mask, const Volume& map,
                        const RigidMotion* motion) {
  const Volume moved = motion ? movedSecondScan(second, {3.0, 3.0, 3.0}, *motion, &map) : second;
  Volume a, b;
  correctPair(first, moved, map, a, b);
  return maskedCorrelation(a, b, mask);
}

// The real pairs (volume 0 of each bids run): the correlation inside the head
// of the two scans as they are ("before") and corrected with the estimated
// map and multiplied by their stretch ("after"), over pairHead of the raw
// pair; "held_out" the same for the means of the runs' diffusion-weighted
// volumes corrected with that map. Arguments: 0 xa30, 1 canon; motion (1:
// estimated with the map, the second scan moved into the first's space
// before it is corrected).
void BM_VariationalRealPair(benchmark::State& state) {
  const std::string subject = state.range(0) == 0 ? "xa30" : "canon";
  const std::string stem = testing::sharedDataFolder() + "/bids/sub-" + subject + "/dwi/sub-" + subject + "_dir-";
  state.SetLabel(subject);
  std::vector<Volume> apRun, paRun;
  try {
    apRun = NiftiImage::open(stem + "AP_dwi.nii.gz").readAllVolumes();
    paRun = NiftiImage::open(stem + "PA_dwi.nii.gz").readAllVolumes();
  } catch (const std::exception&) {
    state.SkipWithError("no real scans beside the project");
    return;
  }
  if (apRun.size() < 2 || paRun.size() < 2) {
    state.SkipWithError("the real runs hold no diffusion-weighted volumes");
    return;
  }
  const Volume& ap = apRun.front();
  const Volume& pa = paRun.front();
  const Volume mask = pairHead(ap, pa);
  const Volume apWeighted = meanOfWeighted(apRun), paWeighted = meanOfWeighted(paRun);
  const Volume weightedMask = pairHead(apWeighted, paWeighted);
  const double heldOutBefore = maskedCorrelation(apWeighted, paWeighted, weightedMask);
  VariationalSettings settings;
  settings.threads = 2;
  bench::resetPeakMemory();
  const bench::WallClock clock;
  for (auto _ : state) {
    Volume v, moved = pa;
    RigidMotion motion;
    bool hasMotion = false;
    if (state.range(1) != 0) {
      const MotionAndMap m = estimateVariationalWithMotion(ap, pa, {3.0, 3.0, 3.0}, settings, {}, nullptr);
      v = m.map;
      motion = m.motion;
      hasMotion = m.moved;
      if (m.moved) moved = movedSecondScan(pa, {3.0, 3.0, 3.0}, m.motion, &v);
      state.counters["turn_deg"] = m.motion.largestTurn();
      state.counters["shift_mm"] = m.motion.largestShift();
    } else {
      v = estimateVariational(ap, pa, settings, nullptr);
    }
    state.PauseTiming();
    Volume first, second;
    correctPair(ap, moved, v, first, second);
    state.counters["before"] = maskedCorrelation(ap, pa, mask);
    state.counters["after"] = maskedCorrelation(first, second, mask);
    // The agreement of the corrected pair's structure: both smoothed by a
    // Gaussian of 1 voxel, which leaves the scans' independent noise out.
    state.counters["after_smooth1"] =
        maskedCorrelation(gaussianSmoothed(first, 1.0), gaussianSmoothed(second, 1.0), mask);
    reportSlopeAgreement(state, "after", first, second, mask, v);
    state.counters["held_out_before"] = heldOutBefore;
    state.counters["held_out"] =
        heldOutAgreement(apWeighted, paWeighted, weightedMask, v, hasMotion ? &motion : nullptr);
    const Volume reference = testing::referenceDisplacement();
    if (subject == "xa30" && state.range(1) == 0 && reference.voxelCount() == ap.voxelCount()) {
      // The peer's field through the same correction.
      correctPair(ap, pa, reference, first, second);
      state.counters["reference"] = maskedCorrelation(first, second, mask);
      state.counters["reference_smooth1"] =
          maskedCorrelation(gaussianSmoothed(first, 1.0), gaussianSmoothed(second, 1.0), mask);
      reportSlopeAgreement(state, "reference", first, second, mask, reference);
      state.counters["reference_held_out"] = heldOutAgreement(apWeighted, paWeighted, weightedMask, reference, nullptr);
    }
    state.ResumeTiming();
  }
  bench::reportMeasures(state, static_cast<double>(ap.voxelCount()), clock);
}
BENCHMARK(BM_VariationalRealPair)
    ->ArgNames({"canon", "motion"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

// The real-anatomy truth cases without noise (registered last, as their
// cases would raise the other benchmarks' peak memory): what the estimator
// leaves there is its bias, the regulariser's and the model's; the rest of a
// case's error is the noise's (the two add in squares).
void BM_VariationalRealAnatomyNoiseless(benchmark::State& state) {
  const testing::RealAnatomyCase* picked = pickedCase(state, noiselessRealAnatomyCases());
  if (!picked) return;
  const testing::RealAnatomyCase& c = *picked;
  VariationalSettings settings;
  settings.threads = 2;
  for (auto _ : state) {
    const Volume v = estimateVariational(c.pair.first, c.pair.second, settings, nullptr);
    state.PauseTiming();
    const DisplacementError e = displacementError(v, c.pair.truth, c.pair.mask);
    state.counters["rms"] = e.rms;
    state.counters["p95"] = e.percentile95;
    state.ResumeTiming();
  }
}
BENCHMARK(BM_VariationalRealAnatomyNoiseless)->DenseRange(0, 5)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace daxo

BENCHMARK_MAIN();
