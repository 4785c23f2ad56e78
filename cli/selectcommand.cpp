#include <string>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/dialogpaths.h"
#include "cli/pluginsession.h"
#include "host/hoststate.h"
#include "protocol/dialogkeys.h"

namespace daxo::cli {

namespace {

int runSelect(CommandContext& context, const Arguments& arguments) {
  if (!arguments.has("--file")) throw UsageError("select: --file PATH is required");
  const std::string path = arguments.value("--file");
  // An empty answer is the user cancelling the chooser.
  if (!path.empty()) checkDialogPath("select", path);

  host::hostState().fileChooser.queueAnswer(path);
  const std::string task = arguments.has("--vdm") ? dialogkeys::kTaskSelectVdm : dialogkeys::kTaskSelectFmrOrDmr;
  const std::vector<TaskOutcome> outcomes = runPluginTaskSeries(context, task, {TaskParameters()}, AfterFailure::Stop);
  if (outcomes.empty()) return kExitFailure;
  for (const host::ParameterChange& change : outcomes.front().parameterChanges) {
    context.console.out() << change.name << " = " << change.value << "\n";
  }
  context.console.out().flush();
  return outcomes.front().exitStatus();
}

}  // namespace

extern const Command selectCommand;
const Command selectCommand{"select",
                            "describe a project or map as the dialog's file chooser does",
                            "Usage: daxo select [--vdm] --file PATH\n"
                            "\n"
                            "Runs the dialog's file selection as if the user had chosen PATH, and\n"
                            "prints each dialog parameter the plugin set, one \"name = value\" per\n"
                            "line, in order. Without --vdm, PATH is a project: an .fmr header\n"
                            "(its data are not read) or a .dmr project (read whole); the plugin\n"
                            "sets nr_of_volumes, display_volume (counted from 1) and filename.\n"
                            "With --vdm, PATH is a displacement map and only filename is set.\n"
                            "An empty PATH (--file \"\") acts as cancelling the chooser.\n",
                            {{"Options:",
                              {{"--file", "PATH", "the path the user chose (required)"},
                               {"--vdm", nullptr, "the chooser of displacement maps instead of projects'"}}}},
                            "Exit status: 0 success, 1 the project could not be read, 2 bad\n"
                            "command line.\n"
                            "\n"
                            "Example:\n"
                            "  daxo select --file sub01/run1.fmr\n"
                            "  daxo select --vdm --file sub01/run1_vdm.map\n",
                            0,
                            0,
                            runSelect};

}  // namespace daxo::cli
