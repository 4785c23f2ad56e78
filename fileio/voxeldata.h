#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "fileio/headerfields.h"
#include "fileio/projectheaderfields.h"
#include "volume/volume.h"

namespace daxo {

// The bare voxel files of projects: STC (slice-major) and DWI (volume-major).
// Voxels are little-endian, 16-bit signed integers or 32-bit floats; there is
// no header, padding or trailer.

enum class VoxelType { Int16, Float32 };

// Slice-major: for each slice, for each volume, one slice (x fastest).
// Volume-major: for each volume, the whole volume (x fastest, then y, then z).
enum class VoxelOrder { SliceMajor, VolumeMajor };

// Float voxels when "DataType:" is present and 2; 16-bit integers otherwise.
VoxelType voxelTypeOf(const IntField& dataType);
size_t bytesPerVoxel(VoxelType type);

// The shape of a data file: `volumes` volumes of columns x rows x slices.
struct DataLayout {
  int32_t columns = 0;  // x, ResolutionX
  int32_t rows = 0;     // y, ResolutionY
  int32_t slices = 0;   // z, NrOfSlices
  int32_t volumes = 0;  // NrOfVolumes
  VoxelType voxelType = VoxelType::Int16;
  VoxelOrder order = VoxelOrder::SliceMajor;

  size_t voxelsPerSlice() const { return static_cast<size_t>(columns) * static_cast<size_t>(rows); }
  size_t voxelsPerVolume() const { return voxelsPerSlice() * static_cast<size_t>(slices); }
  // Only meaningful for a layout that checkLayout accepts.
  int64_t fileBytes() const;
};

// The layout that a header describes (nothing is checked).
DataLayout layoutOf(const ProjectHeaderFields& header, VoxelOrder order);

// Throws ReadFileError naming `headerPath` when the layout cannot describe
// data: a negative extent or count, volumes without voxels, a volume with
// more voxels than a Volume holds, or a file size beyond 64-bit offsets.
void checkLayout(const DataLayout& layout, const std::string& headerPath);

// The problem checkLayout would report, or "" when there is none.
std::string layoutProblem(const DataLayout& layout);

// Reads all volumes of a checked layout from the stream's read position (the
// start of the data file). The bytes left are compared with the layout first:
// fewer throw ReadFileError naming `dataPath` with the expected and the
// actual size, before anything is allocated, and so is the memory the
// volumes need with this computer's: more throws ReadFileError naming
// `dataPath`, the counts and both sizes. Longer files are accepted; the extra
// bytes are ignored.
std::vector<Volume> readVoxelData(std::istream& in, const DataLayout& layout, const std::string& dataPath);

// The size check of readVoxelData alone: throws its ReadFileError "Data file
// too short: ..." when fewer bytes are left after the stream's read position
// than the layout implies (a stream whose size cannot be told passes).
void requireDataBytes(std::istream& in, const DataLayout& layout, const std::string& dataPath);

// Reads the volumes first .. first + count - 1 of a checked layout into
// volumes[0 .. count), from a data file that starts at byte `start` of a
// seekable stream. Each volume is given the layout's extents (its storage is
// reused when it has them). Reads whole volumes (volume-major) or, for each
// slice, the run's slices one after another (slice-major), so a longer run
// reads more per call. The run must lie within the layout's volumes (not
// checked). Throws ReadFileError "Failed reading voxel data from " +
// dataPath.
void readVolumeRun(std::istream& in, std::streamoff start, const DataLayout& layout, int32_t first, Volume* volumes,
                   int32_t count, const std::string& dataPath);

// Precondition of writing: exactly layout.volumes volumes, each of the
// layout's extents. Throws std::logic_error (the assertion check) otherwise.
void checkVolumesMatch(const DataLayout& layout, const std::vector<Volume>& volumes);

// Writes all volumes (checked with checkVolumesMatch before anything is
// written). Write errors are left in the stream's state for the caller.
void writeVoxelData(std::ostream& out, const DataLayout& layout, const std::vector<Volume>& volumes);

// Writes volumes[0 .. count) as the volumes first .. first + count - 1 of
// the layout's data file, which starts at byte `start` of a stream that can
// seek (StagedOutputFile's can): the write position is moved wherever the
// next piece is not where writing stands, so the runs may come in any order;
// the file is complete once every volume has been written. Every volume must
// have the layout's extents: std::logic_error (the assertion check) before
// anything is written otherwise. Write errors are left in the stream's state.
void writeVolumeRun(std::ostream& out, std::streamoff start, const DataLayout& layout, int32_t first,
                    const Volume* volumes, int32_t count);

// The 16-bit value stored for a voxel: truncated toward zero; values beyond
// -32768..32767 (infinities included) saturate to the nearer end; NaN is
// stored as 0.
int16_t toStoredInt16(float value);

}  // namespace daxo
