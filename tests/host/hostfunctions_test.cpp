// The host's user-interface and dialog-parameter functions as the plugin
// calls them.
#include "host/hostfunctions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "host/hoststate.h"

namespace {

using daxo::host::hostState;

class HostFunctions : public ::testing::Test {
 protected:
  void SetUp() override { daxo::host::resetHostState(); }
};

TEST_F(HostFunctions, StringAnswersAreCutTo511CharactersAndTerminated) {
  hostState().parameters.setString("files", std::string(700, 'p'));
  std::vector<char> buffer(600, 'x');
  EXPECT_EQ(hvGetStringParameter("files", buffer.data()), 1);
  EXPECT_EQ(std::string(buffer.data()), std::string(511, 'p'));
  EXPECT_EQ(buffer[512], 'x');  // nothing written beyond the 512 bytes

  hostState().fileChooser.queueAnswer(std::string(520, 'f'));
  std::fill(buffer.begin(), buffer.end(), 'x');
  hvGetOpenFileName("Please select an VDM.", "", "*_vdm.map", buffer.data());
  EXPECT_EQ(std::strlen(buffer.data()), 511u);
  EXPECT_EQ(buffer[512], 'x');
}

TEST_F(HostFunctions, ParametersReadBackAndPluginChangesAreRecordedInOrder) {
  char buffer[512];
  EXPECT_EQ(hvGetStringParameter("unset", buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(hvGetIntParameter("unset"), 0);

  hvSetIntParameter("nr_of_volumes", 120);
  hvSetIntParameter("display_volume", 1);
  hvSetStringParameter("filename", "/data/run1.fmr");
  EXPECT_EQ(hvGetIntParameter("nr_of_volumes"), 120);
  hvGetStringParameter("filename", buffer);
  EXPECT_STREQ(buffer, "/data/run1.fmr");

  const auto& changes = hostState().parameters.changes();
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0].name, "nr_of_volumes");
  EXPECT_EQ(changes[0].value, "120");
  EXPECT_FALSE(changes[0].isString);
  EXPECT_EQ(changes[1].name, "display_volume");
  EXPECT_EQ(changes[2].name, "filename");
  EXPECT_TRUE(changes[2].isString);
}

TEST_F(HostFunctions, FileChooserAnswersFromItsQueueThenCancels) {
  hostState().fileChooser.queueAnswer("a.fmr");
  hostState().fileChooser.queueAnswer("b.dmr");
  char buffer[512];
  hvGetOpenFileName("Please select an FMR or DMR project.", "", "*.fmr *.dmr", buffer);
  EXPECT_STREQ(buffer, "a.fmr");
  hvGetOpenFileName("second", "", "*.fmr", buffer);
  EXPECT_STREQ(buffer, "b.dmr");
  EXPECT_EQ(hvGetOpenFileName("third", "", "*.fmr", buffer), 0);
  EXPECT_STREQ(buffer, "");

  const auto& requests = hostState().fileChooser.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].title, "Please select an FMR or DMR project.");
  EXPECT_EQ(requests[0].filter, "*.fmr *.dmr");
}

TEST_F(HostFunctions, YesNoAnswersFollowThePolicy) {
  hostState().yesNo.setPolicy(daxo::host::YesNoPolicy::alwaysYes);
  EXPECT_EQ(hvYesNoMessageBox("Resize?"), 1);
  hostState().yesNo.setPolicy(daxo::host::YesNoPolicy::alwaysNo);
  EXPECT_EQ(hvYesNoMessageBox("Resize again?"), 0);
  EXPECT_EQ(hostState().yesNo.questions(), (std::vector<std::string>{"Resize?", "Resize again?"}));
}

TEST(AskYesNo, ReadsOneAnswerLine) {
  const std::vector<std::pair<std::string, bool>> cases = {{"y\n", true},  {"YES\n", true},         {"Yes", true},
                                                           {"n\n", false}, {"yes please\n", false}, {"", false}};
  for (const auto& [input, expected] : cases) {
    std::istringstream in(input);
    std::ostringstream out;
    EXPECT_EQ(daxo::host::askYesNo("Resize the VDM?", in, out), expected) << input;
    EXPECT_EQ(out.str().rfind("Resize the VDM?", 0), 0u);
  }
}

TEST_F(HostFunctions, MessageBoxesAndLogEntriesAreKeptAndObserved) {
  std::vector<std::string> seen;
  hostState().log.setObserver([&](const std::string& text) { seen.push_back("log: " + text); });
  hostState().messageBoxes.setObserver(
      [&](const daxo::host::MessageBoxRecord& box) { seen.push_back("box: " + box.text); });

  hvLogText("Loading VDM...");
  hvShowBusyCursor();
  hvMessageBox("Error: under the cursor");
  hvStopBusyCursor();
  hvMessageBox("Check: two problems");
  hvLogText("");

  EXPECT_EQ(seen, (std::vector<std::string>{"log: Loading VDM...", "box: Error: under the cursor",
                                            "box: Check: two problems", "log: "}));
  EXPECT_EQ(hostState().log.entries(), (std::vector<std::string>{"Loading VDM...", ""}));
  ASSERT_EQ(hostState().messageBoxes.shown().size(), 2u);
  EXPECT_EQ(hostState().messageBoxes.shown()[0].busyCursorDepth, 1);
  EXPECT_EQ(hostState().messageBoxes.shown()[1].busyCursorDepth, 0);
}

TEST_F(HostFunctions, UnbalancedBusyCursorStopIsCountedButDepthStaysAtZero) {
  hvStopBusyCursor();
  hvShowBusyCursor();
  EXPECT_EQ(hostState().busyCursor.depth(), 1);
  EXPECT_EQ(hostState().busyCursor.shows(), 1);
  EXPECT_EQ(hostState().busyCursor.stops(), 1);
}

TEST_F(HostFunctions, VersionIsSettableAndAtLeast300ByDefault) {
  int32_t a = -1, b = -1, c = -1;
  hvGetVersionOfTesmarinHV(&a, &b, &c);
  EXPECT_EQ(a, 3);
  EXPECT_EQ(b, 0);
  EXPECT_GE(c, 0);
  hostState().version = {2, 9, 9};
  hvGetVersionOfTesmarinHV(&a, &b, &c);
  EXPECT_EQ(a * 100 + b * 10 + c, 299);
}

}  // namespace
