#include "cli/options.h"

#include <algorithm>
#include <sstream>

namespace daxo::cli {

namespace {

constexpr size_t kLineWidth = 79;
constexpr size_t kIndent = 2;
// The help starts after the longest synopsis, but never further right.
constexpr size_t kMaxHelpColumn = 18;

// The words of `text` in lines of at most `width` characters (a longer word
// gets a line of its own).
std::vector<std::string> wrapped(const std::string& text, size_t width) {
  std::vector<std::string> lines;
  std::istringstream words(text);
  std::string word;
  std::string line;
  while (words >> word) {
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      lines.push_back(line);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

std::string optionSynopsis(const Option& option) {
  if (option.value == nullptr) return option.name;
  return std::string(option.name) + " " + option.value + (option.many ? " ..." : "");
}

void printOptions(std::ostream& out, const OptionTable& table) {
  size_t column = 0;
  for (const OptionGroup& group : table) {
    for (const Option& option : group.options) column = std::max(column, kIndent + optionSynopsis(option).size() + 2);
  }
  column = std::min(column, kMaxHelpColumn);
  bool first = true;
  for (const OptionGroup& group : table) {
    if (!first) out << "\n";
    first = false;
    out << group.title << "\n";
    for (const Option& option : group.options) {
      const std::string synopsis = std::string(kIndent, ' ') + optionSynopsis(option);
      const std::vector<std::string> lines = wrapped(option.help, kLineWidth - column);
      size_t next = 0;
      if (synopsis.size() + 2 <= column && !lines.empty()) {
        out << synopsis << std::string(column - synopsis.size(), ' ') << lines[next++] << "\n";
      } else {
        out << synopsis << "\n";
      }
      for (; next < lines.size(); ++next) out << std::string(column, ' ') << lines[next] << "\n";
    }
  }
}

}  // namespace daxo::cli
