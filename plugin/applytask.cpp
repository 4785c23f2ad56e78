#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "fileio/inputfile.h"
#include "fileio/mapfile.h"
#include "fileio/paths.h"
#include "fileio/volumereader.h"
#include "plugin/filelist.h"
#include "plugin/hostapi.h"
#include "plugin/tasks.h"
#include "plugin/undistort.h"
#include "protocol/dialogkeys.h"
#include "volume/volumetransform.h"

namespace daxo {

namespace {

const char* const kFmrQuestion =
    "Dimensions of the datasets don't match!\nDo you want to resize the VDM to the FMR dimensions?\n\n"
    "(they need to have the same field of view)";
const char* const kDmrQuestion =
    "Dimensions of the datasets don't match!\nDo you want to resize the VDM to the DMR dimensions?\n\n"
    "(they need to have the same field of view)";

std::string extentsText(const Dimensions& d) {
  return std::to_string(d.x) + " x " + std::to_string(d.y) + " x " + std::to_string(d.z);
}

// The displacement map as stored (in the projects' own frame) and the map
// the correction works with (transposed when the phase-encoding axis is x).
struct LoadedMap {
  std::string path;
  Volume stored;
  Volume working;
  bool transposed = false;
};

LoadedMap loadMap(const std::string& path, bool transposed) {
  MapFile file;
  file.loadWithData(path);
  const Dimensions d = file.volume.dimensions();
  // A map without voxels would be "resized" into a map of zeros and silently
  // leave every project uncorrected.
  if (file.volume.voxelCount() == 0) {
    throw std::runtime_error("Not a usable displacement map: " + path + " has extents " + extentsText(d));
  }
  // A displacement that is not a number wipes out every voxel it touches (an
  // all-NaN map gave an all-zero copy); refused before any project is read.
  const float* values = file.volume.data();
  for (size_t i = 0; i < file.volume.voxelCount(); ++i) {
    if (!std::isfinite(values[i])) {
      throw std::runtime_error("Not a usable displacement map: " + path + " holds values that are not finite numbers");
    }
  }
  LoadedMap map;
  map.path = path;
  map.transposed = transposed;
  map.working = transposed ? transposeXY(file.volume) : file.volume;
  map.stored = std::move(file.volume);
  return map;
}

// The map for a project whose volumes have `extents` (as stored). Extents
// are compared in the project's frame; on a mismatch the user may have the
// map stretched to the project's extents (same field of view assumed), which
// is done in the project's frame and transposed afterwards. Empty when the
// stored map fits as it is; throws when the user declines.
std::optional<Volume> resizedMapIfNeeded(const LoadedMap& map, const std::string& path, const Dimensions& extents,
                                         const char* question) {
  if (map.stored.dimensions() == extents) return std::nullopt;
  const int32_t yes = requireHostFunction(hostApi().hvYesNoMessageBox, "hvYesNoMessageBox")(question);
  if (yes == 0) {
    throw std::runtime_error("All datasets must have the same dimensions! The map " + map.path + " has " +
                             extentsText(map.stored.dimensions()) + " voxels, " + path + " has " +
                             extentsText(extents) + ".");
  }
  Volume resized(extents);
  resampleToSize(resized, map.stored);
  if (map.transposed) return transposeXY(resized);
  return resized;
}

// Lets the host show the map; only a display, so a host without the function
// is no reason to stop.
void showMapInHost(const std::string& mapPath) {
  if (hostApi().hvLoadMAPsToCurrentFMR != nullptr) hostApi().hvLoadMAPsToCurrentFMR(mapPath.c_str());
}

// Loads one project's header (FMRHeader or DMRHeader) and opens its data
// (every check of loading the data is made here, before anything is
// written), picks the map that fits it and hands map, project and data to
// `write`. The host shows the map when it is used unchanged for the first
// path of the list.
template <typename Header, typename Write>
void applyToProject(const LoadedMap& map, const std::string& path, bool firstPath, const char* question, Write write) {
  Header project;
  project.loadHeader(path);
  VolumeReader source = project.openVolumes();
  requireVolumes(path, static_cast<size_t>(source.volumeCount()));
  const std::optional<Volume> resized = resizedMapIfNeeded(map, path, source.extents(), question);
  if (resized) {
    write(*resized, project, source);
    return;
  }
  if (firstPath) showMapInHost(map.path);
  write(map.working, project, source);
}

}  // namespace

void runApply(std::ostream& log) {
  const InputTracking inputs;
  const int32_t rllr = requireHostFunction(hostApi().hvGetIntParameter, "hvGetIntParameter")(dialogkeys::kRllr);
  const std::string mapPath = readStringParameter(dialogkeys::kVdm);
  const std::vector<std::string> paths = splitFileList(readStringParameter(dialogkeys::kFiles));
  const bool transposed = rllr != 0;

  log << "Loading VDM..." << std::flush;
  const LoadedMap map = loadMap(mapPath, transposed);
  log << "Applying VDM..." << std::flush;

  for (const std::string& path : paths) {
    const bool firstPath = path == paths.front();
    if (hasExtension(path, "fmr")) {
      applyToProject<FMRHeader>(map, path, firstPath, kFmrQuestion,
                                [&](const Volume& m, FMRHeader& project, VolumeReader& source) {
                                  writeUndistortedFmr(m, project, source, transposed);
                                });
    } else if (hasExtension(path, "dmr")) {
      applyToProject<DMRHeader>(map, path, firstPath, kDmrQuestion,
                                [&](const Volume& m, DMRHeader& project, VolumeReader& source) {
                                  writeUndistortedDmr(m, path, project, source, transposed);
                                });
    } else {
      continue;
    }
    log << "Undistorted data saved as: " << withSuffix(path, kCorrectedSuffix) << std::flush;
  }
  log << "Done." << std::flush;
}

}  // namespace daxo
