#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/commandtable.h"
#include "cli/globaloptions.h"
#include "cli/options.h"
#include "testsupport/testfiles.h"
#include "testsupport/thrownmessage.h"

namespace {

using daxo::cli::Arguments;
using daxo::cli::CommandLine;
using daxo::cli::parseCommandLine;
using daxo::cli::UsageError;
using daxo::testing::thrownMessage;

TEST(CommandLine, GlobalOptionsGoBeforeOrAfterTheCommand) {
  const CommandLine line =
      parseCommandLine({"--quiet", "estimate", "a.fmr", "--log=run.log", "--volume0", "3", "--plugin", "p.so"});
  EXPECT_TRUE(line.options.quiet);
  EXPECT_EQ(line.options.logFile.value_or(""), "run.log");
  EXPECT_EQ(line.options.pluginPath.value_or(""), "p.so");
  EXPECT_EQ(line.command, "estimate");
  EXPECT_EQ(line.commandArgs, (std::vector<std::string>{"a.fmr", "--volume0", "3"}));
  EXPECT_FALSE(line.commandHelp);
}

TEST(CommandLine, HelpBeforeTheCommandIsDaxosAfterItTheCommands) {
  EXPECT_TRUE(parseCommandLine({"--help"}).help);
  const CommandLine line = parseCommandLine({"apply", "--help"});
  EXPECT_FALSE(line.help);
  EXPECT_TRUE(line.commandHelp);
  // After "--" everything is the command's.
  const CommandLine literal = parseCommandLine({"apply", "--", "--help", "--quiet"});
  EXPECT_FALSE(literal.commandHelp);
  EXPECT_FALSE(literal.options.quiet);
  EXPECT_EQ(literal.commandArgs, (std::vector<std::string>{"--help", "--quiet"}));
}

TEST(CommandLine, MalformedGlobalOptionsAreUsageErrors) {
  EXPECT_THROW(parseCommandLine({"--bogus"}), UsageError);
  EXPECT_THROW(parseCommandLine({"--log"}), UsageError);
  EXPECT_THROW(parseCommandLine({"apply", "--plugin="}), UsageError);
  for (const char* count : {"0", "-1", "257", "2x", "many"})
    EXPECT_THROW(parseCommandLine({"--threads", count, "apply"}), UsageError) << count;
  EXPECT_EQ(parseCommandLine({"apply", "--threads=3"}).options.threads.value_or(0), 3);
}

// A table of every kind of option.
const daxo::cli::OptionTable kTable{{"Options:",
                                     {{"--volume0", "N", "a volume"},
                                      {"--order", "N", "an order"},
                                      {"--fast", nullptr, "fast"},
                                      {"--rllr", nullptr, "along x"},
                                      {"--ssd", nullptr, "squared differences", {"--ncc"}},
                                      {"--ncc", nullptr, "correlation"},
                                      {"--label", "LABEL", "labels", {}, true, "--label_"}}}};

TEST(Arguments, OptionsValuesAndPositionals) {
  const Arguments args("estimate", {"a.fmr", "--volume0", "-2", "--fast", "--order=3", "b.fmr"}, kTable, 2, 2);
  EXPECT_EQ(args.positionals(), (std::vector<std::string>{"a.fmr", "b.fmr"}));
  EXPECT_EQ(args.intValue("--volume0", 0), -2);
  EXPECT_EQ(args.intValue("--order", 0), 3);
  EXPECT_TRUE(args.has("--fast"));
  EXPECT_FALSE(args.has("--rllr"));
  EXPECT_EQ(args.intValue("--ncc", 7), 7);
  // Many values run up to the next option, under either spelling, and add up.
  const Arguments labels("bids", {"--label", "01", "02", "--fast", "x", "--label_=03", "-", "--label"}, kTable, 2, 2);
  EXPECT_EQ(labels.values("--label"), (std::vector<std::string>{"01", "02", "03"}));
  EXPECT_EQ(labels.positionals(), (std::vector<std::string>{"x", "-"}));
  EXPECT_EQ(labels.firstGiven(kTable.front()), "--fast");
  // Reading an option the table lacks is the program's error, not the user's.
  EXPECT_THROW(args.has("--other"), std::logic_error);
  EXPECT_THROW(labels.values("--label_"), std::logic_error);
}

TEST(Arguments, RejectsWhatTheCommandDoesNotTake) {
  const struct {
    std::vector<std::string> args;
    size_t minimum, maximum;
    std::string message;
  } cases[] = {
      {{"--other"}, 0, 0, "c: unknown option '--other'"},
      {{"--order"}, 0, 0, "c: option --order needs a value"},
      {{"--fast=1"}, 0, 0, "c: option --fast takes no value"},
      {{"x"}, 0, 0, "c: expected 0 argument(s), got 1"},
      {{}, 1, 1, "c: expected 1 argument(s), got 0"},
      {{}, 1, SIZE_MAX, "c: expected at least 1 argument(s), got 0"},
      {{"--ncc", "--ssd"}, 0, 0, "c: give --ssd or --ncc, not both"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(thrownMessage<UsageError>([&] { Arguments("c", c.args, kTable, c.minimum, c.maximum); }), c.message);
  }
  for (const std::string bad : {"", "3x", "99999999999", "1.5"}) {
    EXPECT_THROW(Arguments("c", {"--order", bad}, kTable).intValue("--order", 0), UsageError) << bad;
  }
}

// The lines of README.md from the heading "### NAME" (or "### help and
// version") to the next heading of that level.
std::string readmeSection(const std::string& readme, const std::string& command) {
  size_t start = readme.find("\n### " + command + "\n");
  if (start == std::string::npos) start = readme.find("\n### help and version\n");
  if (start == std::string::npos) return "";
  const size_t end = readme.find("\n### ", start + 1);
  return readme.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// `text` names the option `name` (not only a longer one that begins with it).
bool mentions(const std::string& text, const std::string& name) {
  for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
    const size_t end = at + name.size();
    if (end == text.size() || std::string(" ]`=|)/,\n").find(text[end]) != std::string::npos) return true;
  }
  return false;
}

// Every declared option is parsed (in both forms), printed in the help with
// its text, named in the command's usage lines and described in the README.
TEST(CommandTable, EveryOptionIsParsedAndDocumented) {
  const std::string readme = daxo::testing::readFile(DAXO_SOURCE_DIR "/README.md");
  for (const daxo::cli::Command* command : daxo::cli::commandTable()) {
    const std::string help = daxo::cli::helpText(*command);
    const std::string usage =
        std::string(command->description).substr(0, std::string(command->description).find("\n\n"));
    const std::string section = readmeSection(readme, command->name);
    for (const daxo::cli::OptionGroup& group : command->options) {
      for (const daxo::cli::Option& option : group.options) {
        const std::string what = std::string(command->name) + " " + option.name;
        ASSERT_NE(option.help, nullptr) << what;
        EXPECT_FALSE(std::string(option.help).empty()) << what;
        EXPECT_NE(help.find("  " + daxo::cli::optionSynopsis(option)), std::string::npos) << what;
        EXPECT_TRUE(mentions(usage, option.name)) << what << " is not in the usage lines";
        EXPECT_TRUE(mentions(section, option.name)) << what << " is not in the README";
        std::vector<std::string> args(command->minPositionals, "x");
        args.push_back(option.value == nullptr ? option.name : std::string(option.name) + "=1");
        if (option.value != nullptr) {
          args.push_back(option.name);
          args.push_back("1");
        }
        const Arguments parsed(command->name, args, command->options, command->minPositionals, command->maxPositionals);
        EXPECT_TRUE(parsed.has(option.name)) << what;
        if (option.value != nullptr && !option.many) {
          EXPECT_EQ(parsed.value(option.name), "1") << what;
        }
      }
    }
  }
  for (const daxo::cli::Option& option : daxo::cli::globalOptionTable().front().options) {
    const std::string section = readme.substr(readme.find("\n## The daxo program\n"));
    EXPECT_NE(section.find(std::string("| `") + option.name), std::string::npos) << option.name;
    std::ostringstream usage;
    daxo::cli::printUsage(usage);
    EXPECT_NE(usage.str().find(std::string("  ") + daxo::cli::optionSynopsis(option) + " "), std::string::npos)
        << option.name;
  }
}

TEST(CommandTable, EveryCommandHasHelpWithAnExample) {
  ASSERT_FALSE(daxo::cli::commandTable().empty());
  for (const daxo::cli::Command* command : daxo::cli::commandTable()) {
    EXPECT_EQ(daxo::cli::findCommand(command->name), command);
    const std::string help = daxo::cli::helpText(*command);
    EXPECT_NE(help.find("Example"), std::string::npos) << command->name;
    EXPECT_EQ(help.rfind(std::string("Usage: daxo ") + command->name, 0), 0u) << command->name;
  }
  EXPECT_EQ(daxo::cli::findCommand("nosuch"), nullptr);
}

}  // namespace
