#include "plugin/undistort.h"

#include <stdexcept>

#include "correction/vdm.h"
#include "fileio/paths.h"

namespace daxo {

namespace {

// The copy must not point at the original's anatomical reference: its
// geometry now differs from the distorted run that reference was aligned to.
template <typename Header>
void detachAnatomicalReference(Header& project) {
  if (project.loadAMRFile.present) project.loadAMRFile.value.clear();
  if (project.showAMRFile.present) project.showAMRFile.value = false;
}

}  // namespace

void requireVolumes(const std::string& path, size_t volumeCount) {
  if (volumeCount == 0) throw std::runtime_error("Project has no volumes to correct: " + path);
}

void writeUndistortedFmr(const Volume& map, FMRHeader& project, bool transposed) {
  requireVolumes(project.fileName, project.volumes.size());
  detachAnatomicalReference(project);
  correctVolumes(map, project.volumes, transposed);
  project.saveAs(withSuffix(project.fileName, "_undist"));
}

void writeUndistortedDmr(const Volume& map, const std::string& path, DMRHeader& project, bool transposed) {
  requireVolumes(path, project.volumes.size());
  detachAnatomicalReference(project);
  correctVolumes(map, project.volumes, transposed);
  project.saveAs(withSuffix(path, "_undist"));
}

}  // namespace daxo
