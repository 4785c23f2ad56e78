#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/pluginsession.h"
#include "host/pluginloader.h"

namespace daxo::cli {

namespace {
// Only loads the library and reads its exports: the plugin is not started.
int runVersion(CommandContext& context, const Arguments&) {
  const std::string path = pluginLibraryPath(context.options);
  try {
    const host::PluginLibrary library(path);
    context.console.out() << library.metadata().name << "\n"
                          << "plugin version " << library.metadata().version << " (" << path << ")\n";
  } catch (const host::PluginLoadError& e) {
    context.console.err() << "daxo: " << e.what() << "\n";
    return kExitFailure;
  }
  return kExitSuccess;
}
}  // namespace

extern const Command versionCommand;
const Command versionCommand{"version",
                             "print the plugin's name and version (same as --version)",
                             "Usage: daxo version\n"
                             "\n"
                             "Loads the plugin library and prints the name and the version it\n"
                             "reports, and the path it was loaded from.\n",
                             {},
                             "Example:\n"
                             "  daxo version\n"
                             "  daxo --plugin build/DAXO.so --version\n",
                             0,
                             0,
                             runVersion};

}  // namespace daxo::cli
