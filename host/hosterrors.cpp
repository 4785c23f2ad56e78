#include "host/hosterrors.h"

namespace daxo::host {

void HostErrors::report(const std::string& message) {
  reported_.push_back(message);
  if (observer_) observer_(reported_.back());
}

}  // namespace daxo::host
