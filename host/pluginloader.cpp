#include "host/pluginloader.h"

#include <dlfcn.h>

namespace daxo::host {

namespace {

std::string lastLoaderError() {
  const char* error = dlerror();
  return error != nullptr ? error : "unknown error";
}

void* requireExport(void* handle, const std::string& path, const char* name) {
  dlerror();
  void* symbol = dlsym(handle, name);
  if (symbol == nullptr) {
    throw PluginLoadError("plugin library " + path + " does not export " + name + " (" + lastLoaderError() + ")");
  }
  return symbol;
}

std::string readText(void* handle, const std::string& path, const char* name) {
  const auto function = reinterpret_cast<const char* (*)()>(requireExport(handle, path, name));
  const char* text = function();
  return text != nullptr ? text : "";
}

}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) throw PluginLoadError("cannot load plugin library " + path + ": " + lastLoaderError());
  try {
    create_ = reinterpret_cast<TSHVPluginInterface* (*)()>(requireExport(handle_, path, kCreatePluginExport));
    metadata_ = readPluginTexts([&](const char* name) { return readText(handle_, path, name); });
  } catch (...) {
    dlclose(handle_);
    throw;
  }
}

PluginLibrary::~PluginLibrary() { dlclose(handle_); }

PluginPointer PluginLibrary::createPlugin() const {
  PluginPointer plugin(create_());
  if (!plugin) throw PluginLoadError("plugin library " + path_ + " created no plugin");
  return plugin;
}

}  // namespace daxo::host
