// The built daxo program, run as a user runs it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "daxo/version.h"
#include "tests/cli/daxorun.h"
#include "testsupport/testfiles.h"

namespace {

using daxo::testing::DaxoRun;
using daxo::testing::readFile;
using daxo::testing::runDaxo;

TEST(DaxoProgram, VersionPrintsWhatThePluginReports) {
  for (const std::string arguments : {"--version", "version"}) {
    const DaxoRun run = runDaxo(arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("DAXO v" DAXO_VERSION_STRING " (batch)\nplugin version " DAXO_VERSION_STRING " (", 0), 0u)
        << run.out;
    EXPECT_EQ(run.err, "");
  }
}

TEST(DaxoProgram, PluginLocationCanBeChosen) {
  const DaxoRun byOption = runDaxo("--plugin /nonexistent/DAXO.so --version");
  EXPECT_EQ(byOption.status, 1);
  EXPECT_NE(byOption.err.find("/nonexistent/DAXO.so"), std::string::npos) << byOption.err;

  const DaxoRun byEnvironment = runDaxo("--version", "DAXO_PLUGIN=/elsewhere/DAXO.so");
  EXPECT_EQ(byEnvironment.status, 1);
  EXPECT_NE(byEnvironment.err.find("/elsewhere/DAXO.so"), std::string::npos) << byEnvironment.err;

  const DaxoRun optionWins =
      runDaxo(std::string("--plugin '") + DAXO_PLUGIN_PATH + "' --version", "DAXO_PLUGIN=/elsewhere/DAXO.so");
  EXPECT_EQ(optionWins.status, 0) << optionWins.err;
}

TEST(DaxoProgram, HelpListsTheCommandsAndEachHasItsOwn) {
  const DaxoRun run = runDaxo("--help");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Commands:"), std::string::npos);
  EXPECT_NE(run.out.find("  version "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("--log FILE"), std::string::npos);

  const DaxoRun commandHelp = runDaxo("version --help");
  EXPECT_EQ(commandHelp.status, 0);
  EXPECT_EQ(commandHelp.out.rfind("Usage: daxo version", 0), 0u) << commandHelp.out;
  EXPECT_NE(commandHelp.out.find("Example"), std::string::npos);
  EXPECT_EQ(runDaxo("help version").out, commandHelp.out);
}

TEST(DaxoProgram, BadCommandLinesExitWith2AndSayWhy) {
  const std::pair<std::string, std::string> cases[] = {
      {"frobnicate", "unknown command 'frobnicate'"},
      {"--frobnicate", "unknown option '--frobnicate'"},
      {"version --frobnicate", "unknown option '--frobnicate'"},
      {"version extra", "expected 0 argument(s)"},
      // Used to say "expected 1 to 18446744073709551615 argument(s)".
      {"info", "info: expected at least 1 argument(s), got 0"},
      {"", "no command given"},
      {"--log", "--log needs a value"},
      {"help nosuchcommand", "unknown command 'nosuchcommand'"},
      {"--log /nonexistent/folder/daxo.log version", "/nonexistent/folder/daxo.log"},
      {"--threads 0 version", "--threads needs a whole number from 1 to 256, not '0'"},
  };
  for (const auto& [arguments, message] : cases) {
    const DaxoRun run = runDaxo(arguments);
    EXPECT_EQ(run.status, 2) << arguments;
    EXPECT_NE(run.err.find(message), std::string::npos) << arguments << ": " << run.err;
    EXPECT_EQ(run.out, "") << arguments;
  }
  const DaxoRun badEnvironment = runDaxo("version", "DAXO_THREADS=lots");
  EXPECT_EQ(badEnvironment.status, 2);
  EXPECT_NE(badEnvironment.err.find("DAXO_THREADS must be a whole number from 1 to 256, not 'lots'"), std::string::npos)
      << badEnvironment.err;
  EXPECT_EQ(runDaxo("--threads 1 version", "DAXO_THREADS=lots").status, 0);
  // A command's bad arguments point to that command's help.
  EXPECT_NE(runDaxo("version extra").err.find("Run 'daxo version --help' for usage."), std::string::npos);
  EXPECT_NE(runDaxo("frobnicate").err.find("Run 'daxo --help' for usage."), std::string::npos);
}

// Only the host functions are in daxo's dynamic symbol table.
TEST(DaxoProgram, ExportsExactlyTheHostFunctions) {
  if (std::system("nm --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "nm is not available";
  const DaxoRun run = [] {
    daxo::testing::TempFolder dir;
    const std::string listing = dir.file("symbols");
    const int raw = std::system(
        ("nm -D --defined-only --format=posix '" + std::string(DAXO_PROGRAM_PATH) + "' > '" + listing + "'").c_str());
    return DaxoRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(listing), ""};
  }();
  ASSERT_EQ(run.status, 0);
  std::set<std::string> names;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) names.insert(line.substr(0, line.find(' ')));

  const std::set<std::string> expected = {"hvGetVersionOfTesmarinHV",
                                          "hvLogText",
                                          "hvMessageBox",
                                          "hvYesNoMessageBox",
                                          "hvGetOpenFileName",
                                          "hvShowBusyCursor",
                                          "hvStopBusyCursor",
                                          "hvCreateMAPForCurrentFMR",
                                          "hvGetMAPOfCurrentFMR",
                                          "hvSetMAPParametersOfCurrentFMR",
                                          "hvSaveMAPsOfCurrentFMR",
                                          "hvLoadMAPsToCurrentFMR",
                                          "hvGetStringParameter",
                                          "hvGetIntParameter",
                                          "hvSetStringParameter",
                                          "hvSetIntParameter",
                                          "hv_fftwf_malloc",
                                          "hv_fftwf_free",
                                          "hv_fftwf_plan_dft_r2c_3d",
                                          "hv_fftwf_plan_dft_c2r_3d",
                                          "hv_fftwf_execute",
                                          "hv_fftwf_destroy_plan"};
  EXPECT_EQ(names, expected);
}

}  // namespace
