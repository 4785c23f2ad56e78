#include "host/pluginloader.h"

#include <gtest/gtest.h>

#include <string>

#include "daxo/version.h"
#include "host/hoststate.h"
#include "testsupport/thrownmessage.h"

namespace {

using daxo::host::PluginLibrary;
using daxo::host::PluginLoadError;

std::string loadError(const std::string& path) {
  return daxo::testing::thrownMessage<PluginLoadError>([&] { PluginLibrary library(path); });
}

TEST(PluginLoader, LoadsTheBuiltPluginAndStartsIt) {
  daxo::host::resetHostState();
  PluginLibrary library(DAXO_PLUGIN_PATH);
  EXPECT_EQ(library.metadata().name, "DAXO v" DAXO_VERSION_STRING " (batch)");
  daxo::host::PluginPointer plugin = library.createPlugin();
  EXPECT_TRUE(plugin->initPlugin());
  plugin.reset();
  EXPECT_EQ(daxo::host::hostState().log.entries().size(), 1u);
}

TEST(PluginLoader, ErrorsNameTheLibrary) {
  const std::string missing = "/nonexistent/folder/DAXO.so";
  const std::string missingError = loadError(missing);
  EXPECT_NE(missingError.find("cannot load plugin library " + missing), std::string::npos) << missingError;

  // A real shared library that is no plugin.
  const std::string other = DAXO_NOT_A_PLUGIN_PATH;
  const std::string otherError = loadError(other);
  EXPECT_NE(otherError.find(other), std::string::npos) << otherError;
  EXPECT_NE(otherError.find("createPlugin"), std::string::npos) << otherError;
}

}  // namespace
