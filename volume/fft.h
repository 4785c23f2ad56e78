#pragma once

#include <cstddef>

// The six single-precision FFT functions the smoothing needs, in the calling
// convention of the FFTW interface they follow (plans as opaque pointers,
// complex values as pairs of floats). The core never links an FFT library:
// the plugin hands it the host's functions, tests and benchmarks hand it FFTW.

namespace daxo {

using FftComplex = float[2];
using FftPlan = void*;

struct FftFunctions {
  void* (*allocate)(size_t bytes) = nullptr;
  void (*release)(void* buffer) = nullptr;
  // Extents in the order n0, n1, n2 with n2 the contiguous (fastest) axis.
  FftPlan (*planRealToComplex3d)(int n0, int n1, int n2, float* in, FftComplex* out, unsigned flags) = nullptr;
  FftPlan (*planComplexToReal3d)(int n0, int n1, int n2, FftComplex* in, float* out, unsigned flags) = nullptr;
  void (*execute)(FftPlan plan) = nullptr;
  void (*destroyPlan)(FftPlan plan) = nullptr;

  bool complete() const {
    return allocate && release && planRealToComplex3d && planComplexToReal3d && execute && destroyPlan;
  }
};

// FFTW_ESTIMATE: plans are used once, so the planner makes no measuring runs.
constexpr unsigned kFftEstimate = 64;

// Process-wide binding, written once at start-up (single-threaded), read by
// the smoothing.
void bindFft(const FftFunctions& functions);
const FftFunctions& boundFft();

}  // namespace daxo
