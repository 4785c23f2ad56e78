#include <fstream>
#include <string>
#include <vector>

#include "fileio/inputfile.h"
#include "fileio/paths.h"
#include "plugin/filelist.h"
#include "plugin/hostapi.h"
#include "plugin/tasks.h"

namespace daxo {

namespace {

// The problem line of one listed path ("" when it is fine): the extension
// must be a lower-case "fmr" or "dmr" and the file must open. Nothing is
// read from it. A directory counts as unreadable even where the system lets
// it be opened.
std::string problemOf(const std::string& path) {
  if (!hasExtension(path, "fmr") && !hasExtension(path, "dmr")) return path + ": not an FMR or DMR file\n";
  std::ifstream in;
  if (!openInputFile(in, path)) return path + ": could not read file\n";
  return "";
}

}  // namespace

void runCheck(std::ostream& log) {
  const std::vector<std::string> paths = splitFileList(readStringParameter("files"));
  std::string problems;
  for (const std::string& path : paths) problems += problemOf(path);
  if (problems.empty()) {
    log << "Check: OK" << std::flush;
    return;
  }
  // Every problem in one box, in list order; each line ends in a line feed.
  requireHostFunction(hostApi().hvMessageBox, "hvMessageBox")(problems.c_str());
}

}  // namespace daxo
