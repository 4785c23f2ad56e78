// daxo: runs the DAXO plugin library on the stand-in host from the command
// line. See `daxo --help`.
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/commandtable.h"
#include "cli/console.h"
#include "cli/globaloptions.h"
#include "host/hoststate.h"
#include "volume/columnthreads.h"

namespace {

// Points to the help of `command` when the error concerns its arguments.
int usageError(const std::string& message, const std::string& command = "") {
  const std::string help = command.empty() ? "daxo --help" : "daxo " + command + " --help";
  std::cerr << "daxo: " << message << "\nRun '" << help << "' for usage.\n";
  return daxo::cli::kExitUsage;
}

int run(const std::vector<std::string>& args) {
  using namespace daxo::cli;
  const CommandLine line = parseCommandLine(args);
  if (line.help) {
    printUsage(std::cout);
    return kExitSuccess;
  }
  if (line.version && !line.command.empty()) return usageError("--version takes no command");
  const std::string name = line.version ? "version" : line.command;
  if (name.empty()) return usageError("no command given");
  const Command* command = findCommand(name);
  if (command == nullptr) return usageError("unknown command '" + name + "'");
  if (line.commandHelp) {
    std::cout << helpText(*command);
    return kExitSuccess;
  }

  // The thread count reaches the plugin, which has no option for it, and
  // every computation in this process through the environment.
  if (line.options.threads) {
    setenv("DAXO_THREADS", std::to_string(*line.options.threads).c_str(), 1);
  } else if (const char* threads = std::getenv("DAXO_THREADS")) {
    if (daxo::parseThreadCount(threads) == 0)
      return usageError("DAXO_THREADS must be a whole number from 1 to " + std::to_string(daxo::kMaxThreads) +
                        ", not '" + threads + "'");
  }

  // Questions of the plugin are asked on the terminal; without one (scripts,
  // pipes) the answer is no. Commands may choose another policy.
  daxo::host::hostState().yesNo.setPolicy(daxo::host::YesNoPolicy::askOnTerminal);
  // The log must not be one of the files the command names.
  Console console(line.options, std::cout, std::cerr, line.commandArgs);
  CommandContext context{line.commandArgs, line.options, console};
  try {
    return runCommand(*command, context);
  } catch (const UsageError& e) {
    return usageError(e.what(), name);
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const daxo::cli::UsageError& e) {
    return usageError(e.what());
  } catch (const std::exception& e) {
    std::cerr << "daxo: " << e.what() << "\n";
    return daxo::cli::kExitFailure;
  }
}
