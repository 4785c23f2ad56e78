// A DMR header as the input, with the input again as its data file run.dwi.
#include "fileio/dmrheader.h"
#include "tests/fuzz/headerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return daxo::fuzzing::fuzzHeader<daxo::DMRHeader>(data, size, "run.dmr", "run.dwi");
}
