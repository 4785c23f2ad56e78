#include "plugin/hostapi.h"

#include "plugin/modulelookup.h"
#include "volume/fft.h"

namespace daxo {

namespace {

HostApi& table() {
  static HostApi api;
  return api;
}

// Stores the function found under `name` as `Function` (null when absent).
template <typename Function>
bool lookup(const char* name, Function& slot) {
  slot = reinterpret_cast<Function>(lookupHostFunction(name));
  return slot != nullptr;
}

}  // namespace

const HostApi& hostApi() { return table(); }

bool bindHostApi() {
  HostApi api;
  bool moduleFound = false;
  api.hvGetVersionOfTesmarinHV =
      reinterpret_cast<HvGetVersionFunction>(lookupHostFunction("hvGetVersionOfTesmarinHV", &moduleFound));
  if (!moduleFound || api.hvGetVersionOfTesmarinHV == nullptr) {
    table() = HostApi();
    return false;
  }
  // The required first entry decided whether the host is usable; now every
  // entry, that one included, is filled in the host's order.
#define DAXO_HOST_API_LOOKUP(name, type) lookup(#name, api.name);
  DAXO_HOST_FUNCTIONS(DAXO_HOST_API_LOOKUP)
#undef DAXO_HOST_API_LOOKUP
  table() = api;
  return true;
}

bool bindHostFft() {
  HostApi& api = table();
  api.hv_fftwf_malloc = nullptr;
  api.hv_fftwf_free = nullptr;
  api.hv_fftwf_plan_dft_r2c_3d = nullptr;
  api.hv_fftwf_plan_dft_c2r_3d = nullptr;
  api.hv_fftwf_execute = nullptr;
  api.hv_fftwf_destroy_plan = nullptr;
  const bool complete = lookup("hv_fftwf_malloc", api.hv_fftwf_malloc) && lookup("hv_fftwf_free", api.hv_fftwf_free) &&
                        lookup("hv_fftwf_plan_dft_r2c_3d", api.hv_fftwf_plan_dft_r2c_3d) &&
                        lookup("hv_fftwf_plan_dft_c2r_3d", api.hv_fftwf_plan_dft_c2r_3d) &&
                        lookup("hv_fftwf_execute", api.hv_fftwf_execute) &&
                        lookup("hv_fftwf_destroy_plan", api.hv_fftwf_destroy_plan);
  if (!complete) return false;

  FftFunctions fft;
  fft.allocate = api.hv_fftwf_malloc;
  fft.release = api.hv_fftwf_free;
  fft.planRealToComplex3d = api.hv_fftwf_plan_dft_r2c_3d;
  fft.planComplexToReal3d = api.hv_fftwf_plan_dft_c2r_3d;
  fft.execute = api.hv_fftwf_execute;
  fft.destroyPlan = api.hv_fftwf_destroy_plan;
  bindFft(fft);
  return true;
}

std::string readStringParameter(const std::string& name) {
  const HvGetStringParameterFunction get = requireHostFunction(hostApi().hvGetStringParameter, "hvGetStringParameter");
  char buffer[kHostTextBufferSize] = {};
  get(name.c_str(), buffer);
  // A host that fills the whole buffer without a terminator must not make us
  // read past it.
  buffer[kHostTextBufferSize - 1] = '\0';
  return std::string(buffer);
}

}  // namespace daxo
