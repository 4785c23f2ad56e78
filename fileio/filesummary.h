#pragma once

#include <cstddef>
#include <string>

namespace daxo {

// A short multi-line description of a functional project (".fmr"), a
// diffusion project (".dmr") or a map file (".map"), for `daxo info`: kind,
// extents (x, y, z), number of volumes, voxel size in mm (z: SliceThickness +
// SliceGap, as the estimation uses it), data type, the data file and whether
// its size matches what the header implies. Only headers are read, never the
// voxel data. Header values that make no sense (missing or
// negative counts, an unreadable storage format, non-positive voxel sizes) and
// a data file that is missing or shorter than the header implies are listed on
// "Problem: " lines, counted in *problemCount when given; the description is
// still returned.
//
// Throws an IOError naming the file when it cannot be read at all: it does not
// exist, it is not a file, its extension is none of the three, or a map
// header ends early.
std::string summarizeFile(const std::string& path, size_t* problemCount = nullptr);

}  // namespace daxo
