#include "volume/fftw/fftwbinding.h"

#include <fftw3.h>

#include <mutex>

namespace daxo {

namespace {
// FFTW's planner is not thread-safe (executing a plan is): estimations
// running at once in one process (the Python module's callers' threads) take
// turns at planning and destroying plans.
std::mutex& plannerMutex() {
  static std::mutex m;
  return m;
}
// Thin adapters so that every call goes through a function of exactly the
// pointer type it is called with.
void* allocate(size_t bytes) { return fftwf_malloc(bytes); }
void release(void* buffer) { fftwf_free(buffer); }
FftPlan planR2C(int n0, int n1, int n2, float* in, FftComplex* out, unsigned flags) {
  const std::lock_guard<std::mutex> lock(plannerMutex());
  return fftwf_plan_dft_r2c_3d(n0, n1, n2, in, reinterpret_cast<fftwf_complex*>(out), flags);
}
FftPlan planC2R(int n0, int n1, int n2, FftComplex* in, float* out, unsigned flags) {
  const std::lock_guard<std::mutex> lock(plannerMutex());
  return fftwf_plan_dft_c2r_3d(n0, n1, n2, reinterpret_cast<fftwf_complex*>(in), out, flags);
}
void execute(FftPlan plan) { fftwf_execute(static_cast<fftwf_plan>(plan)); }
void destroy(FftPlan plan) {
  const std::lock_guard<std::mutex> lock(plannerMutex());
  fftwf_destroy_plan(static_cast<fftwf_plan>(plan));
}
}  // namespace

FftFunctions fftwFunctions() {
  FftFunctions f;
  f.allocate = allocate;
  f.release = release;
  f.planRealToComplex3d = planR2C;
  f.planComplexToReal3d = planC2R;
  f.execute = execute;
  f.destroyPlan = destroy;
  return f;
}

}  // namespace daxo
