#pragma once

// What every benchmark reports beside its time: throughput in millions of
// voxels per second and the peak resident memory of the benchmark itself.
//
// The peak is the kernel's high-water mark of the process (VmHWM), reset
// before each benchmark through /proc/self/clear_refs, so it is the most the
// process held while that benchmark ran, the data it shares with the others
// included. Where the reset is not allowed it is the process's peak so far.
// "added_MB" is that peak less what the process held at the reset: the
// memory the benchmarked work itself took.

#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <string>

namespace daxo::bench {

// A field of /proc/self/status ("VmHWM:", "VmRSS:") in MB, 0 when unknown.
inline double statusMb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::stod(line.substr(field.size())) / 1024.0;
  return 0.0;
}

// Peak resident memory in MB (VmHWM), 0 when unknown.
inline double peakMemoryMb() { return statusMb("VmHWM:"); }

// Resident memory at the last resetPeakMemory(), MB.
inline double residentAtReset = 0.0;

inline void resetPeakMemory() {
  {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
  }
  residentAtReset = statusMb("VmRSS:");
}

// Wall-clock seconds of the timed loop, started when made: the benchmark's
// CPU time misses the worker threads.
class WallClock {
 public:
  double seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Sets the counters "Mvox/s" (voxelsPerIteration over the wall-clock time of
// an iteration), "peak_MB" and "added_MB"; `clock` was started just before
// the loop.
inline void reportMeasures(benchmark::State& state, double voxelsPerIteration, const WallClock& clock) {
  const double seconds = clock.seconds();
  const double iterations = static_cast<double>(state.iterations());
  if (seconds > 0.0) state.counters["Mvox/s"] = voxelsPerIteration * iterations * 1e-6 / seconds;
  state.counters["peak_MB"] = peakMemoryMb();
  state.counters["added_MB"] = peakMemoryMb() - residentAtReset;
}

}  // namespace daxo::bench
