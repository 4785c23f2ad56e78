#include <stdexcept>

#include "plugin/tasks.h"

namespace daxo {

void runEstimate(std::ostream& /*log*/) { throw std::runtime_error("The task \"estimate\" is not available yet."); }

}  // namespace daxo
