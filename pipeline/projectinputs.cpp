#include "pipeline/projectinputs.h"

#include <stdexcept>

#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "fileio/mapfile.h"
#include "fileio/paths.h"
#include "fileio/platformfile.h"
#include "pipeline/projectvolume.h"
#include "volume/volumetransform.h"

namespace daxo::pipeline {

namespace {

template <typename Header>
std::optional<Dimensions> extentsOf(const std::string& path) {
  try {
    Header header;
    header.loadHeader(path);
    return Dimensions{header.resolutionX.value, header.resolutionY.value, header.nrOfSlices.value};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

template <typename Header>
std::string dataFileOf(const std::string& path) {
  try {
    Header header;
    header.loadHeader(path);
    return header.dataFileName();
  } catch (const std::exception&) {
    return "";
  }
}

// The data file the project's header names; "" when it cannot be read.
std::string statedDataFile(const std::string& path) {
  return hasExtension(path, "fmr") ? dataFileOf<FMRHeader>(path) : dataFileOf<DMRHeader>(path);
}

}  // namespace

void checkTwoScans(const std::string& first, const std::string& second) {
  const std::string data0 = statedDataFile(first), data1 = statedDataFile(second);
  if (data0.empty() || data1.empty()) return;
  const platform::FileIdentity a = platform::identityOf(data0), b = platform::identityOf(data1);
  if (a.known && a == b) {
    throw std::runtime_error(first + " and " + second + " are the same scan (both headers name the data file " + data0 +
                             "): a pair needs two scans of opposite phase encoding");
  }
}

std::optional<Dimensions> statedExtents(const std::string& path) {
  return hasExtension(path, "fmr") ? extentsOf<FMRHeader>(path) : extentsOf<DMRHeader>(path);
}

std::optional<Dimensions> statedMapExtents(const std::string& path) {
  try {
    MapFile map;
    map.loadHeader(path);
    return Dimensions{map.nrOfColumns, map.nrOfRows, map.nrOfSlices};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::vector<float> projectBValues(const std::string& path) {
  if (hasExtension(path, "fmr")) return {};
  try {
    DMRHeader header;
    header.loadHeader(path);
    if (header.gradientInformationAvailable.value) return header.bValues;
  } catch (const std::exception&) {
  }
  return {};
}

PhaseCheckVerdict checkProjectMap(const ProjectPair& pair, const std::string& mapPath, std::ostream& log) {
  const bool alongX = pair.alongX;
  const auto working = [alongX](const Volume& v) { return alongX ? transposeXY(v) : v; };
  MapFile map;
  map.loadWithData(mapPath);
  return checkPhaseEncoding(working(readProjectVolume(pair.file0, pair.volume0).volume),
                            working(readProjectVolume(pair.file1, pair.volume1).volume), working(map.volume),
                            {alongX ? "x" : "y", alongX ? "y" : "x", alongX ? "--rllr (given)" : "--rllr (not given)"},
                            log);
}

}  // namespace daxo::pipeline
