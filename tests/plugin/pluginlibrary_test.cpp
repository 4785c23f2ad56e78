// The built plugin library, driven through its exports the way the host does.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "daxo/version.h"
#include "host/hoststate.h"
#include "tests/plugin/loadedplugin.h"

namespace {

using daxo::host::hostState;
using daxo::testing::Entries;
using daxo::testing::LoadedPlugin;
using daxo::testing::messageBoxTexts;

const char* const kVersionMessage = "Error: Tesmarin version 20.0 or higher required.";

TEST(PluginLibrary, ReportsItsMetadata) {
  LoadedPlugin loaded;
  const daxo::PluginTexts& m = loaded.library.metadata();
  EXPECT_EQ(m.name, "DAXO v" DAXO_VERSION_STRING " (batch)");
  EXPECT_EQ(m.version, DAXO_VERSION_STRING);
  EXPECT_EQ(m.guiScript, "DAXO_v" DAXO_VERSION_DIGITS ".js");
  EXPECT_EQ(m.helpFile, "DaxoPluginHelp/index.html");
  EXPECT_EQ(m.description, "~~ Pipeline including Ostrelin (DAXO " DAXO_VERSION_STRING
                           ") ~~<BR>This plugin corrects EPI data from reverse "
                           "phase-encoded data (anterior-posterior (AP/PA) and left-right (LR/RL).<BR>");
  EXPECT_EQ(m.author.rfind("<i>", 0), 0u);
  EXPECT_EQ(m.author.substr(m.author.size() - 4), "</i>");
}

struct VersionCase {
  int32_t first, second, third;
  bool accepted;
};

class PluginVersionGate : public ::testing::TestWithParam<VersionCase> {};

TEST_P(PluginVersionGate, AcceptsHostsFrom300) {
  const VersionCase c = GetParam();
  LoadedPlugin loaded;
  hostState().version = {c.first, c.second, c.third};
  EXPECT_EQ(loaded.plugin->initPlugin(), c.accepted);
  EXPECT_EQ(messageBoxTexts(), c.accepted ? Entries{} : Entries{kVersionMessage});
  // Refused or not, the log stream is in place: destroying the plugin
  // forwards its (empty) final entry.
  loaded.destroyPlugin();
  EXPECT_EQ(hostState().log.entries(), Entries{""});
}

INSTANTIATE_TEST_SUITE_P(Versions, PluginVersionGate,
                         ::testing::Values(VersionCase{3, 0, 0, true}, VersionCase{3, 0, 7, true},
                                           VersionCase{3, 2, -4, true}, VersionCase{20, -1, -1, true},
                                           VersionCase{2, 9, 9, false}, VersionCase{3, -1, 0, false},
                                           VersionCase{3, 0, -1, false}, VersionCase{-3, 0, 0, false}),
                         [](const ::testing::TestParamInfo<VersionCase>& info) {
                           std::string name = "v";
                           for (int32_t part : {info.param.first, info.param.second, info.param.third}) {
                             name += (part < 0 ? "_minus" : "_") + std::to_string(part < 0 ? -part : part);
                           }
                           return name;
                         });

using StartedPlugin = daxo::testing::PluginTaskTest;

TEST_F(StartedPlugin, TaskNamesMustMatchExactly) {
  for (const std::string task : {"Estimate", "estimate ", " apply", "APPLY", "", "Check", "select_vdm "}) {
    SCOPED_TRACE("task \"" + task + "\"");
    daxo::host::resetHostState();
    runTask(task);
    EXPECT_TRUE(hostState().messageBoxes.shown().empty());
    EXPECT_EQ(hostState().busyCursor.shows(), 1);
    EXPECT_EQ(hostState().busyCursor.stops(), 1);
    EXPECT_EQ(hostState().busyCursor.depth(), 0);
    EXPECT_TRUE(hostState().log.entries().empty());
  }
}

TEST_F(StartedPlugin, FailingTaskUnderBusyCursorShowsItsErrorAfterTheCursorStopped) {
  // Without parameters both fail on their empty paths ("estimate" reads a
  // name without ".fmr" as a DMR project).
  const std::pair<std::string, std::string> cases[] = {
      {"estimate", "Error: Failed opening for reading: "},
      {"apply", "Error: could not open file "},
  };
  for (const auto& [task, message] : cases) {
    daxo::host::resetHostState();
    runTask(task);
    ASSERT_EQ(hostState().messageBoxes.shown().size(), 1u);
    const daxo::host::MessageBoxRecord& box = hostState().messageBoxes.shown()[0];
    EXPECT_EQ(box.text, message);
    EXPECT_EQ(box.busyCursorDepth, 0);
    EXPECT_EQ(hostState().busyCursor.shows(), 1);
    EXPECT_EQ(hostState().busyCursor.stops(), 1);
  }
}

TEST_F(StartedPlugin, DialogTasksRunWithoutBusyCursor) {
  for (const std::string task : {"select_fmr_or_dmr", "select_vdm", "check"}) {
    daxo::host::resetHostState();
    runTask(task);
    EXPECT_EQ(messageBoxTexts(), Entries{});
    EXPECT_EQ(hostState().busyCursor.shows(), 0);
    EXPECT_EQ(hostState().busyCursor.stops(), 0);
  }
}

TEST_F(StartedPlugin, SecondInitPluginReplacesTheLogStream) {
  ASSERT_TRUE(loaded.plugin->initPlugin());
  // The first stream was deleted and forwarded its final (empty) entry.
  EXPECT_EQ(hostState().log.entries(), Entries{""});
  loaded.destroyPlugin();
  EXPECT_EQ(hostState().log.entries(), (Entries{"", ""}));
}

TEST(PluginLibraryWithoutStart, ExecuteBeforeInitPluginDoesNotCrash) {
  LoadedPlugin loaded;
  hostState().parameters.setString("task", "estimate");
  // No log stream exists yet; the task must not be handed a null one.
  EXPECT_TRUE(loaded.plugin->execute());
}

}  // namespace
