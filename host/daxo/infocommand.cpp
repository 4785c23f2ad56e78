#include <climits>
#include <string>

#include "fileio/filesummary.h"
#include "host/daxo/arguments.h"
#include "host/daxo/command.h"
#include "host/daxo/console.h"

namespace daxo::cli {

namespace {

// Reads headers only, without the plugin. A file that cannot be read is
// reported and the others are still described.
int runInfo(CommandContext& context) {
  const Arguments arguments("info", context.args, {}, 1, SIZE_MAX);
  int status = kExitSuccess;
  bool first = true;
  for (const std::string& path : arguments.positionals()) {
    try {
      size_t problems = 0;
      const std::string summary = summarizeFile(path, &problems);
      if (!first) context.console.out() << "\n";
      context.console.out() << summary << std::flush;
      first = false;
      if (problems > 0) status = kExitFailure;
    } catch (const std::exception& e) {
      context.console.err() << "daxo: info: " << e.what() << std::endl;
      status = kExitFailure;
    }
  }
  return status;
}

}  // namespace

extern const Command infoCommand;
const Command infoCommand{"info", "describe project and map files",
                          "Usage: daxo info FILE...\n"
                          "\n"
                          "Describes each FILE: an FMR project (.fmr), a DMR project (.dmr) or a\n"
                          "map file (.map). Prints its kind, extents, number of volumes, voxel\n"
                          "size, data type and whether its data file is complete, and lists\n"
                          "header values that make no sense on \"Problem:\" lines. Only headers\n"
                          "are read.\n"
                          "\n"
                          "Exit status: 0 every file described without a problem, 1 a file could\n"
                          "not be read or has a problem (a \"Problem:\" line, a missing or incomplete\n"
                          "data file; the others are still described), 2 bad command line.\n"
                          "\n"
                          "Example:\n"
                          "  daxo info sub01/run1.fmr sub01/run1_vdm.map\n",
                          runInfo};

}  // namespace daxo::cli
