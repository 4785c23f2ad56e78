// The input as a BIDS sidecar (.json) and as a b-value file (.bval).
#include <cstddef>
#include <cstdint>

#include "fileio/fileerrors.h"
#include "fileio/nifti/bidssidecar.h"
#include "tests/fuzz/fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const daxo::BidsSidecar sidecar = daxo::readBidsSidecar(daxo::fuzzing::writeScratchFile("scan.json", data, size));
    daxo::readoutTimeOf(sidecar, 80);
  } catch (const daxo::IOError&) {
  }
  try {
    daxo::readBValues(daxo::fuzzing::writeScratchFile("scan.bval", data, size));
  } catch (const daxo::IOError&) {
  }
  return 0;
}
