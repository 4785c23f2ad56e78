#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/hoststate.h"
#include "host/pluginloader.h"
#include "testsupport/testfiles.h"

namespace daxo::testing {

using Entries = std::vector<std::string>;

// The built DAXO library loaded by path with one plugin object, on a freshly
// reset stand-in host. The plugin goes before the library.
struct LoadedPlugin {
  LoadedPlugin() { host::resetHostState(); }

  host::PluginLibrary library{DAXO_PLUGIN_PATH};
  host::PluginPointer plugin = library.createPlugin();

  // Destroys the plugin object the way the host does.
  void destroyPlugin() { plugin.reset(); }
};

// What the stand-in host recorded, as texts: the log pane's entries, the
// message boxes shown, and "name=value" of every parameter the plugin set.
inline Entries logEntries() { return host::hostState().log.entries(); }
inline Entries messageBoxTexts() {
  Entries texts;
  for (const auto& box : host::hostState().messageBoxes.shown()) texts.push_back(box.text);
  return texts;
}
inline Entries parameterChanges() {
  Entries texts;
  for (const auto& change : host::hostState().parameters.changes()) texts.push_back(change.name + "=" + change.value);
  return texts;
}

// A started plugin and a temporary folder for the files a task reads and
// writes.
class PluginTaskTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(loaded.plugin->initPlugin()); }

  // Sets the dialog parameter "task" and runs it; execute always returns
  // true.
  void runTask(const std::string& task) {
    host::hostState().parameters.setString("task", task);
    EXPECT_TRUE(loaded.plugin->execute());
  }
  std::string file(const std::string& name) const { return dir.file(name); }

  LoadedPlugin loaded;
  TempFolder dir;
};

}  // namespace daxo::testing
