// A host program that does not export its version function.
#include <gtest/gtest.h>

#include "host/hoststate.h"
#include "tests/plugin/loadedplugin.h"

namespace {

using daxo::host::hostState;

TEST(HostWithoutVersionFunction, PluginRefusesToStartSilently) {
  daxo::testing::LoadedPlugin loaded;
  EXPECT_FALSE(loaded.plugin->initPlugin());
  loaded.destroyPlugin();
  EXPECT_TRUE(hostState().messageBoxes.shown().empty());
  // No log stream was created, so none forwarded anything when destroyed.
  EXPECT_TRUE(hostState().log.entries().empty());
}

}  // namespace
