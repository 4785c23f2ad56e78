// An FMR header as the input; its data file (run.stc, when the header's
// Prefix names it) is the input again, so that loading data is reached too.
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "fileio/fileerrors.h"
#include "fileio/fmrheader.h"
#include "tests/fuzz/fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = daxo::fuzzing::writeScratchFile("run.fmr", data, size);
  daxo::fuzzing::writeScratchFile("run.stc", data, size);
  daxo::FMRHeader header;
  try {
    header.load(path, false);
    std::ostringstream out;
    header.writeHeader(out);
    header.loadData();
  } catch (const daxo::IOError&) {
  }
  return 0;
}
