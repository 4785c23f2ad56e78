#include "fileio/filesummary.h"

#include <cmath>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <vector>

#include "fileio/dmrheader.h"
#include "fileio/fileerrors.h"
#include "fileio/fmrheader.h"
#include "fileio/headerfields.h"
#include "fileio/mapfile.h"
#include "fileio/paths.h"
#include "fileio/voxeldata.h"

namespace daxo {

namespace {

// Size of a regular file; -1 when it is missing or not a regular file.
int64_t regularFileSize(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return -1;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<int64_t>(size);
}

std::string extentsText(int64_t x, int64_t y, int64_t z) {
  return std::to_string(x) + " x " + std::to_string(y) + " x " + std::to_string(z);
}

const char* voxelTypeText(VoxelType type) { return type == VoxelType::Float32 ? "32-bit float" : "16-bit integer"; }

std::string sizeVerdict(int64_t actual, int64_t expected) {
  if (actual < 0) return "missing";
  const std::string sizes = std::to_string(actual) + " bytes";
  if (expected < 0) return sizes + ", expected size unknown";
  if (actual == expected) return "complete, " + sizes;
  if (actual < expected) return "incomplete: " + sizes + " of " + std::to_string(expected);
  return "not matching: " + sizes + ", header implies " + std::to_string(expected);
}

void requireKey(const std::string& key, bool present, std::vector<std::string>& problems) {
  if (!present) problems.push_back("key " + key + ": is missing");
}

void requirePositive(const std::string& what, float value, std::vector<std::string>& problems) {
  if (!(value > 0.0f) || !std::isfinite(value)) problems.push_back(what + " is " + formatFloat(value));
}

// What the two project kinds share: extents, volumes, voxel size, data type,
// data file and the problems of their shared keys.
void describeProject(std::ostream& out, const ProjectHeaderFields& h, VoxelOrder order, const std::string& dataPath,
                     std::vector<std::string>& problems) {
  requireKey("NrOfVolumes", h.nrOfVolumes.present, problems);
  requireKey("NrOfSlices", h.nrOfSlices.present, problems);
  requireKey("ResolutionX", h.resolutionX.present, problems);
  requireKey("ResolutionY", h.resolutionY.present, problems);
  requireKey("Prefix", h.prefix.present, problems);
  const DataLayout layout = layoutOf(h, order);
  const std::string layoutIssue = layoutProblem(layout);
  if (!layoutIssue.empty()) problems.push_back(layoutIssue);
  const float dz = h.sliceThickness.value + h.sliceGap.value;
  requirePositive("InplaneResolutionX", h.inplaneResolutionX.value, problems);
  requirePositive("InplaneResolutionY", h.inplaneResolutionY.value, problems);
  requirePositive("SliceThickness + SliceGap", dz, problems);

  out << "Extents (x, y, z): " << extentsText(layout.columns, layout.rows, layout.slices) << "\n";
  out << "Volumes: " << layout.volumes << "\n";
  out << "Voxel size (mm): " << formatFloat(h.inplaneResolutionX.value) << " x "
      << formatFloat(h.inplaneResolutionY.value) << " x " << formatFloat(dz) << "\n";
  out << "Data type: " << voxelTypeText(layout.voxelType) << "\n";
  const int64_t expected = layoutIssue.empty() ? layout.fileBytes() : -1;
  const int64_t actual = regularFileSize(dataPath);
  out << "Data file: " << dataPath << " (" << sizeVerdict(actual, expected) << ")\n";
  if (actual < 0) problems.push_back("the data file " + dataPath + " is missing");
  if (actual >= 0 && actual < expected) problems.push_back("the data file " + dataPath + " is incomplete");
  if (expected >= 0 && actual > expected) {
    problems.push_back("the data file " + dataPath +
                       " is larger than its header implies (a wrong data type or extents)");
  }
}

void describeFmr(std::ostream& out, const std::string& path, std::vector<std::string>& problems) {
  FMRHeader h;
  h.loadHeader(path);
  out << "Kind: FMR project (functional, slice-major STC data)\n";
  describeProject(out, h, VoxelOrder::SliceMajor, h.dataFileName(), problems);
}

void describeDmr(std::ostream& out, const std::string& path, std::vector<std::string>& problems) {
  DMRHeader h;
  h.loadHeader(path);
  out << "Kind: DMR project (diffusion, volume-major DWI data)\n";
  describeProject(out, h, VoxelOrder::VolumeMajor, h.dataFileName(), problems);
  if (h.dataStorageFormat.value != 3) {
    problems.push_back("DataStorageFormat is " + std::to_string(h.dataStorageFormat.value) + "; only 3 can be read");
  }
  if (h.gradientInformationAvailable.value && h.gradientDirections.size() != static_cast<size_t>(h.nrOfVolumes.value)) {
    problems.push_back("the gradient table has " + std::to_string(h.gradientDirections.size()) + " entries for " +
                       std::to_string(h.nrOfVolumes.value) + " volumes");
  }
}

void describeMap(std::ostream& out, const std::string& path, std::vector<std::string>& problems) {
  MapFile map;
  try {
    map.loadHeader(path);
  } catch (const ReadFileError& e) {
    throw ReadFileError("Cannot read map file " + path + ": " + e.what());
  }
  out << "Kind: map file (type " << map.mapType << ", format level " << map.formatLevel << ")\n";
  out << "Extents (x, y, z): " << extentsText(map.nrOfColumns, map.nrOfRows, map.nrOfSlices) << "\n";
  out << "Volumes: 1\n";
  out << "Voxel size (mm): not stored in map files\n";
  out << "Data type: 32-bit float\n";
  const int64_t actual = regularFileSize(path);
  out << "Data file: " << path << " (" << sizeVerdict(actual, map.expectedFileBytes()) << ")\n";
  if (actual < map.expectedFileBytes()) problems.push_back("the map file is incomplete");
  out << "Reference name: " << map.referenceName << "\n";
  if (map.nrOfColumns == 0 || map.nrOfRows == 0 || map.nrOfSlices == 0) problems.push_back("the map has no voxels");
}

}  // namespace

std::string summarizeFile(const std::string& path, size_t* problemCount) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) throw OpenFileError("File not found: " + path);
  if (!std::filesystem::is_regular_file(path, ec)) throw OpenFileError("Not a regular file: " + path);
  std::ostringstream out;
  out << "File: " << path << "\n";
  std::vector<std::string> problems;
  if (hasExtension(path, "fmr")) {
    describeFmr(out, path, problems);
  } else if (hasExtension(path, "dmr")) {
    describeDmr(out, path, problems);
  } else if (hasExtension(path, "map")) {
    describeMap(out, path, problems);
  } else {
    throw IOError("Not an FMR, DMR or map file: " + path);
  }
  for (const std::string& p : problems) out << "Problem: " << p << "\n";
  if (problemCount != nullptr) *problemCount = problems.size();
  return out.str();
}

}  // namespace daxo
