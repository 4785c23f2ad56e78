#include "plugin/undistort.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "correction/vdm.h"
#include "fileio/paths.h"
#include "fileio/projectfiles.h"
#include "volume/columnthreads.h"

namespace daxo {

namespace {

// The copy must not point at the original's anatomical reference: its
// geometry now differs from the distorted run that reference was aligned to.
template <typename Header>
void detachAnatomicalReference(Header& project) {
  if (project.loadAMRFile.present) project.loadAMRFile.value.clear();
  if (project.showAMRFile.present) project.showAMRFile.value = false;
}

// The copy's data file is named after the copy (run1_undist.stc). A source
// whose Prefix already names that file (a renamed copy, say) would have the
// data its header refers to replaced by the corrected data; that is refused.
template <typename Header>
void refuseReplacingSourceData(const Header& project, const std::string& copyPath, const char* dataExtension) {
  const std::string sourceData = project.dataFileName();
  const std::string copyData = dataFileNameOf(copyPath, stripExtension(fileNameOf(copyPath)), dataExtension);
  std::error_code ignored;
  if (sourceData == copyData || std::filesystem::equivalent(sourceData, copyData, ignored)) {
    throw std::runtime_error("The corrected copy " + copyPath + " would replace the data file " + sourceData +
                             " of its source " + project.fileName);
  }
}

// The steps both project kinds share; `path` is where the project was loaded
// from.
template <typename Header>
void writeUndistortedCopy(const Volume& map, const std::string& path, Header& project, const char* dataExtension,
                          bool transposed) {
  requireVolumes(path, project.volumes.size());
  const std::string copyPath = withSuffix(path, "_undist");
  refuseReplacingSourceData(project, copyPath, dataExtension);
  detachAnatomicalReference(project);
  ColumnThreads threads(threadCount());
  correctVolumes(map, project.volumes, transposed, &threads);
  project.saveAs(copyPath);
}

}  // namespace

void requireVolumes(const std::string& path, size_t volumeCount) {
  if (volumeCount == 0) throw std::runtime_error("Project has no volumes to correct: " + path);
}

void writeUndistortedFmr(const Volume& map, FMRHeader& project, bool transposed) {
  writeUndistortedCopy(map, project.fileName, project, "stc", transposed);
}

void writeUndistortedDmr(const Volume& map, const std::string& path, DMRHeader& project, bool transposed) {
  writeUndistortedCopy(map, path, project, "dwi", transposed);
}

}  // namespace daxo
