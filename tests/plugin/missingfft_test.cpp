// A host program that lacks one of the six FFT functions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/hoststate.h"
#include "tests/plugin/loadedplugin.h"

namespace {

using daxo::host::hostState;

TEST(HostWithoutFftFunction, PluginReportsItAndKeepsItsLogStream) {
  daxo::testing::LoadedPlugin loaded;
  EXPECT_FALSE(loaded.plugin->initPlugin());
  ASSERT_EQ(hostState().messageBoxes.shown().size(), 1u);
  EXPECT_EQ(hostState().messageBoxes.shown()[0].text, "Did not get access to MKL access functions!");
  EXPECT_TRUE(hostState().log.entries().empty());
  // The stream created before the FFT check is still the plugin's.
  loaded.destroyPlugin();
  EXPECT_EQ(hostState().log.entries(), std::vector<std::string>{""});
}

}  // namespace
