#pragma once

#include <ostream>

// Progress entries of the estimation. One entry is the text written between
// two flushes: its pieces are written in order, then the stream is flushed; no
// line end is added and the stream's formatting flags are left as they are,
// so numbers appear in the stream's default formatting. A null stream takes
// nothing.

namespace daxo {

template <typename... Pieces>
void logEntry(std::ostream* log, const Pieces&... pieces) {
  if (log == nullptr) return;
  (*log << ... << pieces) << std::flush;
}

}  // namespace daxo
