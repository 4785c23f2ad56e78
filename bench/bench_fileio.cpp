// Saving and loading whole projects: a functional run of 100 volumes of
// 64 x 64 x 30 voxels, 16-bit (converted and saturated per voxel) and float.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "fileio/fmrheader.h"

namespace {

namespace fs = std::filesystem;

daxo::FMRHeader makeProject(const std::string& path, bool floats) {
  daxo::FMRHeader project;
  project.fileName = path;
  project.prefix = {"Prefix", "", 8, true, true};
  project.nrOfSlices = {"NrOfSlices", 30, 12, true};
  project.resolutionX = {"ResolutionX", 64, 13, true};
  project.resolutionY = {"ResolutionY", 64, 13, true};
  project.dataType = {"DataType", floats ? 2 : 1, 10, true};
  project.nrOfVolumes = {"NrOfVolumes", 100, 13, true};
  for (int t = 0; t < 100; ++t) {
    daxo::Volume v(64, 64, 30);
    for (size_t i = 0; i < v.voxelCount(); ++i) v.data()[i] = static_cast<float>((i * 7 + t) % 5000) * 1.5f;
    project.volumes.push_back(std::move(v));
  }
  return project;
}

void saveAndLoad(benchmark::State& state) {
  const bool floats = state.range(0) != 0;
  const fs::path folder = fs::temp_directory_path() / "daxo-bench-fileio";
  fs::create_directories(folder);
  const std::string path = (folder / "run.fmr").string();
  daxo::FMRHeader project = makeProject(path, floats);
  for (auto _ : state) {
    project.saveAs(path);
    daxo::FMRHeader loaded;
    loaded.loadWithData(path);
    benchmark::DoNotOptimize(loaded.volumes.back().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * 100 * 64 * 64 * 30 * (floats ? 4 : 2));
  fs::remove_all(folder);
}
BENCHMARK(saveAndLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
