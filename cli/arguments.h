#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cli/options.h"

namespace daxo::cli {

// A command's arguments read by its option table. Anything not starting with
// "-" (and "-" alone) is a positional argument; an option is "--name",
// "--name VALUE" or "--name=VALUE", and one that takes many values also
// takes the arguments after it up to the next option. Throws UsageError,
// naming the command, for an unknown option, a missing value, a value given
// to a flag, two options that exclude each other, or a positional count
// outside [minPositionals, maxPositionals].
class Arguments {
 public:
  Arguments(const std::string& command, const std::vector<std::string>& args, const OptionTable& table,
            size_t minPositionals = 0, size_t maxPositionals = 0);

  // The accessors take declared names only: any other is a programming
  // error (std::logic_error), so a command cannot read an option its table,
  // and so its help, lacks.
  bool has(const std::string& name) const;
  std::string value(const std::string& name, const std::string& fallback = "") const;
  // Every value of an option that takes many, in order.
  std::vector<std::string> values(const std::string& name) const;
  // The option's value as a 32-bit integer; UsageError when it is not one.
  int32_t intValue(const std::string& name, int32_t fallback) const;
  const std::vector<std::string>& positionals() const { return positionals_; }
  // The first option of `group` that was given, in the table's order; ""
  // when none was.
  std::string firstGiven(const OptionGroup& group) const;

 private:
  const Option& declared(const std::string& name) const;

  std::string command_;
  OptionTable table_;
  std::map<std::string, std::vector<std::string>> values_;  // by name; a flag has one empty value
  std::vector<std::string> positionals_;
};

}  // namespace daxo::cli
