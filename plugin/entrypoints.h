#pragma once

#include "protocol/pluginexport.h"
#include "protocol/pluginexports.h"
#include "protocol/tshvplugininterface.h"

// The library's exported functions, declared from the lists of
// protocol/pluginexports.h, which name them and say what they return.
extern "C" {
#define DAXO_DECLARE_CREATE_EXPORT(function) DAXO_PLUGIN_API TSHVPluginInterface* function();
DAXO_PLUGIN_CREATE_EXPORT(DAXO_DECLARE_CREATE_EXPORT)
#undef DAXO_DECLARE_CREATE_EXPORT
#define DAXO_DECLARE_TEXT_EXPORT(function, field) DAXO_PLUGIN_API const char* function();
DAXO_PLUGIN_TEXT_EXPORTS(DAXO_DECLARE_TEXT_EXPORT)
#undef DAXO_DECLARE_TEXT_EXPORT
}
