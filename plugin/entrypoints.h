#pragma once

#include "plugin/pluginexport.h"
#include "plugin/tshvplugininterface.h"

// The library's exported functions, looked up by the host under these plain
// names. The texts are static and belong to the library: the host must not
// free them.
extern "C" {
// A new plugin object, owned by the caller; destroy it through its virtual
// destructor.
DAXO_PLUGIN_API TSHVPluginInterface* createPlugin();
DAXO_PLUGIN_API const char* getPluginName();
DAXO_PLUGIN_API const char* getPluginVersion();
// The dialog script the host runs for this plugin.
DAXO_PLUGIN_API const char* getGUIScript();
DAXO_PLUGIN_API const char* getHelpFile();
// HTML: the description shown in the host's plugin list.
DAXO_PLUGIN_API const char* getPluginDescription();
// HTML: one line in italics naming the authors and the maker.
DAXO_PLUGIN_API const char* getAuthor();
}

// Pointer types under which a host resolves these exports.
using PluginTextFunction = const char* (*)();
using CreatePluginFunction = TSHVPluginInterface* (*)();
