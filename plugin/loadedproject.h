#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "fileio/projectheaderfields.h"
#include "volume/volume.h"

// One project of the estimate task's pair, loaded whole: an FMR project when
// its path ends in ".fmr" (exact case), a DMR project for any other name.

namespace daxo {

struct LoadedProject {
  std::string path;  // as the dialog gave it
  std::variant<FMRHeader, DMRHeader> project;

  const std::vector<Volume>& volumes() const;
  const ProjectHeaderFields& header() const;
};

// Loads the project at `path` with all its volumes. Throws the readers' file
// errors, and std::runtime_error naming the path when it holds no volume.
LoadedProject loadProject(const std::string& path);

// The volume `index` (counted from 0) of the project. Throws
// std::runtime_error "Cannot use volume " + index + " of file " + path +
// ", which has only " + count + " volumes." when it is not below the count;
// the index is taken as an unsigned 32-bit number, so -1 reads 4294967295.
const Volume& selectVolume(const LoadedProject& project, int32_t index);

// The voxel size (mm; x, y, z) from the header: InplaneResolutionX,
// InplaneResolutionY and SliceThickness + SliceGap (summed in single
// precision); with `transposed` x and y change places. Throws
// std::runtime_error naming the path when a size is not a positive finite
// number: the estimation's filter widths are divided by them.
std::array<double, 3> voxelSizeOf(const LoadedProject& project, bool transposed);

// Corrects every volume of the project with `map` (in the working frame:
// transposed when `transposed`) and writes the "_undist" copy beside it.
// The project's volumes are replaced by the corrected ones.
void writeUndistorted(const Volume& map, LoadedProject& project, bool transposed);

}  // namespace daxo
