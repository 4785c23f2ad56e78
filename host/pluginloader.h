#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "protocol/pluginexports.h"
#include "protocol/tshvplugininterface.h"

namespace daxo::host {

// A plugin library that cannot be used; the message names the library.
class PluginLoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Destroys a plugin object through its virtual destructor, as the host does.
struct PluginDeleter {
  void operator()(TSHVPluginInterface* plugin) const { delete plugin; }
};
using PluginPointer = std::unique_ptr<TSHVPluginInterface, PluginDeleter>;

// A plugin library loaded by path, the way the host loads it: opened with its
// own symbols kept private, its seven exports (protocol/pluginexports.h) resolved, its texts read.
// Plugin objects made by createPlugin() run code of this library: destroy them
// before the library (declare the library first, the plugins after it).
class PluginLibrary {
 public:
  // Throws PluginLoadError naming `path` when the library cannot be loaded or
  // lacks one of its exports.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  const std::string& path() const { return path_; }
  const PluginTexts& metadata() const { return metadata_; }

  // A new plugin object from the library's createPlugin. Throws
  // PluginLoadError when it returns none.
  PluginPointer createPlugin() const;

 private:
  std::string path_;
  void* handle_ = nullptr;
  TSHVPluginInterface* (*create_)() = nullptr;
  PluginTexts metadata_;
};

}  // namespace daxo::host
