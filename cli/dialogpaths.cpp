#include "cli/dialogpaths.h"

#include "cli/command.h"

namespace daxo::cli {

void checkDialogPath(const std::string& command, const std::string& path) {
  if (path.empty()) throw UsageError(command + ": an empty path was given");
  if (path.find('\n') != std::string::npos) {
    throw UsageError(command + ": a path must not contain a line feed: '" + path + "'");
  }
  if (path.size() > kMaxParameterLength) {
    throw UsageError(command + ": a path may have at most " + std::to_string(kMaxParameterLength) +
                     " characters; this one has " + std::to_string(path.size()) + ": " + path);
  }
}

std::vector<std::string> packFileLists(const std::vector<std::string>& paths, size_t limit) {
  std::vector<std::string> lists;
  for (const std::string& path : paths) {
    if (!lists.empty() && lists.back().size() + 1 + path.size() <= limit) {
      lists.back() += '\n';
      lists.back() += path;
    } else {
      lists.push_back(path);
    }
  }
  return lists;
}

}  // namespace daxo::cli
