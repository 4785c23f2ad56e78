#include "cli/arguments.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "cli/command.h"

namespace daxo::cli {

namespace {
const OptionRule* findRule(const std::vector<OptionRule>& rules, const std::string& name) {
  const auto found = std::find_if(rules.begin(), rules.end(), [&](const OptionRule& s) { return s.name == name; });
  return found == rules.end() ? nullptr : &*found;
}
}  // namespace

Arguments::Arguments(const std::string& command, const std::vector<std::string>& args,
                     const std::vector<OptionRule>& rules, size_t minPositionals, size_t maxPositionals)
    : command_(command) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') {
      positionals_.push_back(arg);
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const OptionRule* rule = findRule(rules, name);
    if (rule == nullptr) throw UsageError(command_ + ": unknown option '" + name + "'");
    if (!rule->takesValue) {
      if (equals != std::string::npos) throw UsageError(command_ + ": option " + name + " takes no value");
      values_[name] = "";
    } else if (equals != std::string::npos) {
      values_[name] = arg.substr(equals + 1);
    } else {
      if (i + 1 >= args.size()) throw UsageError(command_ + ": option " + name + " needs a value");
      values_[name] = args[++i];
    }
  }
  if (positionals_.size() < minPositionals || positionals_.size() > maxPositionals) {
    // No upper bound is "at least", not a twenty-digit number.
    const std::string expected = minPositionals == maxPositionals ? std::to_string(minPositionals)
                                 : maxPositionals == SIZE_MAX
                                     ? "at least " + std::to_string(minPositionals)
                                     : std::to_string(minPositionals) + " to " + std::to_string(maxPositionals);
    throw UsageError(command_ + ": expected " + expected + " argument(s), got " + std::to_string(positionals_.size()));
  }
}

std::string Arguments::value(const std::string& name, const std::string& fallback) const {
  const auto found = values_.find(name);
  return found == values_.end() ? fallback : found->second;
}

int32_t Arguments::intValue(const std::string& name, int32_t fallback) const {
  const auto found = values_.find(name);
  if (found == values_.end()) return fallback;
  const std::string& text = found->second;
  errno = 0;
  char* end = nullptr;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || parsed < INT32_MIN || parsed > INT32_MAX) {
    throw UsageError(command_ + ": option " + name + " needs an integer, not '" + text + "'");
  }
  return static_cast<int32_t>(parsed);
}

}  // namespace daxo::cli
