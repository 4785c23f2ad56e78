#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "cli/command.h"
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

// Runs `step` of `command` with a ConsoleLogStream. A UsageError passes
// through; any other exception is printed as "daxo: COMMAND: WHAT" and gives
// kExitFailure. Returns kExitSuccess when the step returns.
int runLogged(CommandContext& context, const std::string& command, const std::function<void(std::ostream&)>& step);

}  // namespace daxo::cli
