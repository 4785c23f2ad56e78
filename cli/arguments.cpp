#include "cli/arguments.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <stdexcept>

#include "cli/command.h"

namespace daxo::cli {

namespace {

const Option* findOption(const OptionTable& table, const std::string& name) {
  for (const OptionGroup& group : table) {
    for (const Option& option : group.options) {
      if (name == option.name || (option.alias != nullptr && name == option.alias)) return &option;
    }
  }
  return nullptr;
}

bool isOption(const std::string& arg) { return arg.size() >= 2 && arg[0] == '-'; }

std::string expectedCount(size_t minimum, size_t maximum) {
  // No upper bound is "at least", not a twenty-digit number.
  if (minimum == maximum) return std::to_string(minimum);
  if (maximum == SIZE_MAX) return "at least " + std::to_string(minimum);
  return std::to_string(minimum) + " to " + std::to_string(maximum);
}

}  // namespace

Arguments::Arguments(const std::string& command, const std::vector<std::string>& args, const OptionTable& table,
                     size_t minPositionals, size_t maxPositionals)
    : command_(command), table_(table) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!isOption(arg)) {
      positionals_.push_back(arg);
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const Option* option = findOption(table_, name);
    if (option == nullptr) throw UsageError(command_ + ": unknown option '" + name + "'");
    std::vector<std::string>& values = values_[option->name];
    if (option->value == nullptr) {
      if (equals != std::string::npos) throw UsageError(command_ + ": option " + name + " takes no value");
      values = {""};
    } else if (option->many) {
      if (equals != std::string::npos) values.push_back(arg.substr(equals + 1));
      while (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') values.push_back(args[++i]);
    } else if (equals != std::string::npos) {
      values = {arg.substr(equals + 1)};
    } else {
      if (i + 1 >= args.size()) throw UsageError(command_ + ": option " + name + " needs a value");
      values = {args[++i]};
    }
  }
  if (positionals_.size() < minPositionals || positionals_.size() > maxPositionals) {
    throw UsageError(command_ + ": expected " + expectedCount(minPositionals, maxPositionals) + " argument(s), got " +
                     std::to_string(positionals_.size()));
  }
  for (const OptionGroup& group : table_) {
    for (const Option& option : group.options) {
      for (const char* other : option.excludes) {
        if (has(option.name) && has(other)) {
          throw UsageError(command_ + ": give " + optionSynopsis(option) + " or " + optionSynopsis(declared(other)) +
                           ", not both");
        }
      }
    }
  }
}

const Option& Arguments::declared(const std::string& name) const {
  const Option* option = findOption(table_, name);
  if (option == nullptr || name != option->name) {
    throw std::logic_error(command_ + ": the option " + name + " is not in the command's table");
  }
  return *option;
}

bool Arguments::has(const std::string& name) const {
  declared(name);
  return values_.count(name) != 0;
}

std::string Arguments::value(const std::string& name, const std::string& fallback) const {
  declared(name);
  const auto found = values_.find(name);
  return found == values_.end() || found->second.empty() ? fallback : found->second.back();
}

std::vector<std::string> Arguments::values(const std::string& name) const {
  declared(name);
  const auto found = values_.find(name);
  return found == values_.end() ? std::vector<std::string>() : found->second;
}

int32_t Arguments::intValue(const std::string& name, int32_t fallback) const {
  if (!has(name)) return fallback;
  const std::string text = value(name);
  errno = 0;
  char* end = nullptr;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || parsed < INT32_MIN || parsed > INT32_MAX) {
    throw UsageError(command_ + ": option " + name + " needs an integer, not '" + text + "'");
  }
  return static_cast<int32_t>(parsed);
}

std::string Arguments::firstGiven(const OptionGroup& group) const {
  for (const Option& option : group.options) {
    if (has(option.name)) return option.name;
  }
  return "";
}

}  // namespace daxo::cli
