#pragma once

#include "host/hoststate.h"
#include "host/pluginloader.h"

namespace daxo::testing {

// The built DAXO library loaded by path with one plugin object, on a freshly
// reset stand-in host. The plugin goes before the library.
struct LoadedPlugin {
  LoadedPlugin() { host::resetHostState(); }

  host::PluginLibrary library{DAXO_PLUGIN_PATH};
  host::PluginPointer plugin = library.createPlugin();

  // Destroys the plugin object the way the host does.
  void destroyPlugin() { plugin.reset(); }
};

}  // namespace daxo::testing
