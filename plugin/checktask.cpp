#include <fstream>
#include <string>
#include <vector>

#include "fileio/dmrheader.h"
#include "fileio/fileerrors.h"
#include "fileio/fmrheader.h"
#include "fileio/inputfile.h"
#include "fileio/paths.h"
#include "fileio/voxeldata.h"
#include "plugin/filelist.h"
#include "plugin/hostapi.h"
#include "plugin/tasks.h"
#include "protocol/dialogkeys.h"

namespace daxo {

namespace {

// The problem with a project's data file ("" when there is none): its header
// must read and describe data, and the data file must open and hold at least
// what the header implies. A project whose data file was missing used to pass.
template <typename Header>
std::string dataProblemOf(const std::string& path, VoxelOrder order) {
  Header header;
  try {
    header.loadHeader(path);
  } catch (const IOError& e) {
    return e.what();
  }
  const DataLayout layout = layoutOf(header, order);
  const std::string layoutIssue = layoutProblem(layout);
  if (!layoutIssue.empty()) return "header values cannot describe data: " + layoutIssue;
  const std::string dataPath = header.dataFileName();
  std::ifstream data;
  if (!openInputFile(data, dataPath)) return "its data file " + dataPath + " is missing or cannot be read";
  const int64_t bytes = bytesLeft(data);
  if (bytes >= 0 && bytes < layout.fileBytes()) {
    return "its data file " + dataPath + " is incomplete: " + std::to_string(bytes) + " of " +
           std::to_string(layout.fileBytes()) + " bytes";
  }
  return "";
}

// The problem line of one listed path ("" when it is fine): the extension
// must be a lower-case "fmr" or "dmr", the file must open, and its data file
// must be there in full. A directory counts as unreadable even where the
// system lets it be opened.
std::string problemOf(const std::string& path) {
  if (!hasExtension(path, "fmr") && !hasExtension(path, "dmr")) return path + ": not an FMR or DMR file\n";
  std::ifstream in;
  if (!openInputFile(in, path)) return path + ": could not read file\n";
  const std::string dataProblem = hasExtension(path, "fmr") ? dataProblemOf<FMRHeader>(path, VoxelOrder::SliceMajor)
                                                            : dataProblemOf<DMRHeader>(path, VoxelOrder::VolumeMajor);
  return dataProblem.empty() ? "" : path + ": " + dataProblem + "\n";
}

}  // namespace

void runCheck(std::ostream& log) {
  const std::vector<std::string> paths = splitFileList(readStringParameter(dialogkeys::kFiles));
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
