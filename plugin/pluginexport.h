#pragma once

// Marks the plugin library's entry points. Everything else in the library is
// hidden (the build's default visibility), and the linker version script keeps
// only these names in the dynamic symbol table, so a host that links the same
// core code can never bind to the plugin's copies or the other way round.
#if defined(_WIN32)
#if defined(DAXO_BUILDING_PLUGIN)
#define DAXO_PLUGIN_API __declspec(dllexport)
#else
#define DAXO_PLUGIN_API __declspec(dllimport)
#endif
#else
#define DAXO_PLUGIN_API __attribute__((visibility("default")))
#endif
