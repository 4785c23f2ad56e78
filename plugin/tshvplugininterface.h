#pragma once

#include "plugin/pluginexport.h"

// Abstract base class of every processing plugin of the host's SDK. The host
// is built against this same declaration: it creates a plugin through the
// library's `createPlugin`, calls initPlugin once, execute once per dialog
// step, and destroys the plugin through the virtual destructor. The slot order
// of the virtual table (destructor, execute, initPlugin) is part of that
// contract; do not reorder or add virtual functions.
class DAXO_PLUGIN_API TSHVPluginInterface {
 public:
  TSHVPluginInterface();
  TSHVPluginInterface(const TSHVPluginInterface& other);
  // Holds no data: assignment only returns the object itself.
  TSHVPluginInterface& operator=(const TSHVPluginInterface& other);
  virtual ~TSHVPluginInterface();

  // Runs one dialog step; true when the host may go on using the plugin.
  virtual bool execute() = 0;
  // Start-up checks; on false the host does not use the plugin further.
  virtual bool initPlugin() = 0;
};
