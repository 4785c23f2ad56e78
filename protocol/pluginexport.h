#pragma once

// Marks the plugin library's entry points. Everything else in the library is
// hidden (the build's default visibility), and the linker version script keeps
// only these names in the dynamic symbol table, so a host that links the same
// core code can never bind to the plugin's copies or the other way round.
//
// On Windows the exports are listed by name in DAXO.def instead: the
// host looks the class members up under Microsoft's decorated names, which
// mingw's own export marks would not give.
#if defined(_WIN32)
#define DAXO_PLUGIN_API
#else
#define DAXO_PLUGIN_API __attribute__((visibility("default")))
#endif
