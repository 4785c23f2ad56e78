// Where the time of correcting a whole project goes: a diffusion project of
// 100 volumes of 128 x 128 x 64 voxels, 16-bit, as `daxo apply` corrects it
// (load with data, correct every volume, save the "_undist" copy). The
// project is written once into a temporary folder, with the demo's writer.

#include <benchmark/benchmark.h>
#include <nifti/nifti1.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/benchmeasures.h"
#include "correction/vdm.h"
#include "demodata/demoprojects.h"
#include "fileio/dmrheader.h"
#include "fileio/nifti/niftiimage.h"
#include "fileio/volumereader.h"
#include "plugin/undistort.h"
#include "volume/columnthreads.h"

namespace daxo {
namespace {

namespace fs = std::filesystem;

const Dimensions kExtents{128, 128, 64};
const int kVolumes = 100;

Volume smoothVolume(float scale, float phase) {
  Volume v(kExtents);
  for (int z = 0; z < kExtents.z; ++z)
    for (int y = 0; y < kExtents.y; ++y)
      for (int x = 0; x < kExtents.x; ++x)
        v(x, y, z) = scale * (1.0f + std::sin(0.11f * x + 0.07f * y + phase) * std::cos(0.05f * y - 0.13f * z));
  return v;
}

// The project's path; written on first use, removed at exit.
const std::string& projectPath() {
  static const struct Project {
    fs::path folder = fs::temp_directory_path() / "daxo-bench-apply";
    std::string path = (folder / "dwi.dmr").string();
    Project() {
      fs::create_directories(folder);
      DemoSettings extents;
      extents.nx = kExtents.x;
      extents.ny = kExtents.y;
      extents.nz = kExtents.z;
      std::vector<Volume> volumes;
      for (int t = 0; t < kVolumes; ++t) volumes.push_back(smoothVolume(1000.0f, 0.01f * t));
      saveDiffusionProject(path, extents, volumes, std::vector<DiffusionGradient>(kVolumes));
    }
    ~Project() {
      std::error_code ignored;
      fs::remove_all(folder, ignored);
    }
  } project;
  return project.path;
}

// The plugin takes its thread count where `daxo --threads` puts it.
void setThreadCount(int threads) { setenv("DAXO_THREADS", std::to_string(threads).c_str(), 1); }

// The registration of a benchmark of the whole series: on 1 and 2 threads
// (its argument), wall-clock time, kIterations runs (each takes seconds).
template <int kIterations>
void wholeSeriesRuns(benchmark::internal::Benchmark* b) {
  b->ArgNames({"threads"})->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(kIterations);
}

constexpr double kProjectVoxels = 128.0 * 128.0 * 64.0 * kVolumes;

void BM_LoadProject(benchmark::State& state) {
  const std::string& path = projectPath();
  bench::resetPeakMemory();
  const bench::WallClock clock;
  for (auto _ : state) {
    DMRHeader project;
    project.loadWithData(path);
    benchmark::DoNotOptimize(project.volumes.data());
  }
  bench::reportMeasures(state, kProjectVoxels, clock);
}
BENCHMARK(BM_LoadProject)->UseRealTime()->Unit(benchmark::kMillisecond);

// One volume, as the correction of a project does it for every volume;
// arguments: transposed, threads.
void BM_CorrectVolume(benchmark::State& state) {
  const bool transposed = state.range(0) != 0;
  ColumnThreads threads(static_cast<int>(state.range(1)));
  const Volume src = smoothVolume(1000.0f, 0.0f);
  const Volume map = smoothVolume(2.0f, 1.0f);
  const Volume transposedMap = transposeXY(map);
  bench::resetPeakMemory();
  const bench::WallClock clock;
  for (auto _ : state)
    benchmark::DoNotOptimize(correctVolume(transposed ? transposedMap : map, src, transposed, &threads));
  bench::reportMeasures(state, static_cast<double>(src.voxelCount()), clock);
}
BENCHMARK(BM_CorrectVolume)
    ->ArgNames({"transposed", "threads"})
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_SaveProject(benchmark::State& state) {
  DMRHeader project;
  project.loadWithData(projectPath());
  const std::string copy = (fs::path(projectPath()).parent_path() / "dwi_undist.dmr").string();
  bench::resetPeakMemory();
  const bench::WallClock clock;
  for (auto _ : state) project.saveAs(copy);
  bench::reportMeasures(state, kProjectVoxels, clock);
}
BENCHMARK(BM_SaveProject)->UseRealTime()->Unit(benchmark::kMillisecond);

// The whole correction of the project as `daxo apply` does it, through the
// plugin's writeUndistortedDmr: the header is loaded without data, then runs
// of volumes are read and corrected while the run before is written. What
// fresh memory costs (a page fault per page) depends on what the process
// allocated before, so the figure of a fresh `daxo apply` run can differ.
// Argument: threads.
void BM_ApplyToProject(benchmark::State& state) {
  const Volume map = smoothVolume(2.0f, 1.0f);
  const std::string& path = projectPath();
  setThreadCount(static_cast<int>(state.range(0)));
  bench::resetPeakMemory();
  const bench::WallClock clock;
  for (auto _ : state) {
    DMRHeader project;
    project.loadHeader(path);
    VolumeReader source = project.openVolumes();
    writeUndistortedDmr(map, path, project, source, false);
  }
  bench::reportMeasures(state, kProjectVoxels, clock);
}
BENCHMARK(BM_ApplyToProject)->Apply(wholeSeriesRuns<2>);

// The same correction done the earlier way, for comparison: the project
// loaded whole, every volume corrected, the copy saved. Argument: threads.
void BM_ApplyWholeProject(benchmark::State& state) {
  const Volume map = smoothVolume(2.0f, 1.0f);
  const std::string copy = (fs::path(projectPath()).parent_path() / "dwi_undist.dmr").string();
  ColumnThreads threads(static_cast<int>(state.range(0)));
  bench::resetPeakMemory();
  const bench::WallClock clock;
  for (auto _ : state) {
    DMRHeader project;
    project.loadWithData(projectPath());
    correctVolumes(map, project.volumes, false, &threads);
    project.saveAs(copy);
  }
  bench::reportMeasures(state, kProjectVoxels, clock);
}
BENCHMARK(BM_ApplyWholeProject)->Apply(wholeSeriesRuns<2>);

// The same series as one compressed NIfTI file, corrected as `daxo apply`
// does it: read, corrected and written one volume at a time. Argument:
// threads.
const Affine kIdentity{{{2, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, 2, 0}, {0, 0, 0, 1}}};

const std::string& niftiPath() {
  static const struct Series {
    std::string path = (fs::path(projectPath()).parent_path() / "dwi.nii.gz").string();
    Series() {
      const NiftiImage like = NiftiImage::create(kExtents, kVolumes, {2, 2, 2}, kIdentity, DT_INT16);
      NiftiWriter writer(path, like, kVolumes, NiftiStorage::LikeSource);
      for (int t = 0; t < kVolumes; ++t) writer.write(smoothVolume(1000.0f, 0.01f * t));
      writer.finish();
    }
  } series;
  return series.path;
}

void BM_ApplyToNifti(benchmark::State& state) {
  const Volume map = smoothVolume(2.0f, 1.0f);
  const std::string copy = (fs::path(projectPath()).parent_path() / "dwi_undist.nii.gz").string();
  ColumnThreads threads(static_cast<int>(state.range(0)));
  const NiftiImage image = NiftiImage::open(niftiPath());
  bench::resetPeakMemory();
  const bench::WallClock clock;
  for (auto _ : state) {
    NiftiVolumeReader reader(image);
    NiftiWriter writer(copy, image, image.volumeCount(), NiftiStorage::LikeSource);
    Volume v;
    while (reader.remaining() > 0) {
      reader.next(v);
      writer.write(correctVolume(map, v, false, &threads));
    }
    writer.finish();
  }
  bench::reportMeasures(state, kProjectVoxels, clock);
}
BENCHMARK(BM_ApplyToNifti)->Apply(wholeSeriesRuns<1>);

}  // namespace
}  // namespace daxo

BENCHMARK_MAIN();
