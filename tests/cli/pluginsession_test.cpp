// The helper that daxo's task commands use to run one task through the
// plugin, and the console that prints what the host receives.
#include "cli/pluginsession.h"

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>

#include "cli/console.h"
#include "daxo/version.h"
#include "host/hostfunctions.h"
#include "host/hoststate.h"
#include "testsupport/testfiles.h"

namespace {

using daxo::cli::CommandContext;
using daxo::cli::Console;
using daxo::cli::GlobalOptions;
using daxo::cli::TaskOutcome;
using daxo::cli::TaskParameters;
using daxo::host::hostState;

GlobalOptions withPlugin(const std::string& path) {
  GlobalOptions options;
  options.pluginPath = path;
  return options;
}

class PluginTask : public ::testing::Test {
 protected:
  void SetUp() override { daxo::host::resetHostState(); }
  std::ostringstream out;
  std::ostringstream err;
};

TEST_F(PluginTask, SessionSetsParametersAndReportsTheErrorBox) {
  daxo::cli::PluginSession session(DAXO_PLUGIN_PATH);
  EXPECT_EQ(session.metadata().version, DAXO_VERSION_STRING);
  const TaskOutcome outcome = session.runTask("estimate", TaskParameters().set("file0", "a.fmr").set("volume0", 3));
  EXPECT_EQ(hostState().parameters.getString("task"), "estimate");
  EXPECT_EQ(hostState().parameters.getString("file0"), "a.fmr");
  EXPECT_EQ(hostState().parameters.getInt("volume0"), 3);
  EXPECT_EQ(outcome.messageBoxes, std::vector<std::string>{"Error: Failed opening for reading: a.fmr"});
  EXPECT_TRUE(outcome.errorShown());
  EXPECT_EQ(outcome.exitStatus(), daxo::cli::kExitFailure);
}

TEST_F(PluginTask, UnknownTaskSucceedsQuietly) {
  daxo::cli::PluginSession session(DAXO_PLUGIN_PATH);
  const TaskOutcome outcome = session.runTask("nothing", {});
  EXPECT_TRUE(outcome.messageBoxes.empty());
  EXPECT_EQ(outcome.exitStatus(), daxo::cli::kExitSuccess);
}

TEST(TaskOutcome, HostFailuresAndErrorBoxesFailTheCommand) {
  TaskOutcome outcome;
  outcome.messageBoxes = {"Check: OK?", "Errors: not an error box"};
  EXPECT_EQ(outcome.exitStatus(), daxo::cli::kExitSuccess);
  outcome.hostErrors = {"could not save map file /dev/full: No space left on device"};
  EXPECT_EQ(outcome.exitStatus(), daxo::cli::kExitFailure);
}

TEST_F(PluginTask, RefusedStartFailsTheCommandAndShowsTheMessage) {
  hostState().version = {2, 9, 9};
  Console console(withPlugin(DAXO_PLUGIN_PATH), out, err);
  CommandContext context{{}, withPlugin(DAXO_PLUGIN_PATH), console};
  EXPECT_EQ(daxo::cli::runPluginTask(context, "estimate", {}), daxo::cli::kExitFailure);
  EXPECT_NE(err.str().find("Error: Tesmarin version 20.0 or higher required."), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("could not start"), std::string::npos) << err.str();
}

TEST_F(PluginTask, MissingLibraryFailsTheCommandNamingIt) {
  Console console(withPlugin("/nonexistent/DAXO.so"), out, err);
  CommandContext context{{}, withPlugin("/nonexistent/DAXO.so"), console};
  EXPECT_EQ(daxo::cli::runPluginTask(context, "estimate", {}), daxo::cli::kExitFailure);
  EXPECT_NE(err.str().find("/nonexistent/DAXO.so"), std::string::npos) << err.str();
}

TEST_F(PluginTask, ConsolePrintsEntriesWithElapsedTimeAndKeepsALogFile) {
  daxo::testing::TempFolder dir;
  GlobalOptions options;
  options.logFile = dir.file("run.log");
  {
    Console console(options, out, err);
    console.attachToHost();
    hvLogText("Estimating voxel displacement maps...");
    hvMessageBox("Error: something failed");
    hostState().errors.report("could not save map file x.map: No space left on device");
  }
  // "[    0.0 s] " then the entry: the seconds right-aligned in 7 columns.
  const std::string printed = out.str();
  ASSERT_EQ(printed.size(), 12u + 37u + 1u) << printed;
  EXPECT_EQ(printed.substr(0, 5), "[    ");
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(printed[5])) && printed[6] == '.' &&
              std::isdigit(static_cast<unsigned char>(printed[7])))
      << printed;
  EXPECT_EQ(printed.substr(8), " s] Estimating voxel displacement maps...\n");
  EXPECT_NE(err.str().find("] Error: something failed\n"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("] host error: could not save map file x.map"), std::string::npos) << err.str();
  const std::string logText = daxo::testing::readFile(dir.file("run.log"));
  EXPECT_NE(logText.find("Estimating voxel displacement maps..."), std::string::npos);
  EXPECT_NE(logText.find("Error: something failed"), std::string::npos);

  // Detached when the console is gone.
  hvLogText("after");
  EXPECT_EQ(out.str().find("after"), std::string::npos);
}

TEST_F(PluginTask, QuietConsoleStillPrintsMessageBoxes) {
  GlobalOptions options;
  options.quiet = true;
  Console console(options, out, err);
  console.attachToHost();
  hvLogText("Done.");
  hvMessageBox("Error: shown anyway");
  EXPECT_EQ(out.str(), "");
  EXPECT_NE(err.str().find("Error: shown anyway"), std::string::npos);
}

// The plugin's log stream forwards an empty entry when it is deleted; a box
// listing problems ends in a line feed of its own.
TEST_F(PluginTask, ConsoleSkipsEmptyEntriesAndEndsBoxesWithOneLineEnd) {
  Console console(GlobalOptions(), out, err);
  console.attachToHost();
  hvLogText("");
  hvMessageBox("a.FMR: not an FMR or DMR file\nb.txt: not an FMR or DMR file\n");
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str().substr(err.str().find(']')), "] a.FMR: not an FMR or DMR file\nb.txt: not an FMR or DMR file\n");
}

// Regression: an entry starting with a line feed printed its time stamp alone
// on a line and its text unstamped below it.
TEST_F(PluginTask, ConsoleStampsTheTextOfAnEntryAfterItsBlankLine) {
  Console console(GlobalOptions(), out, err);
  console.attachToHost();
  hvLogText("\nStarting local optimizations");
  ASSERT_EQ(out.str().substr(0, 2), "\n[") << out.str();
  EXPECT_EQ(out.str().substr(out.str().find(']')), "] Starting local optimizations\n");
}

}  // namespace
