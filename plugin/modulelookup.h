#pragma once

#include "protocol/hostfunctiontypes.h"

namespace daxo {

// Finds the host's exported function `name` in the already running host
// program; null when the host program or the function is not found.
//
// On Windows the host program is the loaded module "Tesmarin.exe" or, when
// there is none, "TesmarinHV.exe". Elsewhere it is the running executable
// itself, whose dynamic symbol table lists the host functions. No module is
// ever loaded by this lookup.
//
// `moduleFound` (optional) is set to whether the host program was found at all.
HostFunction lookupHostFunction(const char* name, bool* moduleFound = nullptr);

}  // namespace daxo
