#include "host/mapfileformat.h"

#include <algorithm>
#include <stdexcept>

#include "fileio/fileerrors.h"
#include "fileio/mapfile.h"

namespace daxo::host {

namespace {

// The file record of `map` as the host writes it.
MapFile writtenMapFileOf(const HostMap& map, const std::string& referenceName) {
  const Dimensions& d = map.extents();
  Volume values(d.x, d.y, d.z);
  std::copy(map.values().begin(), map.values().end(), values.data());
  return writtenMapFile(std::move(values), map.firstValue, map.secondValue, referenceName);
}

[[noreturn]] void failLoad(const std::string& path, const std::string& problem) {
  throw std::runtime_error("cannot read map file " + path + ": " + problem);
}

}  // namespace

std::vector<unsigned char> encodeMapFile(const HostMap& map, const std::string& referenceName) {
  return daxo::encodeMapFile(writtenMapFileOf(map, referenceName));
}

void saveMapFile(const std::string& path, const HostMap& map, const std::string& referenceName) {
  daxo::saveMapFile(path, writtenMapFileOf(map, referenceName));
}

HostMap loadMapFile(const std::string& path) {
  // The header first, so that an empty map is named as such.
  MapFile file;
  try {
    file.loadHeader(path);
  } catch (const OpenFileError&) {
    failLoad(path, "the file cannot be opened");
  } catch (const IOError& e) {
    failLoad(path, e.what());
  }
  if (file.nrOfColumns == 0 || file.nrOfRows == 0 || file.nrOfSlices == 0) failLoad(path, "the map is empty");
  try {
    file.loadWithData(path);
  } catch (const IOError& e) {
    failLoad(path, e.what());
  }
  HostMap map(file.volume.dimensions());
  std::copy_n(file.volume.data(), file.volume.voxelCount(), map.values().data());
  map.kind = file.mapType;
  map.firstValue = file.firstFloat;
  map.secondValue = file.secondFloat;
  return map;
}

}  // namespace daxo::host
