// Host lookup on Windows: the host program is an already loaded module,
// found by name.
#include <windows.h>

#include "plugin/modulelookup.h"

namespace daxo {

namespace {

HMODULE findHostModule() {
  HMODULE module = GetModuleHandleA("Tesmarin.exe");
  if (module == nullptr) module = GetModuleHandleA("TesmarinHV.exe");
  return module;
}

}  // namespace

HostFunction lookupHostFunction(const char* name, bool* moduleFound) {
  // GetModuleHandleA neither loads a module nor adds a reference, so nothing
  // is released here.
  const HMODULE module = findHostModule();
  if (moduleFound != nullptr) *moduleFound = module != nullptr;
  if (module == nullptr) return nullptr;
  return reinterpret_cast<HostFunction>(GetProcAddress(module, name));
}

}  // namespace daxo
