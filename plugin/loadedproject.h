#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "fileio/projectheaderfields.h"
#include "fileio/volumereader.h"
#include "volume/volume.h"

// One project of the estimate task's pair: an FMR project when its path ends
// in ".fmr" (exact case), a DMR project for any other name. Its header is
// loaded and its data file kept open; volumes are read when they are used, so
// the task holds a few volumes whatever the length of the series.

namespace daxo {

struct LoadedProject {
  std::string path;                            // as the dialog gave it
  std::variant<FMRHeader, DMRHeader> project;  // the header, without volumes
  std::optional<VolumeReader> data;            // the project's data file

  int32_t volumeCount() const { return data->volumeCount(); }
  // (ResolutionX, ResolutionY, NrOfSlices).
  Dimensions extents() const { return data->extents(); }
  const ProjectHeaderFields& header() const;
};

// Loads the header of the project at `path` and opens its data file, with
// every check of loading the data (the data file's size included). Throws the
// readers' file errors, and std::runtime_error naming the path when it holds
// no volume.
LoadedProject loadProject(const std::string& path);

// Reads the volume `index` (counted from 0) of the project. Throws
// std::runtime_error "Cannot use volume " + index + " of file " + path +
// ", which has only " + count + " volumes." when it is not below the count;
// the index is taken as an unsigned 32-bit number, so -1 reads 4294967295.
Volume selectVolume(LoadedProject& project, int32_t index);

// The voxel size (mm; x, y, z) from the header: InplaneResolutionX,
// InplaneResolutionY and SliceThickness + SliceGap (summed in single
// precision); with `transposed` x and y change places. Throws
// std::runtime_error naming the path when a size is not a positive finite
// number: the estimation's filter widths are divided by them.
std::array<double, 3> voxelSizeOf(const LoadedProject& project, bool transposed);

// Corrects every volume of the project with `map` (in the working frame:
// transposed when `transposed`) and writes the "_undist" copy beside it (see
// plugin/undistort.h).
void writeUndistorted(const Volume& map, LoadedProject& project, bool transposed);

}  // namespace daxo
