#include "cli/commandtable.h"

#include <iomanip>
#include <sstream>

#include "cli/arguments.h"

// One line per command, in the order `daxo --help` lists them. Each entry
// names a `const Command` defined in its own file cli/<name>command.cpp.
// clang-format off
#define DAXO_COMMAND_TABLE(entry) \
  entry(helpCommand)              \
  entry(versionCommand)           \
  entry(estimateCommand)          \
  entry(applyCommand)             \
  entry(checkCommand)             \
  entry(selectCommand)            \
  entry(infoCommand)              \
  entry(reportCommand)            \
  entry(bidsCommand)              \
  entry(demoCommand)
// clang-format on

namespace daxo::cli {

#define DAXO_DECLARE_COMMAND(command) extern const Command command;
DAXO_COMMAND_TABLE(DAXO_DECLARE_COMMAND)
#undef DAXO_DECLARE_COMMAND

const std::vector<const Command*>& commandTable() {
#define DAXO_COMMAND_ADDRESS(command) &command,
  static const std::vector<const Command*> table{DAXO_COMMAND_TABLE(DAXO_COMMAND_ADDRESS)};
#undef DAXO_COMMAND_ADDRESS
  return table;
}

const Command* findCommand(const std::string& name) {
  for (const Command* command : commandTable()) {
    if (name == command->name) return command;
  }
  return nullptr;
}

std::string helpText(const Command& command) {
  std::ostringstream text;
  text << command.description;
  if (!command.options.empty()) {
    text << "\n";
    printOptions(text, command.options);
  }
  text << "\n" << command.epilogue;
  return text.str();
}

int runCommand(const Command& command, CommandContext& context) {
  const Arguments arguments(command.name, context.args, command.options, command.minPositionals,
                            command.maxPositionals);
  return command.run(context, arguments);
}

void printUsage(std::ostream& out) {
  out << "Usage: daxo [global options] <command> [arguments]\n"
         "\n"
         "Corrects the geometric distortion of echo-planar MR images (functional and\n"
         "diffusion) from two scans with opposite phase-encoding directions: NIfTI\n"
         "images with BIDS sidecars, whole BIDS datasets, or the workstation's\n"
         "projects through the DAXO plugin library.\n"
         "\n"
         "Commands:\n";
  for (const Command* command : commandTable()) {
    out << "  " << std::left << std::setw(10) << command->name << command->summary << "\n";
  }
  out << "\n";
  printOptions(out, globalOptionTable());
  out << "\n"
         "Exit status: 0 success, 1 the plugin or the host reported an error or a\n"
         "check failed (daxo check, the bound of daxo demo), 2 bad command line.\n"
         "Run 'daxo <command> --help' for a command's options and an example.\n";
}

}  // namespace daxo::cli
