#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cli/globaloptions.h"
#include "cli/options.h"
#include "pipeline/requesterror.h"

namespace daxo::cli {

class Arguments;
class Console;

// Exit statuses of daxo.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // the plugin or the host reported an error, or a check failed
constexpr int kExitUsage = 2;    // bad command line

// A bad command line: daxo prints the message and exits with kExitUsage. A
// request the pipeline refuses as asked is one.
using UsageError = pipeline::RequestError;

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
  // The help before the options: the usage lines and what the command does.
  const char* description;
  // Every option the command takes.
  OptionTable options;
  // The help after the options: exit status and at least one example.
  const char* epilogue;
  // How many positional arguments it takes (SIZE_MAX: no upper bound).
  size_t minPositionals;
  size_t maxPositionals;
  // Returns the exit status; throws UsageError for bad arguments.
  int (*run)(CommandContext& context, const Arguments& arguments);
};

// The text of `daxo <name> --help`: the description, the options, the
// epilogue.
std::string helpText(const Command& command);

// Reads context.args by the command's table and runs it. Returns the exit
// status; throws UsageError for bad arguments.
int runCommand(const Command& command, CommandContext& context);

}  // namespace daxo::cli
