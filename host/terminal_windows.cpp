#include <io.h>

#include <cstdio>

#include "host/terminal.h"

namespace daxo::host {

bool standardInputIsTerminal() { return _isatty(_fileno(stdin)) != 0; }

}  // namespace daxo::host
