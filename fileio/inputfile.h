#pragma once

#include <fstream>
#include <string>

namespace daxo {

// Opens `path` as a binary input file with the classic locale. False when it
// cannot be opened or is a directory (which some systems open but cannot
// read); callers report that with their own message.
bool openInputFile(std::ifstream& in, const std::string& path);

}  // namespace daxo
