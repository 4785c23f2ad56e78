#pragma once

namespace daxo::host {

// True when the program's standard input is an interactive terminal.
bool standardInputIsTerminal();

}  // namespace daxo::host
