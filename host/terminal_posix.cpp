#include <unistd.h>

#include "host/terminal.h"

namespace daxo::host {

bool standardInputIsTerminal() { return isatty(STDIN_FILENO) != 0; }

}  // namespace daxo::host
