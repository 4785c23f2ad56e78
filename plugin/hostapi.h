#pragma once

#include <stdexcept>
#include <string>

#include "protocol/hostfunctionlist.h"

namespace daxo {

// The table of host functions: one pointer per looked-up name, in lookup
// order, null where the host lacks the name. The six FFT functions are bound
// in a separate step (bindHostFft). Written only by distcor::initPlugin (on
// the host's user-interface thread); read everywhere else.
//
// Callers must test a pointer before calling it (or use requireHostFunction)
// unless initPlugin guarantees it: only hvGetVersionOfTesmarinHV and, after a
// successful initPlugin, the six FFT functions are guaranteed.
struct HostApi {
#define DAXO_HOST_API_FIELD(name, type) type name = nullptr;
  DAXO_HOST_FUNCTIONS(DAXO_HOST_API_FIELD)
#undef DAXO_HOST_API_FIELD

  HvFftMallocFunction hv_fftwf_malloc = nullptr;
  HvFftFreeFunction hv_fftwf_free = nullptr;
  HvFftPlanR2CFunction hv_fftwf_plan_dft_r2c_3d = nullptr;
  HvFftPlanC2RFunction hv_fftwf_plan_dft_c2r_3d = nullptr;
  HvFftExecuteFunction hv_fftwf_execute = nullptr;
  HvFftDestroyPlanFunction hv_fftwf_destroy_plan = nullptr;
};

// The process-wide table.
const HostApi& hostApi();

// Looks up all host functions by name in lookup order and stores them, null
// included. The FFT entries are cleared (bind them with bindHostFft). False,
// with the table left empty, when the host program is not found or lacks
// hvGetVersionOfTesmarinHV.
bool bindHostApi();

// Looks up the six FFT functions in order. The first missing one ends the step
// with false (the entries after it stay unset). On success the functions are
// also handed to the core's smoothing with bindFft.
bool bindHostFft();

// `function` itself, for calling a host function that the host may lack:
//   requireHostFunction(hostApi().hvSetIntParameter, "hvSetIntParameter")(name, value);
// Throws std::runtime_error "The host does not provide <name>." when it is
// null, which execute then shows as an error.
template <typename Function>
Function requireHostFunction(Function function, const char* name) {
  if (function == nullptr) throw std::runtime_error(std::string("The host does not provide ") + name + ".");
  return function;
}

// The value of the string dialog parameter `name`, read through a buffer of
// kHostTextBufferSize bytes, so at most 511 characters. Throws
// std::runtime_error when the host lacks hvGetStringParameter.
std::string readStringParameter(const std::string& name);

}  // namespace daxo
