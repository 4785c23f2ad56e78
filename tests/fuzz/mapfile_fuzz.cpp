// A map file as the input, read with its voxels.
#include <cstddef>
#include <cstdint>

#include "fileio/fileerrors.h"
#include "fileio/mapfile.h"
#include "tests/fuzz/fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = daxo::fuzzing::writeScratchFile("run_vdm.map", data, size);
  daxo::MapFile map;
  try {
    map.loadWithData(path);
  } catch (const daxo::IOError&) {
  }
  return 0;
}
