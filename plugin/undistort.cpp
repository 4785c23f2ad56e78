#include "plugin/undistort.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "correction/vdm.h"
#include "fileio/paths.h"
#include "fileio/projectfiles.h"
#include "volume/assertion.h"
#include "volume/columnthreads.h"

namespace daxo {

namespace {

const char* const kModule = "undistort";

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

// The correction's own check, made before any file is created: the map is in
// the working frame, (ny, nx, nz) of the volumes when transposed.
void requireMapFits(const Volume& map, const Dimensions& extents, bool transposed) {
  const Dimensions working = transposed ? Dimensions{extents.y, extents.x, extents.z} : extents;
  check(map.dimensions() == working, kModule, 1, "map extents == volume extents (y and x swapped when transposed)");
}

// The steps both project kinds share; `path` is where the project was loaded
// from. Each run of volumes is read and corrected while the run before it is
// written (see writeVoxelDataInRuns).
template <typename Header>
void writeUndistortedCopy(const Volume& map, const std::string& path, Header& project, VolumeReader& source,
                          const char* dataExtension, bool transposed) {
  requireVolumes(path, static_cast<size_t>(source.volumeCount()));
  const std::string copyPath = withSuffix(path, kCorrectedSuffix);
  refuseReplacingSourceData(project, copyPath, dataExtension);
  requireMapFits(map, source.extents(), transposed);
  detachAnatomicalReference(project);
  ColumnThreads threads(threadCount());
  project.saveAs(copyPath, [&](int32_t first, std::vector<Volume>& run) {
    source.read(first, run);
    correctVolumes(map, run, transposed, &threads);
  });
}

}  // namespace

void requireVolumes(const std::string& path, size_t volumeCount) {
  if (volumeCount == 0) throw std::runtime_error("Project has no volumes to correct: " + path);
}

void writeUndistortedFmr(const Volume& map, FMRHeader& project, VolumeReader& source, bool transposed) {
  writeUndistortedCopy(map, project.fileName, project, source, "stc", transposed);
}

void writeUndistortedDmr(const Volume& map, const std::string& path, DMRHeader& project, VolumeReader& source,
                         bool transposed) {
  writeUndistortedCopy(map, path, project, source, "dwi", transposed);
}

}  // namespace daxo
