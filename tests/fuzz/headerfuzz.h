#pragma once

// One project header as the input; its data file (beside it, when the
// header's Prefix names it) is the input again, so that loading data is
// reached too. Shared by the FMR and DMR harnesses.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fileio/fileerrors.h"
#include "tests/fuzz/fuzzinput.h"

namespace daxo::fuzzing {

template <typename Header>
int fuzzHeader(const uint8_t* data, size_t size, const std::string& headerName, const std::string& dataName) {
  const std::string path = writeScratchFile(headerName, data, size);
  writeScratchFile(dataName, data, size);
  Header header;
  try {
    header.loadHeader(path);
    std::ostringstream out;
    header.writeHeader(out);
    header.loadData();
  } catch (const IOError&) {
  }
  return 0;
}

}  // namespace daxo::fuzzing
