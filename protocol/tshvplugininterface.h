#pragma once

#include "protocol/pluginexport.h"

// Abstract base class of every processing plugin of the host's SDK. The host
// is built against this same declaration: it creates a plugin through the
// library's `createPlugin`, calls initPlugin once, execute once per dialog
// step, and destroys the plugin through the virtual destructor. The slot order
// of the virtual table (destructor, execute, initPlugin) is part of that
// contract; do not reorder or add virtual functions.
//
// On Windows the host is built by Microsoft's compiler, whose table for this
// class has three slots: [0] a deleting destructor taking a flags word,
// [1] execute, [2] initPlugin. g++ and mingw would give a virtual destructor
// two slots (complete and deleting destructor) and shift execute and
// initPlugin by one, so the host would call the wrong functions. The Windows
// build therefore declares slot 0 as an ordinary virtual function with the
// deleting destructor's signature and keeps the destructor itself out of the
// table: the table mingw then lays out is, word for word from the address the
// object's first word points at, the one Microsoft's compiler expects (same
// calling convention on x64: `this` in rcx, `flags` in edx, the result in rax
// or al). The Microsoft-decorated member names are mapped onto these
// functions in plugin/DAXO.def.in and plugin/msvcabi_windows.cpp.
class DAXO_PLUGIN_API TSHVPluginInterface {
 public:
  TSHVPluginInterface();
  TSHVPluginInterface(const TSHVPluginInterface& other);
  // Holds no data: assignment only returns the object itself.
  TSHVPluginInterface& operator=(const TSHVPluginInterface& other);
#if defined(_WIN32)
  // Slot 0: destroys the object and, when bit 0 of `flags` is set, frees its
  // memory; returns the object's address (Microsoft's scalar deleting
  // destructor). The host's `delete plugin` calls it with flags 1.
  virtual void* deletingDestructor(unsigned int flags) = 0;
#else
  virtual ~TSHVPluginInterface();
#endif

  // Runs one dialog step; true when the host may go on using the plugin.
  virtual bool execute() = 0;
  // Start-up checks; on false the host does not use the plugin further.
  virtual bool initPlugin() = 0;

#if defined(_WIN32)
 protected:
  // Not in the table (see above); objects are destroyed through slot 0.
  ~TSHVPluginInterface();
#endif
};
