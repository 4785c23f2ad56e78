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

// While an InputTracking lives (one run of a task), every file opened with
// openInputFile is remembered, and outputs that are the same file as one of
// them (same device and file number, whatever the names) are refused by
// StagedOutputFile. Trackings nest; the inputs are forgotten when the
// outermost one ends. Outside a tracking nothing is remembered, so a library
// caller may still save a project over the files it was loaded from.
class InputTracking {
 public:
  InputTracking();
  ~InputTracking();
  InputTracking(const InputTracking&) = delete;
  InputTracking& operator=(const InputTracking&) = delete;
};

// The input (as it was opened) that `path` names the same file as; "" when
// none does or no tracking is active.
std::string trackedInputSameAs(const std::string& path);

// Bytes between the read position and the end of a seekable stream, -1 when
// they cannot be told. The read position is kept. Readers compare this with
// what a header announces before they allocate anything.
int64_t bytesLeft(std::istream& in);

}  // namespace daxo
