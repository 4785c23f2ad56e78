// A data file's layout and voxels as the input: four little-endian 32-bit
// counts (columns, rows, slices, volumes) and a type byte (odd: float), then
// the file's bytes, read slice-major as STC files are.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "fileio/fileerrors.h"
#include "fileio/voxeldata.h"

#ifndef DAXO_FUZZ_ORDER
#define DAXO_FUZZ_ORDER SliceMajor
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 17) return 0;
  int32_t counts[4];
  std::memcpy(counts, data, sizeof counts);
  daxo::DataLayout layout;
  layout.columns = counts[0];
  layout.rows = counts[1];
  layout.slices = counts[2];
  layout.volumes = counts[3];
  layout.voxelType = (data[16] & 1) != 0 ? daxo::VoxelType::Float32 : daxo::VoxelType::Int16;
  layout.order = daxo::VoxelOrder::DAXO_FUZZ_ORDER;
  if (!daxo::layoutProblem(layout).empty()) return 0;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 17, size - 17));
  try {
    const std::vector<daxo::Volume> volumes = daxo::readVoxelData(in, layout, "fuzz");
    std::ostringstream out;
    daxo::writeVoxelData(out, layout, volumes);
  } catch (const daxo::IOError&) {
  }
  return 0;
}
