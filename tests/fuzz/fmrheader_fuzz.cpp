// An FMR header as the input, with the input again as its data file run.stc.
#include "fileio/fmrheader.h"
#include "tests/fuzz/headerfuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return daxo::fuzzing::fuzzHeader<daxo::FMRHeader>(data, size, "run.fmr", "run.stc");
}
