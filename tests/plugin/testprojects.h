#pragma once

#include <string>
#include <vector>

#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "fileio/mapfile.h"
#include "volume/volume.h"

// Projects and map files written by the tests themselves, for running the
// plugin's tasks on them.

namespace daxo::testing {

enum class Voxels { Int16, Float32 };

// `count` volumes of extents d, voxel (x, y, z) of volume t holding
// 50 + (7x + 13y + 3z + 5t) % 200: integer values that 16-bit files keep
// exactly, different in every neighbouring voxel.
std::vector<Volume> patternVolumes(const Dimensions& d, int count);

// Writes an FMR project (header and STC data) at `path` with `volumes`, all of
// extents d (no data file when there are none: NrOfVolumes is then 0). The
// header refers to an anatomical file, "anat.amr", shown. Returns the project
// as written.
FMRHeader writeFmrProject(const std::string& path, const Dimensions& d, const std::vector<Volume>& volumes,
                          Voxels voxels);

// The same for a DMR project (header and DWI data, DataStorageFormat 3) with
// DisplayVolume `displayVolume`.
DMRHeader writeDmrProject(const std::string& path, const Dimensions& d, const std::vector<Volume>& volumes,
                          Voxels voxels, int32_t displayVolume = 0);

// The project (FMRHeader or DMRHeader) at `path`, read with its data.
template <typename Header>
Header readProject(const std::string& path) {
  Header project;
  project.loadWithData(path);
  return project;
}

// The map file at `path`, read with its data.
MapFile readMap(const std::string& path);

// Saves `map` through the stand-in host's map file writer, the way maps of
// the estimate task reach the disk.
void writeMapFile(const std::string& path, const Volume& map);

}  // namespace daxo::testing
