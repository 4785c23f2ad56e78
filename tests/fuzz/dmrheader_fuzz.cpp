// A DMR header as the input; its data file (run.dwi, when the header's
// Prefix names it) is the input again, so that loading data is reached too.
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "fileio/dmrheader.h"
#include "fileio/fileerrors.h"
#include "tests/fuzz/fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = daxo::fuzzing::writeScratchFile("run.dmr", data, size);
  daxo::fuzzing::writeScratchFile("run.dwi", data, size);
  daxo::DMRHeader header;
  try {
    header.load(path, false);
    std::ostringstream out;
    header.writeHeader(out);
    header.loadData();
  } catch (const daxo::IOError&) {
  }
  return 0;
}
