// The test hosts' FFT service: the host's FFT functions backed by the plain
// transform, which gives the same bits on every platform.
#include <cstdlib>
#include <type_traits>

#include "host/crosscheck/plaindft.h"
#include "host/hostfunctions.h"

static_assert(std::is_same_v<decltype(&hv_fftwf_malloc), daxo::HvFftMallocFunction>);
static_assert(std::is_same_v<decltype(&hv_fftwf_free), daxo::HvFftFreeFunction>);
static_assert(std::is_same_v<decltype(&hv_fftwf_plan_dft_r2c_3d), daxo::HvFftPlanR2CFunction>);
static_assert(std::is_same_v<decltype(&hv_fftwf_plan_dft_c2r_3d), daxo::HvFftPlanC2RFunction>);
static_assert(std::is_same_v<decltype(&hv_fftwf_execute), daxo::HvFftExecuteFunction>);
static_assert(std::is_same_v<decltype(&hv_fftwf_destroy_plan), daxo::HvFftDestroyPlanFunction>);

using namespace daxo::crosscheck;

extern "C" {

void* hv_fftwf_malloc(size_t bytes) { return std::malloc(bytes); }

void hv_fftwf_free(void* buffer) { std::free(buffer); }

void* hv_fftwf_plan_dft_r2c_3d(int n0, int n1, int n2, float* in, float (*out)[2], unsigned /*flags*/) {
  return planPlainRealToComplex3d(n0, n1, n2, in, out);
}

void* hv_fftwf_plan_dft_c2r_3d(int n0, int n1, int n2, float (*in)[2], float* out, unsigned /*flags*/) {
  return planPlainComplexToReal3d(n0, n1, n2, in, out);
}

void hv_fftwf_execute(void* plan) { executePlainPlan(plan); }

void hv_fftwf_destroy_plan(void* plan) { destroyPlainPlan(plan); }

}  // extern "C"
