#include "cli/pluginsession.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <stdexcept>

#include "cli/console.h"
#include "host/hoststate.h"
#include "protocol/dialogkeys.h"

namespace daxo::cli {

namespace {

std::string executableDirectory() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) throw std::runtime_error("cannot find the daxo executable to locate DAXO.so; use --plugin PATH");
  const std::string executable(path, static_cast<size_t>(length));
  return executable.substr(0, executable.rfind('/'));
}

}  // namespace

std::string pluginLibraryPath(const GlobalOptions& options) {
  if (options.pluginPath) return *options.pluginPath;
  const char* fromEnvironment = std::getenv("DAXO_PLUGIN");
  if (fromEnvironment != nullptr && *fromEnvironment != '\0') return fromEnvironment;
  return executableDirectory() + "/DAXO.so";
}

TaskParameters& TaskParameters::set(const std::string& name, const std::string& value) {
  strings.emplace_back(name, value);
  return *this;
}

TaskParameters& TaskParameters::set(const std::string& name, int32_t value) {
  ints.emplace_back(name, value);
  return *this;
}

bool TaskOutcome::errorShown() const {
  for (const std::string& text : messageBoxes) {
    if (text.rfind("Error: ", 0) == 0) return true;
  }
  return false;
}

PluginSession::PluginSession(const std::string& libraryPath) : library_(libraryPath), plugin_(library_.createPlugin()) {
  if (!plugin_->initPlugin()) throw std::runtime_error("the plugin " + libraryPath + " could not start");
}

TaskOutcome PluginSession::runTask(const std::string& task, const TaskParameters& parameters) {
  host::HostState& host = host::hostState();
  for (const auto& [name, value] : parameters.strings) host.parameters.setString(name, value);
  for (const auto& [name, value] : parameters.ints) host.parameters.setInt(name, value);
  host.parameters.setString(dialogkeys::kTask, task);

  const size_t boxesBefore = host.messageBoxes.shown().size();
  const size_t errorsBefore = host.errors.reported().size();
  const size_t changesBefore = host.parameters.changes().size();
  plugin_->execute();

  TaskOutcome outcome;
  const auto& boxes = host.messageBoxes.shown();
  for (size_t i = boxesBefore; i < boxes.size(); ++i) outcome.messageBoxes.push_back(boxes[i].text);
  const auto& errors = host.errors.reported();
  outcome.hostErrors.assign(errors.begin() + static_cast<std::ptrdiff_t>(errorsBefore), errors.end());
  const auto& changes = host.parameters.changes();
  outcome.parameterChanges.assign(changes.begin() + static_cast<std::ptrdiff_t>(changesBefore), changes.end());
  return outcome;
}

int runPluginTask(CommandContext& context, const std::string& task, const TaskParameters& parameters) {
  const std::vector<TaskOutcome> outcomes = runPluginTaskSeries(context, task, {parameters}, AfterFailure::Stop);
  return outcomes.empty() ? kExitFailure : outcomes.front().exitStatus();
}

std::vector<TaskOutcome> runPluginTaskSeries(CommandContext& context, const std::string& task,
                                             const std::vector<TaskParameters>& runs, AfterFailure afterFailure) {
  context.console.attachToHost();
  std::vector<TaskOutcome> outcomes;
  try {
    PluginSession session(pluginLibraryPath(context.options));
    for (const TaskParameters& parameters : runs) {
      outcomes.push_back(session.runTask(task, parameters));
      if (outcomes.back().failed() && afterFailure == AfterFailure::Stop) break;
    }
  } catch (const std::exception& e) {
    context.console.err() << "daxo: " << e.what() << std::endl;
    outcomes.clear();
  }
  return outcomes;
}

void openHostDocument(const std::string& name, const std::optional<Dimensions>& extents) {
  const bool usable = extents && extents->x > 0 && extents->y > 0 && extents->z > 0;
  host::hostState().openDocument(name, usable ? *extents : Dimensions{1, 1, 1});
}

}  // namespace daxo::cli
