#pragma once

#include <memory>
#include <ostream>
#include <sstream>

#include "protocol/hostfunctiontypes.h"

// The plugin's log stream into the host's log pane: an ordinary output text
// stream whose buffer hands everything written since the previous flush to the
// host as one log entry. Writers insert the pieces of an entry and then flush
// (std::flush); no line end is added. The stream keeps the standard default
// formatting, so numbers appear with six significant digits.
//
// Text written without a flush is forwarded when the stream is destroyed. A
// flush with nothing collected still forwards an empty entry. A stream made
// with a null callback (a host without hvLogText) never calls it and discards
// the text.
class TSHVLog : public std::ostream {
 public:
  using Callback = daxo::HvLogTextFunction;

  // The buffer: an in-memory string buffer that forwards its whole content on
  // every sync and then empties itself. It grows with the text; nothing is
  // forwarded while it grows.
  class TSHVBuf : public std::stringbuf {
   public:
    explicit TSHVBuf(Callback callback);
    // Forwards any text written since the last sync.
    ~TSHVBuf() override;

   protected:
    // Forwards the collected text as one NUL-terminated text, then empties
    // the buffer. Always succeeds (returns 0): the host's log function reports
    // nothing.
    int sync() override;

   private:
    Callback callback_;
  };

  explicit TSHVLog(Callback callback);
  // Deletes the buffer, which forwards the pending text.
  ~TSHVLog() override;

  TSHVLog(const TSHVLog&) = delete;
  TSHVLog& operator=(const TSHVLog&) = delete;

 private:
  std::unique_ptr<TSHVBuf> buffer_;
};
