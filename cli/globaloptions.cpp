#include "cli/globaloptions.h"

#include <string>

#include "cli/command.h"
#include "volume/columnthreads.h"

namespace daxo::cli {

namespace {

// Splits "--name=value" into name and value.
bool splitInlineValue(const std::string& arg, std::string& name, std::string& value) {
  const size_t equals = arg.find('=');
  if (arg.rfind("--", 0) != 0 || equals == std::string::npos) return false;
  name = arg.substr(0, equals);
  value = arg.substr(equals + 1);
  return true;
}

// Takes a global option at args[i] (advancing i past its value); false when
// args[i] is none.
bool takeGlobalOption(const std::vector<std::string>& args, size_t& i, GlobalOptions& options) {
  std::string name = args[i];
  std::string value;
  const bool inlineValue = splitInlineValue(args[i], name, value);
  if (name == "--quiet" && !inlineValue) {
    options.quiet = true;
    return true;
  }
  if (name != "--log" && name != "--plugin" && name != "--threads") return false;
  if (!inlineValue) {
    if (i + 1 >= args.size()) throw UsageError("option " + name + " needs a value");
    value = args[++i];
  }
  if (value.empty()) throw UsageError("option " + name + " needs a non-empty value");
  if (name == "--threads") {
    options.threads = parseThreadCount(value.c_str());
    if (*options.threads == 0)
      throw UsageError("option --threads needs a whole number from 1 to " + std::to_string(kMaxThreads) + ", not '" +
                       value + "'");
    return true;
  }
  (name == "--log" ? options.logFile : options.pluginPath) = value;
  return true;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  size_t i = 0;
  for (; i < args.size() && line.command.empty(); ++i) {
    const std::string& arg = args[i];
    if (takeGlobalOption(args, i, line.options)) continue;
    if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--version") {
      line.version = true;
    } else if (!arg.empty() && arg[0] == '-') {
      throw UsageError("unknown option '" + arg + "'");
    } else {
      line.command = arg;
    }
  }
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      line.commandArgs.insert(line.commandArgs.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    if (takeGlobalOption(args, i, line.options)) continue;
    if (arg == "--help" || arg == "-h") {
      line.commandHelp = true;
    } else {
      line.commandArgs.push_back(arg);
    }
  }
  return line;
}

}  // namespace daxo::cli
