#include "volume/fftw/fftwbinding.h"

#include <fftw3.h>

namespace daxo {

namespace {
// Thin adapters so that every call goes through a function of exactly the
// pointer type it is called with.
void* allocate(size_t bytes) { return fftwf_malloc(bytes); }
void release(void* buffer) { fftwf_free(buffer); }
FftPlan planR2C(int n0, int n1, int n2, float* in, FftComplex* out, unsigned flags) {
  return fftwf_plan_dft_r2c_3d(n0, n1, n2, in, reinterpret_cast<fftwf_complex*>(out), flags);
}
FftPlan planC2R(int n0, int n1, int n2, FftComplex* in, float* out, unsigned flags) {
  return fftwf_plan_dft_c2r_3d(n0, n1, n2, reinterpret_cast<fftwf_complex*>(in), out, flags);
}
void execute(FftPlan plan) { fftwf_execute(static_cast<fftwf_plan>(plan)); }
void destroy(FftPlan plan) { fftwf_destroy_plan(static_cast<fftwf_plan>(plan)); }
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
