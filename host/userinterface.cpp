#include "host/userinterface.h"

#include <algorithm>
#include <cctype>
#include <iostream>

#include "host/terminal.h"

namespace daxo::host {

void LogPane::append(const std::string& text) {
  entries_.push_back(text);
  if (observer_) observer_(entries_.back());
}

void MessageBoxes::show(const std::string& text, int busyCursorDepth) {
  shown_.push_back({text, busyCursorDepth});
  if (observer_) observer_(shown_.back());
}

bool askYesNo(const std::string& question, std::istream& in, std::ostream& out) {
  out << question << "\n[y/N] " << std::flush;
  std::string answer;
  if (!std::getline(in, answer)) return false;
  std::transform(answer.begin(), answer.end(), answer.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return answer == "y" || answer == "yes";
}

bool YesNoAnswers::ask(const std::string& question) {
  questions_.push_back(question);
  switch (policy_) {
    case YesNoPolicy::alwaysYes:
      return true;
    case YesNoPolicy::alwaysNo:
      return false;
    case YesNoPolicy::askOnTerminal:
      return standardInputIsTerminal() && askYesNo(question, std::cin, std::cerr);
  }
  return false;
}

std::string FileChooser::choose(const FileRequest& request) {
  requests_.push_back(request);
  if (answers_.empty()) return std::string();
  std::string path = answers_.front();
  answers_.pop_front();
  return path;
}

void BusyCursor::show() {
  ++depth_;
  ++shows_;
}

void BusyCursor::stop() {
  ++stops_;
  if (depth_ > 0) --depth_;
}

}  // namespace daxo::host
