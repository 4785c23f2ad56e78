#pragma once

#include "cli/console.h"
#include "correction/logentry.h"

namespace daxo::cli {

// A log stream for code that runs inside daxo rather than in the plugin:
// each entry (the text written between two flushes, as the estimation logs)
// becomes one of the console's log entries.
class ConsoleLogStream : public EntryStream {
 public:
  explicit ConsoleLogStream(Console& console)
      : EntryStream([&console](const std::string& entry) { console.logEntry(entry); }) {}
};

}  // namespace daxo::cli
