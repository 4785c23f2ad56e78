// Tesmarin.exe: the test host for DAXO.dll on Windows (run under wine in CI).
// It exports the host functions by their plain names, as the workstation
// does, and drives the plugin only the way code from Microsoft's compiler
// would: createPlugin, calls through the object's table in Microsoft's slot
// order, deletion through slot 0 with the flags argument, and the class
// members under their decorated names. It then makes the same run as its
// Linux twin (scenario.h) for the bit-for-bit comparison.
//
//   Tesmarin.exe PLUGIN FOLDER
#include <windows.h>

#include <exception>
#include <fstream>
#include <iostream>
#include <string>

#include "host/crosscheck/scenario.h"
#include "host/hoststate.h"
#include "protocol/dialogkeys.h"
#include "protocol/pluginexports.h"

namespace {

// Microsoft's x64 calls on a TSHVPluginInterface*: `this` is the first
// argument; the object's first word points at the table
//   [0] void* deletingDestructor(this, unsigned int flags)
//   [1] bool execute(this)
//   [2] bool initPlugin(this)
using DeletingDestructor = void* (*)(void* self, unsigned int flags);
using BoolMember = bool (*)(void* self);
using Constructor = void* (*)(void* self);
using CopyConstructor = void* (*)(void* self, const void* other);
using Assignment = void* (*)(void* self, const void* other);
using Destructor = void (*)(void* self);
using TextFunction = const char* (*)();
using CreatePlugin = void* (*)();

const void* const* tableOf(const void* object) { return *static_cast<const void* const* const*>(object); }

template <typename Function>
Function slot(const void* object, int index) {
  return reinterpret_cast<Function>(tableOf(object)[index]);
}

// Counts and reports failed checks.
struct Checks {
  int failed = 0;
  void expect(bool condition, const std::string& what) {
    if (condition) return;
    ++failed;
    std::cerr << "Tesmarin: FAILED: " << what << "\n";
  }
};

class Plugin {
 public:
  explicit Plugin(HMODULE module) : module_(module) {}

  // The export `name`, null when absent.
  const void* address(const char* name) const { return reinterpret_cast<const void*>(GetProcAddress(module_, name)); }
  template <typename Function>
  Function function(const char* name) const {
    // Through the generic function type, which any function type converts to.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
  }

 private:
  HMODULE module_;
};

using namespace daxo::msvc;

class MsvcDriver : public daxo::crosscheck::PluginDriver {
 public:
  explicit MsvcDriver(void* object) : object_(object) {}
  bool initPlugin() override { return slot<BoolMember>(object_, 2)(object_); }
  bool execute() override { return slot<BoolMember>(object_, 1)(object_); }

