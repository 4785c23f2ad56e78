#include "tests/plugin/testprojects.h"

#include "fileio/paths.h"
#include "host/fmrdocument.h"
#include "host/mapfileformat.h"

namespace daxo::testing {

namespace {

// The header fields both project kinds need, as a header file would hold them.
template <typename Header>
void fillCommonFields(Header& project, const std::string& path, const Dimensions& d, size_t volumes, Voxels voxels) {
  project.fileName = path;
  project.fileVersion = {"FileVersion", 7, 32, true};
  project.nrOfVolumes = {"NrOfVolumes", static_cast<int32_t>(volumes), 32, true};
  project.nrOfSlices = {"NrOfSlices", d.z, 32, true};
  project.prefix = {"Prefix", "", 32, true, true};
  project.dataType = {"DataType", voxels == Voxels::Float32 ? 2 : 1, 32, true};
  project.resolutionX = {"ResolutionX", d.x, 32, true};
  project.resolutionY = {"ResolutionY", d.y, 32, true};
  project.loadAMRFile = {"LoadAMRFile", "anat.amr", 32, true, true};
  project.showAMRFile = {"ShowAMRFile", true, 32, true};
  project.inplaneResolutionX = {"InplaneResolutionX", 3.0f, 32, true};
  project.inplaneResolutionY = {"InplaneResolutionY", 3.0f, 32, true};
  project.sliceThickness = {"SliceThickness", 3.0f, 32, true};
}

// saveAs names the data file after the header and sets Prefix.
template <typename Header>
void saveProject(Header& project, const std::vector<Volume>& volumes) {
  project.volumes = volumes;
  if (volumes.empty()) {
    project.prefix.value = stripExtension(fileNameOf(project.fileName));
    project.save();
  } else {
    project.saveAs(project.fileName);
  }
}

}  // namespace

std::vector<Volume> patternVolumes(const Dimensions& d, int count) {
  std::vector<Volume> volumes;
  for (int t = 0; t < count; ++t) {
    Volume v(d);
    for (int32_t z = 0; z < d.z; ++z)
      for (int32_t y = 0; y < d.y; ++y)
        for (int32_t x = 0; x < d.x; ++x) v(x, y, z) = static_cast<float>(50 + (7 * x + 13 * y + 3 * z + 5 * t) % 200);
    volumes.push_back(std::move(v));
  }
  return volumes;
}

FMRHeader writeFmrProject(const std::string& path, const Dimensions& d, const std::vector<Volume>& volumes,
                          Voxels voxels) {
  FMRHeader project;
  fillCommonFields(project, path, d, volumes.size(), voxels);
  project.dataStorageFormat = {"DataStorageFormat", 2, 32, true};
  saveProject(project, volumes);
  return project;
}

DMRHeader writeDmrProject(const std::string& path, const Dimensions& d, const std::vector<Volume>& volumes,
                          Voxels voxels, int32_t displayVolume) {
  DMRHeader project;
  fillCommonFields(project, path, d, volumes.size(), voxels);
  project.dataStorageFormat = {"DataStorageFormat", 3, 32, true};
  project.displayVolume = {"DisplayVolume", displayVolume, 32, true};
  saveProject(project, volumes);
  return project;
}

MapFile readMap(const std::string& path) {
  MapFile map;
  map.loadWithData(path);
  return map;
}

void writeMapFile(const std::string& path, const Volume& map) {
  host::saveMapFile(path, host::hostMapOf(map), "run_vdm");
}

}  // namespace daxo::testing
