#include "pipeline/projectvolume.h"

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "fileio/paths.h"
#include "fileio/volumereader.h"

namespace daxo::pipeline {

namespace {

// Only the volume asked for is read (after every check of loading the data),
// so a report on a long series holds one volume of it.
template <typename Header>
ProjectVolume readVolume(const std::string& path, int32_t index) {
  Header header;
  header.loadHeader(path);
  VolumeReader data = header.openVolumes();
  ProjectVolume result;
  result.volumeCount = data.volumeCount();
  if (index < 0 || index >= result.volumeCount) {
    throw std::runtime_error(path + " has " + std::to_string(result.volumeCount) + " volumes; there is no volume " +
                             std::to_string(index));
  }
  std::vector<Volume> one(1);
  data.read(index, one);
  result.volume = std::move(one.front());
  result.voxelSizeMm = {header.inplaneResolutionX.value, header.inplaneResolutionY.value,
                        header.sliceThickness.value + header.sliceGap.value};
  for (double s : result.voxelSizeMm) {
    if (!(std::isfinite(s) && s > 0.0)) {
      std::ostringstream text;
      text << path << ": the voxel size must be positive, not " << result.voxelSizeMm[0] << " x "
           << result.voxelSizeMm[1] << " x " << result.voxelSizeMm[2] << " mm";
      throw std::runtime_error(text.str());
    }
  }
  return result;
}

}  // namespace

ProjectVolume readProjectVolume(const std::string& path, int32_t index) {
  return hasExtension(path, "fmr") ? readVolume<FMRHeader>(path, index) : readVolume<DMRHeader>(path, index);
}

}  // namespace daxo::pipeline
