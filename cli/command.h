#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "cli/globaloptions.h"

namespace daxo::cli {

class Console;

// Exit statuses of daxo.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // the plugin or the host reported an error, or a check failed
constexpr int kExitUsage = 2;    // bad command line

// A bad command line: daxo prints the message and exits with kExitUsage.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a command gets to run with.
struct CommandContext {
  // The arguments after the command name; global options and --help are
  // already taken out.
  std::vector<std::string> args;
  GlobalOptions options;
  // Prints log entries, message boxes and host errors as they arrive.
  Console& console;
};

// One daxo command. Defined in its own file cli/<name>command.cpp and
// listed in cli/commandtable.cpp.
struct Command {
  const char* name;
  // One line for `daxo --help`.
  const char* summary;
  // The text of `daxo <name> --help`: usage line, what it does, its options
  // and at least one example.
  const char* help;
  // Returns the exit status; throws UsageError for bad arguments.
  int (*run)(CommandContext& context);
};

}  // namespace daxo::cli
