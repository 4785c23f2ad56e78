#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/commandtable.h"
#include "cli/console.h"

namespace daxo::cli {

namespace {
int runHelp(CommandContext& context, const Arguments& arguments) {
  if (arguments.positionals().empty()) {
    printUsage(context.console.out());
    return kExitSuccess;
  }
  const Command* command = findCommand(arguments.positionals()[0]);
  if (command == nullptr) throw UsageError("help: unknown command '" + arguments.positionals()[0] + "'");
  context.console.out() << helpText(*command);
  return kExitSuccess;
}
}  // namespace

extern const Command helpCommand;
const Command helpCommand{"help",
                          "show the help of daxo or of one command",
                          "Usage: daxo help [COMMAND]\n"
                          "\n"
                          "Shows the overview of daxo, or the help of COMMAND (the same as\n"
                          "'daxo COMMAND --help').\n",
                          {},
                          "Example:\n"
                          "  daxo help version\n",
                          0,
                          1,
                          runHelp};

}  // namespace daxo::cli
