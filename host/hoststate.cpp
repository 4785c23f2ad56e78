#include "host/hoststate.h"

namespace daxo::host {

FmrDocument& HostState::openDocument(const std::string& name, const Dimensions& extents) {
  document.emplace(name, extents);
  return *document;
}

HostState& hostState() {
  static HostState state;
  return state;
}

void resetHostState() { hostState() = HostState(); }

}  // namespace daxo::host
