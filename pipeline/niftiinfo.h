#pragma once

#include <cstddef>
#include <string>

namespace daxo::pipeline {

// What `daxo info` says of a NIfTI file and the BIDS files beside it: kind,
// extents, volumes, voxel size, data type and scaling, orientation, phase
// encoding, readout time, b-values, and "Problem:" lines for what an
// estimation would miss, counted in `problems` when given. Throws the
// readers' errors, naming the file, when the image or a file beside it cannot
// be read.
std::string describeNifti(const std::string& path, size_t* problems = nullptr);

}  // namespace daxo::pipeline
