#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "volume/volume.h"

namespace daxo::pipeline {

// One volume of a project as stored (phase encoding along y unless the user
// says x), with the voxel size (mm) its header gives.
struct ProjectVolume {
  Volume volume;
  std::array<double, 3> voxelSizeMm{1.0, 1.0, 1.0};
  int32_t volumeCount = 0;
};

// Reads volume `index` (from 0) of the project at `path`: a path ending in
// ".fmr" is a functional project, any other a diffusion project, as the
// plugin reads them. Throws the file readers' errors, and std::runtime_error
// naming the file for an index past the last volume or a voxel size that is
// not positive.
ProjectVolume readProjectVolume(const std::string& path, int32_t index);

}  // namespace daxo::pipeline
