#include "cli/globaloptions.h"

#include <string>

#include "cli/command.h"
#include "volume/columnthreads.h"

namespace daxo::cli {

namespace {

constexpr const char* kHelp = "--help";
constexpr const char* kVersion = "--version";

const OptionTable kGlobalOptions{
    {"Global options (before the command or among its arguments):",
     {{kHelp, nullptr, "show this help; after a command, the command's help", {}, false, "-h"},
      {kVersion, nullptr, "print the plugin's name and version"},
      {"--quiet", nullptr, "do not print log entries (errors are still printed)"},
      {"--log", "FILE",
       "also append every log entry to FILE (a new file, or a regular text file with no other name that is none of "
       "the inputs)"},
      {"--plugin", "PATH",
       "load the plugin library at PATH instead of DAXO.so beside daxo (the environment variable DAXO_PLUGIN does "
       "the same)"},
      {"--threads", "N",
       "threads for estimation and correction (default: the environment variable DAXO_THREADS, else one per core); "
       "results do not depend on it"}}}};

// The global option called `name`, --help and --version aside; null when
// there is none.
const Option* settingOption(const std::string& name) {
  for (const Option& option : kGlobalOptions.front().options) {
    if (name == option.name && name != kHelp && name != kVersion) return &option;
  }
  return nullptr;
}

bool isHelp(const std::string& arg) { return arg == kHelp || arg == kGlobalOptions.front().options.front().alias; }

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
  const Option* option = settingOption(name);
  if (option == nullptr || (option->value == nullptr && inlineValue)) return false;
  if (option->value == nullptr) {
    options.quiet = true;  // --quiet, the one flag
    return true;
  }
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

const OptionTable& globalOptionTable() { return kGlobalOptions; }

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  size_t i = 0;
  for (; i < args.size() && line.command.empty(); ++i) {
    const std::string& arg = args[i];
    if (takeGlobalOption(args, i, line.options)) continue;
    if (isHelp(arg)) {
      line.help = true;
    } else if (arg == kVersion) {
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
    if (isHelp(arg)) {
      line.commandHelp = true;
    } else {
      line.commandArgs.push_back(arg);
    }
  }
  return line;
}

}  // namespace daxo::cli
