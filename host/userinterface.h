#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

// The stand-in host's user-interface services as the plugin sees them: log
// pane, message boxes, yes/no questions, file chooser and busy cursor. Each
// keeps what happened in order so that tests and the daxo program can inspect
// or print it.

namespace daxo::host {

// Entries of the log pane, in the order they arrived. The observer (optional)
// sees each entry as it arrives.
class LogPane {
 public:
  void append(const std::string& text);
  const std::vector<std::string>& entries() const { return entries_; }
  void setObserver(std::function<void(const std::string&)> observer) { observer_ = std::move(observer); }

 private:
  std::vector<std::string> entries_;
  std::function<void(const std::string&)> observer_;
};

// One message box as shown, with the busy-cursor depth at that moment.
struct MessageBoxRecord {
  std::string text;
  int busyCursorDepth = 0;
};

class MessageBoxes {
 public:
  void show(const std::string& text, int busyCursorDepth);
  const std::vector<MessageBoxRecord>& shown() const { return shown_; }
  void setObserver(std::function<void(const MessageBoxRecord&)> observer) { observer_ = std::move(observer); }

 private:
  std::vector<MessageBoxRecord> shown_;
  std::function<void(const MessageBoxRecord&)> observer_;
};

enum class YesNoPolicy {
  alwaysYes,
  alwaysNo,
  // Ask on stderr and read the answer from stdin when stdin is a terminal;
  // otherwise answer no, so unattended runs never hang.
  askOnTerminal,
};

// Asks `question` on `out` and reads one line from `in`: "y" or "yes" (any
// letter case) is yes, anything else (also end of input) is no.
bool askYesNo(const std::string& question, std::istream& in, std::ostream& out);

class YesNoAnswers {
 public:
  // Answers by the policy and records the question.
  bool ask(const std::string& question);
  void setPolicy(YesNoPolicy policy) { policy_ = policy; }
  YesNoPolicy policy() const { return policy_; }
  const std::vector<std::string>& questions() const { return questions_; }

 private:
  YesNoPolicy policy_ = YesNoPolicy::alwaysNo;
  std::vector<std::string> questions_;
};

// One request of the file chooser.
struct FileRequest {
  std::string title;
  std::string filter;
};

// The file chooser answers with paths the caller queued, first in first out;
// with an empty queue it answers as if the user cancelled (empty path).
class FileChooser {
 public:
  void queueAnswer(const std::string& path) { answers_.push_back(path); }
  std::string choose(const FileRequest& request);
  const std::vector<FileRequest>& requests() const { return requests_; }

 private:
  std::deque<std::string> answers_;
  std::vector<FileRequest> requests_;
};

// Busy-cursor depth and how often it was shown and stopped. A stop without a
// show is counted but does not make the depth negative.
class BusyCursor {
 public:
  void show();
  void stop();
  int depth() const { return depth_; }
  int shows() const { return shows_; }
  int stops() const { return stops_; }

 private:
  int depth_ = 0;
  int shows_ = 0;
  int stops_ = 0;
};

}  // namespace daxo::host
