#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace daxo::fuzzing {

// The readers take paths: writes the input to this process's scratch file
// (in memory where /dev/shm exists) and returns its path. `name` sets the
// file's name, so that a header's data file can sit beside it.
std::string writeScratchFile(const std::string& name, const uint8_t* data, size_t size);

// The scratch folder, with a trailing "/".
const std::string& scratchFolder();

}  // namespace daxo::fuzzing
