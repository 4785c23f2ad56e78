#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/command.h"

namespace daxo::cli {

// All commands, in the order `daxo --help` lists them.
const std::vector<const Command*>& commandTable();

// The command called `name`; null when there is none.
const Command* findCommand(const std::string& name);

// The overview of `daxo --help`: usage, commands, global options.
void printUsage(std::ostream& out);

}  // namespace daxo::cli
