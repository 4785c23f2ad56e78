#include <climits>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/dialogpaths.h"
#include "cli/pluginsession.h"
#include "protocol/dialogkeys.h"

namespace daxo::cli {

namespace {

// The check reports problems in a message box ("Check: OK" goes to the log),
// so any box means a problem. Every path is examined, also after a run that
// found problems.
int runCheck(CommandContext& context, const Arguments& arguments) {
  for (const std::string& path : arguments.positionals()) checkDialogPath("check", path);
  std::vector<TaskParameters> runs;
  for (const std::string& files : packFileLists(arguments.positionals())) {
    runs.push_back(TaskParameters().set(dialogkeys::kFiles, files));
  }
  const std::vector<TaskOutcome> outcomes =
      runPluginTaskSeries(context, dialogkeys::kTaskCheck, runs, AfterFailure::Continue);
  if (outcomes.size() != runs.size()) return kExitFailure;
  for (const TaskOutcome& outcome : outcomes) {
    if (outcome.failed() || !outcome.messageBoxes.empty()) return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace

extern const Command checkCommand;
const Command checkCommand{"check",
                           "check that project files are named properly and can be opened",
                           "Usage: daxo check PROJECT...\n"
                           "\n"
                           "Checks each PROJECT before a long run: its name must end in .fmr or\n"
                           "in .dmr (lower case), the file must open, its header must be readable\n"
                           "and its data file must be there in full (only the header is read).\n"
                           "Prints \"Check: OK\", or lists every problem on standard error.\n",
                           {},
                           "Exit status: 0 no problem, 1 a problem was found, 2 bad command line\n"
                           "(also a path with a line feed or more than 511 characters).\n"
                           "\n"
                           "Example:\n"
                           "  daxo check sub01/run1.fmr sub01/run2.fmr sub01/dwi.dmr\n",
                           1,
                           SIZE_MAX,
                           runCheck};

}  // namespace daxo::cli
