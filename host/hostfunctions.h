#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/hostfunctiontypes.h"

// The functions the stand-in host exports to the plugin, with C linkage and
// default visibility. Programs that link the host export exactly these through
// the linker dynamic list host/hostfunctions.list (CMake:
// daxo_export_host_functions), so the plugin finds them in the running program.
// Their types are checked against the plugin's expectations in the sources.
// On Windows they are exports of the program's .exe, where the plugin finds
// them with GetProcAddress.
#if defined(_WIN32)
#define DAXO_HOST_EXPORT __declspec(dllexport)
#else
#define DAXO_HOST_EXPORT __attribute__((visibility("default")))
#endif

namespace daxo::host {
// A text the plugin hands over; a null pointer reads as "".
inline std::string textOf(const char* text) { return text == nullptr ? std::string() : std::string(text); }
}  // namespace daxo::host

extern "C" {

DAXO_HOST_EXPORT void hvGetVersionOfTesmarinHV(int32_t* first, int32_t* second, int32_t* third);
DAXO_HOST_EXPORT void hvLogText(const char* text);
DAXO_HOST_EXPORT void hvMessageBox(const char* text);
DAXO_HOST_EXPORT int32_t hvYesNoMessageBox(const char* question);
DAXO_HOST_EXPORT int32_t hvGetOpenFileName(const char* title, const char* second, const char* filter, char* path);
DAXO_HOST_EXPORT void hvShowBusyCursor();
DAXO_HOST_EXPORT void hvStopBusyCursor();

DAXO_HOST_EXPORT int32_t hvCreateMAPForCurrentFMR();
DAXO_HOST_EXPORT float** hvGetMAPOfCurrentFMR(daxo::MapHeaderRecord* header);
DAXO_HOST_EXPORT int32_t hvSetMAPParametersOfCurrentFMR(const daxo::MapHeaderRecord* header);
DAXO_HOST_EXPORT int32_t hvSaveMAPsOfCurrentFMR(const char* fileName);
DAXO_HOST_EXPORT int32_t hvLoadMAPsToCurrentFMR(const char* fileName);

DAXO_HOST_EXPORT int32_t hvGetStringParameter(const char* name, char* value);
DAXO_HOST_EXPORT int32_t hvGetIntParameter(const char* name);
DAXO_HOST_EXPORT int32_t hvSetStringParameter(const char* name, const char* value);
DAXO_HOST_EXPORT int32_t hvSetIntParameter(const char* name, int32_t value);

// FFTW's single-precision functions of the same names without the prefix:
// forwarded to FFTW (hostfftfunctions.cpp), or the plain transform of the
// test hosts (crosscheck/dfthostfunctions.cpp).
DAXO_HOST_EXPORT void* hv_fftwf_malloc(size_t bytes);
DAXO_HOST_EXPORT void hv_fftwf_free(void* buffer);
DAXO_HOST_EXPORT void* hv_fftwf_plan_dft_r2c_3d(int n0, int n1, int n2, float* in, float (*out)[2], unsigned flags);
DAXO_HOST_EXPORT void* hv_fftwf_plan_dft_c2r_3d(int n0, int n1, int n2, float (*in)[2], float* out, unsigned flags);
DAXO_HOST_EXPORT void hv_fftwf_execute(void* plan);
DAXO_HOST_EXPORT void hv_fftwf_destroy_plan(void* plan);
}
