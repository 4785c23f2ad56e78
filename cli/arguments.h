#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace daxo::cli {

// One option a command accepts: "--name" alone, or "--name VALUE" /
// "--name=VALUE" when it takes a value.
struct OptionRule {
  std::string name;
  bool takesValue = false;
};

// A command's arguments checked against its options. Anything not starting
// with "-" is a positional argument. Throws UsageError, naming the command,
// for an unknown option, a missing value, a value given to a flag, or a
// positional count outside [minPositionals, maxPositionals].
class Arguments {
 public:
  Arguments(const std::string& command, const std::vector<std::string>& args, const std::vector<OptionRule>& rules,
            size_t minPositionals = 0, size_t maxPositionals = 0);

  bool has(const std::string& name) const { return values_.count(name) != 0; }
  std::string value(const std::string& name, const std::string& fallback = "") const;
  // The option's value as a 32-bit integer; UsageError when it is not one.
  int32_t intValue(const std::string& name, int32_t fallback) const;
  const std::vector<std::string>& positionals() const { return positionals_; }

 private:
  std::string command_;
  std::map<std::string, std::string> values_;
  std::vector<std::string> positionals_;
};

}  // namespace daxo::cli
