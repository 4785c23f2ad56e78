#pragma once

#include <ostream>
#include <string>
#include <vector>

// The options of daxo and of its commands, each declared once: the parser
// (cli/arguments.h), the help and through it the man page are made from
// these tables.

namespace daxo::cli {

struct Option {
  const char* name;   // "--volume0"
  const char* value;  // what its value is called in the help ("N"); null: a flag that takes none
  const char* help;   // one paragraph, wrapped when printed
  // Options that may not be given with this one: "give --ssd or --ncc, not
  // both" (a usage error).
  std::vector<const char*> excludes = {};
  // Takes every argument that follows, up to the next option ("--label 01
  // 02"); given again, it adds to them.
  bool many = false;
  const char* alias = nullptr;  // another spelling taken for the name
};

// Options printed under one title ("Options of the classic method:").
struct OptionGroup {
  const char* title;
  std::vector<Option> options;
};

using OptionTable = std::vector<OptionGroup>;

// "--name VALUE" ("--name VALUE ..." for many values), or the name alone.
std::string optionSynopsis(const Option& option);

// Prints each group: its title, then one entry per option, the help wrapped
// at 79 columns and aligned after the longest synopsis (a longer one puts its
// help on the next line).
void printOptions(std::ostream& out, const OptionTable& table);

}  // namespace daxo::cli
