#include <stdexcept>

#include "plugin/tasks.h"

namespace daxo {

void runSelectFmrOrDmr(std::ostream& /*log*/) {
  throw std::runtime_error("The task \"select_fmr_or_dmr\" is not available yet.");
}

void runSelectVdm(std::ostream& /*log*/) { throw std::runtime_error("The task \"select_vdm\" is not available yet."); }

}  // namespace daxo
