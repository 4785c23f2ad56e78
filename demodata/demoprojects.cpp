#include "demodata/demoprojects.h"

#include <stdexcept>

namespace daxo {

namespace {

// Values start at this column, as in the headers scanners' converters write.
constexpr int32_t kValueColumn = 32;

IntField intField(const char* name, int32_t value) { return {name, value, kValueColumn, true}; }
FloatField floatField(const char* name, float value) { return {name, value, kValueColumn, true}; }
BoolField boolField(const char* name, bool value) { return {name, value, kValueColumn, true}; }
TextField textField(const char* name, const std::string& value) { return {name, value, kValueColumn, true, true}; }
YesNoField yesNoField(const char* name, bool value) { return {name, value, kValueColumn, true}; }

// The keys both project kinds share. Prefix is set by saveAs.
void fillSharedFields(ProjectHeaderFields& h, const DemoSettings& s, size_t volumes, int32_t dataType) {
  const float voxel = static_cast<float>(s.voxelMm);
  h.nrOfVolumes = intField("NrOfVolumes", static_cast<int32_t>(volumes));
  h.nrOfSlices = intField("NrOfSlices", s.nz);
  h.nrOfSkippedVolumes = intField("NrOfSkippedVolumes", 0);
  h.prefix = textField("Prefix", "");
  h.dataType = intField("DataType", dataType);
  h.timeResolutionVerified = boolField("TimeResolutionVerified", false);
  h.sliceAcquisitionOrder = intField("SliceAcquisitionOrder", 0);
  h.sliceAcquisitionOrderVerified = boolField("SliceAcquisitionOrderVerified", false);
  h.resolutionX = intField("ResolutionX", s.nx);
  h.resolutionY = intField("ResolutionY", s.ny);
  h.loadAMRFile = textField("LoadAMRFile", "");
  h.showAMRFile = boolField("ShowAMRFile", false);
  h.imageIndex = intField("ImageIndex", 0);
  // Slices shown eight to a row.
  h.layoutNColumns = intField("LayoutNColumns", 8);
  h.layoutNRows = intField("LayoutNRows", (s.nz + 7) / 8);
  h.layoutZoomLevel = intField("LayoutZoomLevel", 1);
  h.segmentSize = intField("SegmentSize", 10);
  h.segmentOffset = intField("SegmentOffset", 0);
  h.inplaneResolutionX = floatField("InplaneResolutionX", voxel);
  h.inplaneResolutionY = floatField("InplaneResolutionY", voxel);
  h.sliceThickness = floatField("SliceThickness", voxel);
  h.sliceGap = floatField("SliceGap", 0.0f);
  h.voxelResolutionVerified = boolField("VoxelResolutionVerified", true);
}

}  // namespace

FMRHeader saveFunctionalProject(const std::string& path, const DemoSettings& settings,
                                const std::vector<Volume>& volumes) {
  constexpr int32_t kTrMs = 2000;
  FMRHeader project;
  project.fileName = path;
  project.fileVersion = intField("FileVersion", 7);
  fillSharedFields(project, settings, volumes.size(), 2);
  project.dataStorageFormat = intField("DataStorageFormat", 2);
  project.tr = intField("TR", kTrMs);
  project.interSliceTime = intField("InterSliceTime", kTrMs / settings.nz);
  project.te = intField("TE", 30);
  project.nrOfLinkedProtocols = intField("NrOfLinkedProtocols", 0);
  project.volumes = volumes;
  project.saveAs(path);
  return project;
}

DMRHeader saveDiffusionProject(const std::string& path, const DemoSettings& settings,
                               const std::vector<Volume>& volumes, const std::vector<DiffusionGradient>& gradients) {
  if (volumes.size() != gradients.size()) {
    throw std::invalid_argument("saveDiffusionProject: " + std::to_string(volumes.size()) + " volumes but " +
                                std::to_string(gradients.size()) + " gradient table rows");
  }
  DMRHeader project;
  project.fileName = path;
  project.fileVersion = intField("FileVersion", 3);
  fillSharedFields(project, settings, volumes.size(), 1);
  project.dataStorageFormat = intField("DataStorageFormat", 3);
  project.tr = intField("TR", 8000);
  project.interSliceTime = intField("InterSliceTime", 8000 / settings.nz);
  project.te = intField("TE", 80);
  project.displayVolume = intField("DisplayVolume", 0);
  project.protocolFile = textField("ProtocolFile", "");
  project.gradientDirectionsVerified = yesNoField("GradientDirectionsVerified", true);
  project.gradientInformationAvailable = yesNoField("GradientInformationAvailable", true);
  for (const DiffusionGradient& g : gradients) {
    project.gradientDirections.push_back({static_cast<float>(g.x), static_cast<float>(g.y), static_cast<float>(g.z)});
    project.bValues.push_back(static_cast<float>(g.bValue));
  }
  project.volumes = volumes;
  project.saveAs(path);
  return project;
}

}  // namespace daxo
