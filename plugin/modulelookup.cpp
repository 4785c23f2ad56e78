#include "plugin/modulelookup.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace daxo {

#if defined(_WIN32)

namespace {
HMODULE findHostModule() {
  HMODULE module = GetModuleHandleA("Tesmarin.exe");
  if (module == nullptr) module = GetModuleHandleA("TesmarinHV.exe");
  return module;
}
}  // namespace

HostFunction lookupHostFunction(const char* name, bool* moduleFound) {
  // GetModuleHandleA does not add a reference, so nothing is released here.
  const HMODULE module = findHostModule();
  if (moduleFound != nullptr) *moduleFound = module != nullptr;
  if (module == nullptr) return nullptr;
  return reinterpret_cast<HostFunction>(GetProcAddress(module, name));
}

#else

HostFunction lookupHostFunction(const char* name, bool* moduleFound) {
  // dlopen(nullptr) names the running program, which is always loaded; the
  // reference it adds is given back at once.
  void* program = dlopen(nullptr, RTLD_LAZY);
  if (moduleFound != nullptr) *moduleFound = program != nullptr;
  if (program == nullptr) return nullptr;
  void* symbol = dlsym(program, name);
  dlclose(program);
  return reinterpret_cast<HostFunction>(symbol);
}

#endif

}  // namespace daxo
