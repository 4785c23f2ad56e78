#include "host/dialogparameters.h"

namespace daxo::host {

std::string DialogParameters::getString(const std::string& name) const {
  const auto found = strings_.find(name);
  return found == strings_.end() ? std::string() : found->second;
}

int32_t DialogParameters::getInt(const std::string& name) const {
  const auto found = ints_.find(name);
  return found == ints_.end() ? 0 : found->second;
}

}  // namespace daxo::host