 private:
  void* object_;
};

std::string text(const Plugin& plugin, const char* name, Checks& checks) {
  const TextFunction function = plugin.function<TextFunction>(name);
  checks.expect(function != nullptr, std::string("export ") + name);
  const char* value = function != nullptr ? function() : nullptr;
  return value != nullptr ? value : "";
}

// The absolute form of `folder`, with a drive letter and backslashes, ending
// in a backslash.
std::string absoluteFolder(const std::string& folder) {
  char buffer[MAX_PATH] = {};
  const DWORD length = GetFullPathNameA(folder.c_str(), MAX_PATH, buffer, nullptr);
  std::string path = length > 0 && length < MAX_PATH ? std::string(buffer, length) : folder;
  if (path.empty() || path.back() != '\\') path += '\\';
  return path;
}

// The class members under their decorated names, called as the host's own
// code would call them, on objects in the host's memory.
void checkMembers(const Plugin& plugin, const void* distcorTable, Checks& checks) {
  alignas(16) unsigned char first[16] = {};
  alignas(16) unsigned char second[16] = {};
  const auto construct = plugin.function<Constructor>(kDistcorConstructor);
  const auto destroy = plugin.function<Destructor>(kDistcorDestructor);
  const auto execute = plugin.function<BoolMember>(kExecute);
  const auto initPlugin = plugin.function<BoolMember>(kInitPlugin);
  if (construct && destroy && execute && initPlugin) {
    checks.expect(construct(first) == first, "distcor's constructor returns this");
    checks.expect(tableOf(first) == distcorTable, "distcor's constructor installs distcor's table");
    checks.expect(initPlugin(first), "distcor::initPlugin called by its decorated name");
    daxo::host::hostState().parameters.setString(daxo::dialogkeys::kTask, "");
    checks.expect(execute(first), "distcor::execute called by its decorated name");
    checks.expect(slot<DeletingDestructor>(first, 0)(first, 0) == first, "slot 0 with flags 0 destroys in place");
    construct(second);
    destroy(second);
  }

  const auto interfaceConstruct = plugin.function<Constructor>(kInterfaceConstructor);
  const auto interfaceCopy = plugin.function<CopyConstructor>(kInterfaceCopy);
  const auto interfaceAssign = plugin.function<Assignment>(kInterfaceAssignment);
  const auto interfaceDestroy = plugin.function<Destructor>(kInterfaceDestructor);
  const void* interfaceTable = plugin.address(kInterfaceTable);
  if (interfaceConstruct && interfaceCopy && interfaceAssign && interfaceDestroy && interfaceTable) {
    checks.expect(interfaceConstruct(first) == first, "TSHVPluginInterface's constructor returns this");
    checks.expect(tableOf(first) == interfaceTable, "TSHVPluginInterface's constructor installs the exported table");
    checks.expect(interfaceCopy(second, first) == second, "TSHVPluginInterface's copy constructor returns this");
    checks.expect(tableOf(second) == interfaceTable, "TSHVPluginInterface's copy installs the exported table");
    checks.expect(interfaceAssign(first, second) == first, "TSHVPluginInterface's assignment returns this");
    checks.expect(slot<DeletingDestructor>(second, 0)(second, 0) == second, "the interface's slot 0 with flags 0");
    interfaceDestroy(first);
  }
}

int run(const std::string& pluginPath, const std::string& folderArgument) {
  Checks checks;
  const HMODULE module = LoadLibraryA(pluginPath.c_str());
  if (module == nullptr) {
    std::cerr << "Tesmarin: cannot load " << pluginPath << "\n";
    return 1;
  }
  const Plugin plugin(module);
  for (const char* name : {kInterfaceConstructor, kInterfaceCopy, kInterfaceAssignment, kInterfaceDestructor,
                           kInterfaceTable, kDistcorConstructor, kDistcorDestructor, kExecute, kInitPlugin}) {
    checks.expect(plugin.address(name) != nullptr, std::string("export ") + name);
  }
  const daxo::PluginTexts texts = daxo::readPluginTexts([&](const char* name) { return text(plugin, name, checks); });
  const auto createPlugin = plugin.function<CreatePlugin>(daxo::kCreatePluginExport);
  checks.expect(createPlugin != nullptr, std::string("export ") + daxo::kCreatePluginExport);
  if (checks.failed != 0) return 1;

  void* object = createPlugin();
  checks.expect(object != nullptr, "createPlugin returns an object");
  if (object == nullptr) return 1;
  const void* distcorTable = tableOf(object);
  checks.expect(tableOf(object)[1] == plugin.address(kExecute), "slot 1 is distcor::execute");
  checks.expect(tableOf(object)[2] == plugin.address(kInitPlugin), "slot 2 is distcor::initPlugin");

  const std::string folder = absoluteFolder(folderArgument);
  std::ofstream transcript(folder + daxo::crosscheck::kTranscript, std::ios::binary);
  daxo::crosscheck::writePluginTexts(texts, transcript);
  MsvcDriver driver(object);
  checks.expect(daxo::crosscheck::runScenario(driver, folder, transcript), "the tasks ran without an error");
  checks.expect(slot<DeletingDestructor>(object, 0)(object, 1) == object, "slot 0 with flags 1 deletes");
  transcript.close();
  checks.expect(static_cast<bool>(transcript), "transcript written");

  checkMembers(plugin, distcorTable, checks);
  FreeLibrary(module);
  if (checks.failed == 0) std::cout << "Tesmarin: DAXO.dll passed; transcript in " << folder << "\n";
  return checks.failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: Tesmarin.exe PLUGIN FOLDER\n";
    return 2;
  }
  try {
    return run(argv[1], argv[2]);
  } catch (const std::exception& e) {
    std::cerr << "Tesmarin: " << e.what() << "\n";
    return 1;
  }
}
