#include "plugin/loadedproject.h"

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "fileio/paths.h"
#include "plugin/undistort.h"

namespace daxo {

const ProjectHeaderFields& LoadedProject::header() const {
  return std::visit([](const auto& p) -> const ProjectHeaderFields& { return p; }, project);
}

LoadedProject loadProject(const std::string& path) {
  LoadedProject loaded{path, FMRHeader(), std::nullopt};
  if (hasExtension(path, "fmr")) {
    FMRHeader& header = std::get<FMRHeader>(loaded.project);
    header.loadHeader(path);
    loaded.data.emplace(header.openVolumes());
  } else {
    loaded.project = DMRHeader();
    DMRHeader& header = std::get<DMRHeader>(loaded.project);
    header.loadHeader(path);
    loaded.data.emplace(header.openVolumes());
  }
  // Without a volume there is nothing to compare or estimate from.
  requireVolumes(path, static_cast<size_t>(loaded.volumeCount()));
  return loaded;
}

Volume selectVolume(LoadedProject& project, int32_t index) {
  const uint32_t unsignedIndex = static_cast<uint32_t>(index);
  const uint32_t count = static_cast<uint32_t>(project.volumeCount());
  if (unsignedIndex >= count) {
    throw std::runtime_error("Cannot use volume " + std::to_string(unsignedIndex) + " of file " + project.path +
                             ", which has only " + std::to_string(count) + " volumes.");
  }
  std::vector<Volume> one(1);
  project.data->read(static_cast<int32_t>(unsignedIndex), one);
  return std::move(one.front());
}

std::array<double, 3> voxelSizeOf(const LoadedProject& project, bool transposed) {
  const ProjectHeaderFields& h = project.header();
  const float sliceDistance = h.sliceThickness.value + h.sliceGap.value;
  std::array<double, 3> size{h.inplaneResolutionX.value, h.inplaneResolutionY.value, sliceDistance};
  for (double s : size) {
    if (!(std::isfinite(s) && s > 0.0)) {
      std::ostringstream text;
      text << "Cannot estimate from " << project.path << ": its voxel size must be positive, not "
           << h.inplaneResolutionX.value << " x " << h.inplaneResolutionY.value << " x " << sliceDistance
           << " mm (InplaneResolutionX, InplaneResolutionY, SliceThickness + SliceGap).";
      throw std::runtime_error(text.str());
    }
  }
  if (transposed) std::swap(size[0], size[1]);
  return size;
}

void writeUndistorted(const Volume& map, LoadedProject& project, bool transposed) {
  if (auto* fmr = std::get_if<FMRHeader>(&project.project)) {
    writeUndistortedFmr(map, *fmr, *project.data, transposed);
  } else {
    writeUndistortedDmr(map, project.path, std::get<DMRHeader>(project.project), *project.data, transposed);
  }
}

}  // namespace daxo
