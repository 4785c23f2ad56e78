#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"

namespace daxo::cli {

// Options that apply to every command.
struct GlobalOptions {
  bool quiet = false;                     // --quiet: do not echo log entries
  std::optional<std::string> logFile;     // --log FILE: also append log entries to FILE
  std::optional<std::string> pluginPath;  // --plugin PATH: plugin library to load
  std::optional<int> threads;             // --threads N: threads for estimation and correction
};

// The global options: --help, --version and the fields of GlobalOptions.
const OptionTable& globalOptionTable();

// The command line split into its parts.
struct CommandLine {
  GlobalOptions options;
  bool help = false;         // --help before any command
  bool version = false;      // --version before any command
  std::string command;       // empty when none was given
  bool commandHelp = false;  // --help after the command
  std::vector<std::string> commandArgs;
};

// Global options may come before the command or among its arguments; --help
// and --version before the command concern daxo itself, --help after it the
// command. "--" passes everything after it to the command unchanged. Throws
// UsageError for an unknown option before the command, a missing value or a
// thread count that is not a whole number from 1 to kMaxThreads.
CommandLine parseCommandLine(const std::vector<std::string>& args);

}  // namespace daxo::cli
