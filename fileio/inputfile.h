#pragma once

#include <cstdint>
#include <fstream>
#include <istream>
#include <string>

namespace daxo {

// Opens `path` as a binary input file with the classic locale. False when it
// cannot be opened or is a directory (which some systems open but cannot
// read); callers report that with their own message.
bool openInputFile(std::ifstream& in, const std::string& path);

// Bytes between the read position and the end of a seekable stream, -1 when
// they cannot be told. The read position is kept. Readers compare this with
// what a header announces before they allocate anything.
int64_t bytesLeft(std::istream& in);

}  // namespace daxo
