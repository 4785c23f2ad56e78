#pragma once

// Byte images for the file-format tests; the files themselves are written
// with testsupport/testfiles.h.

#include <cstdint>
#include <string>
#include <vector>

#include "testsupport/testfiles.h"

namespace daxo::testing {

// The lines joined with CR LF after each, after a first empty line, as
// headers are stored.
std::string headerText(const std::vector<std::string>& lines);

// Little-endian byte images of values, for building binary files.
std::string int16Bytes(const std::vector<int16_t>& values);
std::string uint16Bytes(const std::vector<uint16_t>& values);
std::string int32Bytes(const std::vector<int32_t>& values);
std::string floatBytes(const std::vector<float>& values);

}  // namespace daxo::testing
