// The plugin library's dynamic symbol table holds its entry points and
// nothing else, so a host linking the same core code never binds to the
// plugin's copies.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "protocol/pluginexports.h"

namespace {

// The defined dynamic symbols of `path`, demangled; false when nm cannot run.
bool definedDynamicSymbols(const std::string& path, std::vector<std::string>& names) {
  if (std::system("nm --version > /dev/null 2>&1") != 0) return false;
  FILE* pipe = popen(("nm -D -C --defined-only --format=posix '" + path + "'").c_str(), "r");
  if (pipe == nullptr) return false;
  std::string output;
  char buffer[4096];
  size_t count = 0;
  while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, count);
  if (pclose(pipe) != 0) return false;
  // POSIX format: "name type value size"; demangled names contain blanks, so
  // the name is everything before the last three fields.
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    start = end + 1;
    for (int field = 0; field < 3 && !line.empty(); ++field) {
      const size_t blank = line.find_last_of(' ');
      line = blank == std::string::npos ? std::string() : line.substr(0, blank);
      while (!line.empty() && line.back() == ' ') line.pop_back();
    }
    if (!line.empty()) names.push_back(line);
  }
  return true;
}

bool isEntryPoint(const std::string& name) {
#define DAXO_TEXT_EXPORT_NAME(function, field) #function,
  static const std::set<std::string> exact = {daxo::kCreatePluginExport,
                                              DAXO_PLUGIN_TEXT_EXPORTS(DAXO_TEXT_EXPORT_NAME)};
#undef DAXO_TEXT_EXPORT_NAME
  if (exact.count(name) != 0) return true;
  for (const std::string cls : {"TSHVPluginInterface", "distcor"}) {
    if (name.rfind(cls + "::", 0) == 0) return true;
    for (const std::string prefix : {"vtable for ", "typeinfo for ", "typeinfo name for "}) {
      if (name == prefix + cls) return true;
    }
  }
  return false;
}

TEST(PluginLibraryExports, OnlyTheEntryPoints) {
  std::vector<std::string> names;
  if (!definedDynamicSymbols(DAXO_PLUGIN_PATH, names)) GTEST_SKIP() << "nm is not available";
  for (const std::string& name : names) EXPECT_TRUE(isEntryPoint(name)) << "exported: " << name;

  const std::set<std::string> present(names.begin(), names.end());
  for (const std::string required :
       {daxo::kCreatePluginExport, "getPluginName", "getAuthor", "distcor::execute()", "distcor::initPlugin()",
        "distcor::distcor()", "distcor::~distcor()", "TSHVPluginInterface::TSHVPluginInterface()",
        "TSHVPluginInterface::TSHVPluginInterface(TSHVPluginInterface const&)",
        "TSHVPluginInterface::operator=(TSHVPluginInterface const&)", "TSHVPluginInterface::~TSHVPluginInterface()",
        "vtable for TSHVPluginInterface", "typeinfo for distcor"}) {
    EXPECT_EQ(present.count(required), 1u) << "missing: " << required;
  }
}

}  // namespace
