#include "cli/console.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/command.h"
#include "cli/consolelogstream.h"
#include "host/hoststate.h"

namespace daxo::cli {

namespace {

// Why the file `st` describes may not take log entries appended; "" when it
// may.
std::string logProblem(const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return "it is a symbolic link (the log is not written through links)";
  if (S_ISFIFO(st.st_mode)) return "it is a named pipe (FIFO)";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "it is a device";
  if (S_ISDIR(st.st_mode)) return "it is a folder";
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  if (st.st_nlink > 1) return "it has other names (hard links), which appending would change too";
  return "";
}

// An existing log holds text: a NUL or another control byte (tab, line and
// page feeds and carriage returns aside) among its first bytes tells an
// image, a map or another binary file.
bool holdsText(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;  // not readable: nothing to tell from
  unsigned char head[4096];
  const ssize_t n = read(fd, head, sizeof head);
  close(fd);
  for (ssize_t k = 0; k < n; ++k) {
    const unsigned char c = head[k];
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1b) return false;
  }
  return true;
}

// Appends `text` in full; a log that cannot take it is not worth stopping
// the command for.
void appendTo(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

int openLogFile(const std::string& path, const std::vector<std::string>& inputs) {
  const std::string refused = "cannot write the log file " + path + ": ";
  struct stat named;
  const bool exists = lstat(path.c_str(), &named) == 0;
  if (exists) {
    const std::string problem = logProblem(named);
    if (!problem.empty()) throw UsageError(refused + problem);
    for (const std::string& input : inputs) {
      struct stat in;
      if (stat(input.c_str(), &in) == 0 && in.st_dev == named.st_dev && in.st_ino == named.st_ino)
        throw UsageError(refused + "it is the same file as the input " + input);
    }
    if (named.st_size > 0 && !holdsText(path)) throw UsageError(refused + "it holds binary data, not a log");
  }
  // O_NOFOLLOW and O_NONBLOCK: a link or a pipe put at the name since it was
  // examined fails here instead of being followed or blocking.
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int reason = errno;
    if (reason == ELOOP) throw UsageError(refused + "it is a symbolic link (the log is not written through links)");
    throw UsageError("cannot open log file " + path + ": " + std::strerror(reason));
  }
  struct stat opened;
  std::string problem = fstat(fd, &opened) != 0 ? std::string(std::strerror(errno)) : logProblem(opened);
  if (problem.empty() && exists && (opened.st_dev != named.st_dev || opened.st_ino != named.st_ino))
    problem = "it was replaced while it was opened";
  if (!problem.empty()) {
    close(fd);
    throw UsageError(refused + problem);
  }
  fcntl(fd, F_SETFL, O_APPEND);  // blocking writes from here on
  return fd;
}

Console::Console(const GlobalOptions& options, std::ostream& out, std::ostream& err,
                 const std::vector<std::string>& inputs)
    : quiet_(options.quiet), out_(out), err_(err), start_(std::chrono::steady_clock::now()) {
  if (options.logFile) logFile_ = openLogFile(*options.logFile, inputs);
}

Console::~Console() {
  if (logFile_ >= 0) close(logFile_);
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
  if (logFile_ >= 0) appendTo(logFile_, text);
}

void Console::note(const std::string& text) {
  if (!quiet_) out_ << text << std::endl;
  toLogFile(text);
}

void Console::toLogFile(const std::string& line) {
  if (logFile_ >= 0) appendTo(logFile_, line + "\n");
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
