#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

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
  // Starts the clock and opens the log file for appending (see
  // openLogFile); `inputs` are the files the command names, which the log
  // must not be. Throws UsageError naming the file when it cannot be opened
  // or is refused.
  Console(const GlobalOptions& options, std::ostream& out, std::ostream& err,
          const std::vector<std::string>& inputs = {});
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
  // A note on what the command chose: printed on standard output as it is
  // (no time stamp, a line feed added) unless --quiet, and appended to the
  // log file.
  void note(const std::string& text);

  std::ostream& out() { return out_; }
  std::ostream& err() { return err_; }

 private:
  void toLogFile(const std::string& line);

  bool quiet_;
  std::ostream& out_;
  std::ostream& err_;
  int logFile_ = -1;  // the log's descriptor; -1 without a log
  std::chrono::steady_clock::time_point start_;
};

// Opens `path` for appending log entries, under the rule every output of
// daxo follows: it is created when missing; an existing one must be a
// regular file with no other name (a hard link would be changed with it),
// must not be one of `inputs` (by device and file number) and must hold text,
// not binary data. A symbolic link, a pipe, a device or a folder at the name
// is refused without being opened for writing (so a FIFO never blocks).
// Returns the descriptor; throws UsageError naming the file and the reason.
int openLogFile(const std::string& path, const std::vector<std::string>& inputs);

}  // namespace daxo::cli
