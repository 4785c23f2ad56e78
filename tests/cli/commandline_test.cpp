#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/commandtable.h"
#include "cli/globaloptions.h"

namespace {

using daxo::cli::Arguments;
using daxo::cli::CommandLine;
using daxo::cli::parseCommandLine;
using daxo::cli::UsageError;

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

TEST(Arguments, OptionsValuesAndPositionals) {
  const Arguments args("estimate", {"a.fmr", "--volume0", "-2", "--fast", "--order=3", "b.fmr"},
                       {{"--volume0", true}, {"--order", true}, {"--fast", false}, {"--rllr", false}}, 2, 2);
  EXPECT_EQ(args.positionals(), (std::vector<std::string>{"a.fmr", "b.fmr"}));
  EXPECT_EQ(args.intValue("--volume0", 0), -2);
  EXPECT_EQ(args.intValue("--order", 0), 3);
  EXPECT_TRUE(args.has("--fast"));
  EXPECT_FALSE(args.has("--rllr"));
  EXPECT_EQ(args.intValue("--volume1", 7), 7);
}

TEST(Arguments, RejectsWhatTheCommandDoesNotTake) {
  const std::vector<daxo::cli::OptionRule> rules = {{"--order", true}, {"--fast", false}};
  EXPECT_THROW(Arguments("c", {"--other"}, rules), UsageError);
  EXPECT_THROW(Arguments("c", {"--order"}, rules), UsageError);
  EXPECT_THROW(Arguments("c", {"--fast=1"}, rules), UsageError);
  EXPECT_THROW(Arguments("c", {"x"}, rules, 0, 0), UsageError);
  EXPECT_THROW(Arguments("c", {}, rules, 1, 1), UsageError);
  for (const std::string bad : {"", "3x", "99999999999", "1.5"}) {
    EXPECT_THROW(Arguments("c", {"--order", bad}, rules).intValue("--order", 0), UsageError) << bad;
  }
}

TEST(CommandTable, EveryCommandHasHelpWithAnExample) {
  ASSERT_FALSE(daxo::cli::commandTable().empty());
  for (const daxo::cli::Command* command : daxo::cli::commandTable()) {
    EXPECT_EQ(daxo::cli::findCommand(command->name), command);
    EXPECT_NE(std::string(command->help).find("Example"), std::string::npos) << command->name;
    EXPECT_NE(std::string(command->help).find(std::string("daxo ") + command->name), std::string::npos);
  }
  EXPECT_EQ(daxo::cli::findCommand("nosuch"), nullptr);
}

}  // namespace
