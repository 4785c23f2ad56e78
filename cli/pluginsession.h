#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/command.h"
#include "host/dialogparameters.h"
#include "host/pluginloader.h"
#include "volume/volume.h"

namespace daxo::cli {

// The plugin library daxo uses: --plugin PATH, else the environment variable
// DAXO_PLUGIN, else DAXO.so beside the daxo executable.
std::string pluginLibraryPath(const GlobalOptions& options);

// Dialog parameters for one task, set in the order given.
struct TaskParameters {
  std::vector<std::pair<std::string, std::string>> strings;
  std::vector<std::pair<std::string, int32_t>> ints;

  TaskParameters& set(const std::string& name, const std::string& value);
  TaskParameters& set(const std::string& name, const char* value) { return set(name, std::string(value)); }
  TaskParameters& set(const std::string& name, int32_t value);
};

// What happened while one task ran.
struct TaskOutcome {
  std::vector<std::string> messageBoxes;                // texts shown, in order
  std::vector<std::string> hostErrors;                  // host failures (a map file not saved, ...)
  std::vector<host::ParameterChange> parameterChanges;  // parameters the plugin set, in order

  // A message box beginning with "Error: " was shown.
  bool errorShown() const;
  bool failed() const { return errorShown() || !hostErrors.empty(); }
  int exitStatus() const { return failed() ? kExitFailure : kExitSuccess; }
};

// A plugin started the way the host starts it: library loaded, plugin
// created, initPlugin run.
class PluginSession {
 public:
  // Throws host::PluginLoadError when the library cannot be used and
  // std::runtime_error when initPlugin refuses (its message box has then
  // been shown).
  explicit PluginSession(const std::string& libraryPath);

  const PluginTexts& metadata() const { return library_.metadata(); }

  // Sets the parameters and "task" in the host, runs execute and reports the
  // message boxes and host errors that appeared meanwhile.
  TaskOutcome runTask(const std::string& task, const TaskParameters& parameters);

 private:
  host::PluginLibrary library_;  // declared first: outlives the plugin
  host::PluginPointer plugin_;
};

// The usual body of a task command: routes the host's output to the console,
// starts the plugin, runs `task` with `parameters` and returns the exit
// status (kExitFailure when the plugin cannot be started or the task failed).
int runPluginTask(CommandContext& context, const std::string& task, const TaskParameters& parameters);

// What a series of task runs does after a run that failed.
enum class AfterFailure { Stop, Continue };

// The body of a task command that runs `task` several times (a list too long
// for one dialog parameter): routes the host's output to the console, starts
// the plugin once and runs the task with each parameter set in order. Returns
// the outcomes of the runs made; empty, after printing why, when the plugin
// cannot be started.
std::vector<TaskOutcome> runPluginTaskSeries(CommandContext& context, const std::string& task,
                                             const std::vector<TaskParameters>& runs, AfterFailure afterFailure);

// Opens the host's current document, whose maps take its extents: named
// `name`, with `extents` when they are known and positive, else 1 x 1 x 1
// (a header that cannot be read is left for the plugin to report).
void openHostDocument(const std::string& name, const std::optional<Dimensions>& extents);

}  // namespace daxo::cli
