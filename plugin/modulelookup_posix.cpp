// Host lookup where the host is the running executable (Linux and other
// systems with dlopen).
#include <dlfcn.h>

#include "plugin/modulelookup.h"

namespace daxo {

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

}  // namespace daxo
