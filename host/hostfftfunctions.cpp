// The host's FFT service: FFTW's single-precision functions under the host's
// names, with the plugin's pointer types.
#include <fftw3.h>

#include <type_traits>

#include "host/hostfunctions.h"

static_assert(std::is_same_v<decltype(&hv_fftwf_malloc), daxo::HvFftMallocFunction>);
static_assert(std::is_same_v<decltype(&hv_fftwf_free), daxo::HvFftFreeFunction>);
static_assert(std::is_same_v<decltype(&hv_fftwf_plan_dft_r2c_3d), daxo::HvFftPlanR2CFunction>);
static_assert(std::is_same_v<decltype(&hv_fftwf_plan_dft_c2r_3d), daxo::HvFftPlanC2RFunction>);
static_assert(std::is_same_v<decltype(&hv_fftwf_execute), daxo::HvFftExecuteFunction>);
static_assert(std::is_same_v<decltype(&hv_fftwf_destroy_plan), daxo::HvFftDestroyPlanFunction>);

extern "C" {

void* hv_fftwf_malloc(size_t bytes) { return fftwf_malloc(bytes); }

void hv_fftwf_free(void* buffer) { fftwf_free(buffer); }

void* hv_fftwf_plan_dft_r2c_3d(int n0, int n1, int n2, float* in, float (*out)[2], unsigned flags) {
  return fftwf_plan_dft_r2c_3d(n0, n1, n2, in, out, flags);
}

void* hv_fftwf_plan_dft_c2r_3d(int n0, int n1, int n2, float (*in)[2], float* out, unsigned flags) {
  return fftwf_plan_dft_c2r_3d(n0, n1, n2, in, out, flags);
}

void hv_fftwf_execute(void* plan) { fftwf_execute(static_cast<fftwf_plan>(plan)); }

void hv_fftwf_destroy_plan(void* plan) { fftwf_destroy_plan(static_cast<fftwf_plan>(plan)); }

}  // extern "C"
