#include <stdexcept>

#include "plugin/tasks.h"

namespace daxo {

void runApply(std::ostream& /*log*/) { throw std::runtime_error("The task \"apply\" is not available yet."); }

}  // namespace daxo
