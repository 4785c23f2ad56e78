#pragma once

#include <chrono>
#include <fstream>
#include <ostream>
#include <string>

#include "cli/globaloptions.h"

namespace daxo::cli {

// daxo's output while a command runs: log entries of the plugin as they
// arrive, each prefixed with the time since the command started
// ("[   12.3 s] Estimating voxel displacement maps..."), on standard output
// unless --quiet, and appended to the --log file; message boxes and host
// errors on standard error (also with --quiet) and in the log file. Empty log
// entries are not printed, an entry's leading line feeds come before its
// time stamp, and a message box's final line feeds give way to the one line
// end every printed line gets.
class Console {
 public:
  // Starts the clock and opens the log file for appending. Throws UsageError
  // naming the file when it cannot be opened.
  Console(const GlobalOptions& options, std::ostream& out, std::ostream& err);
  // Detaches from the host.
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Routes the host's log pane, message boxes and errors to this console.
  void attachToHost();

  // "[%7.1f s] " with the seconds since construction.
  std::string stamp() const;

  void logEntry(const std::string& text);
  void messageBox(const std::string& text);
  void hostError(const std::string& text);
  // A command's result, such as a report: printed on standard output as it
  // is (no time stamp), also with --quiet, and appended to the log file.
  void result(const std::string& text);

  std::ostream& out() { return out_; }
  std::ostream& err() { return err_; }

 private:
  void toLogFile(const std::string& line);

  bool quiet_;
  std::ostream& out_;
  std::ostream& err_;
  std::ofstream logFile_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace daxo::cli
