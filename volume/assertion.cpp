#include "volume/assertion.h"

#include <stdexcept>
#include <string>

namespace daxo {

void failAssertion(const char* module, int line, const char* conditionText) {
  throw std::logic_error("assertion failure (" + std::string(module) + ":" + std::to_string(line) +
                         "): " + conditionText);
}

}  // namespace daxo
