#include "cli/console.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/command.h"
#include "cli/consolelogstream.h"
#include "host/hoststate.h"

namespace daxo::cli {

Console::Console(const GlobalOptions& options, std::ostream& out, std::ostream& err)
    : quiet_(options.quiet), out_(out), err_(err), start_(std::chrono::steady_clock::now()) {
  if (options.logFile) {
    logFile_.open(*options.logFile, std::ios::app);
    if (!logFile_) throw UsageError("cannot open log file " + *options.logFile + ": " + std::strerror(errno));
  }
}

Console::~Console() {
  host::HostState& host = host::hostState();
  host.log.setObserver(nullptr);
  host.messageBoxes.setObserver(nullptr);
  host.errors.setObserver(nullptr);
}

void Console::attachToHost() {
  host::HostState& host = host::hostState();
  host.log.setObserver([this](const std::string& text) { logEntry(text); });
  host.messageBoxes.setObserver([this](const host::MessageBoxRecord& box) { messageBox(box.text); });
  host.errors.setObserver([this](const std::string& text) { hostError(text); });
}

std::string Console::stamp() const {
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
  char text[32];
  std::snprintf(text, sizeof text, "[%7.1f s] ", elapsed.count());
  return text;
}

void Console::logEntry(const std::string& text) {
  // The plugin's log stream forwards what is left when it is deleted, often
  // nothing; an empty entry says nothing to the user.
  if (text.empty()) return;
  // The estimation sets a phase apart with an entry that begins with a line
  // feed ("\nStarting local optimizations"); the blank line goes before the
  // time stamp, so that the text still starts on a stamped line.
  const size_t textStart = std::min(text.find_first_not_of('\n'), text.size());
  const std::string line = text.substr(0, textStart) + stamp() + text.substr(textStart);
  if (!quiet_) out_ << line << std::endl;
  toLogFile(line);
}

void Console::messageBox(const std::string& text) {
  // Boxes that list problems end each line with a line feed; the last one is
  // supplied here.
  std::string line = stamp() + text;
  while (!line.empty() && line.back() == '\n') line.pop_back();
  err_ << line << std::endl;
  toLogFile(line);
}

void Console::hostError(const std::string& text) {
  const std::string line = stamp() + "host error: " + text;
  err_ << line << std::endl;
  toLogFile(line);
}

void Console::result(const std::string& text) {
  out_ << text << std::flush;
  if (logFile_.is_open()) logFile_ << text << std::flush;
}

void Console::toLogFile(const std::string& line) {
  if (logFile_.is_open()) logFile_ << line << std::endl;
}

int runLogged(CommandContext& context, const std::string& command, const std::function<void(std::ostream&)>& step) {
  try {
    ConsoleLogStream log(context.console);
    step(log);
  } catch (const UsageError&) {
    throw;
  } catch (const std::exception& e) {
    context.console.err() << "daxo: " << command << ": " << e.what() << std::endl;
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace daxo::cli
