#pragma once

#include <string>

// The names under which a host finds the plugin library's exports: the plain
// C functions, and for DAXO.dll the class members under the names Microsoft's
// x64 compiler gives them. This file is their one spelling: the plugin
// declares its entry points from the lists below, hosts look them up by them,
// and plugin/CMakeLists.txt writes the linker's export lists (DAXO.map,
// DAXO.def) from the entries as they are written here, one per line.

// The function that creates a plugin object (`TSHVPluginInterface* ()`);
// the caller owns the object and destroys it through its virtual destructor.
#define DAXO_PLUGIN_CREATE_EXPORT(entry) entry(createPlugin)

// The six text functions (`const char* ()`), in the order a host reads them,
// each with the field of PluginTexts it fills. The texts are static and
// belong to the library: a host must not free them.
// clang-format off
#define DAXO_PLUGIN_TEXT_EXPORTS(entry)    \
  entry(getPluginName, name)               \
  entry(getPluginVersion, version)         \
  entry(getGUIScript, guiScript)           \
  entry(getHelpFile, helpFile)             \
  entry(getPluginDescription, description) \
  entry(getAuthor, author)
// clang-format on

namespace daxo {

// The texts a plugin library reports about itself. `guiScript` names the
// dialog script the host runs for the plugin; `description` (HTML) is shown
// in the host's plugin list, `author` (HTML) in one line of italics.
struct PluginTexts {
  std::string name, version, guiScript, helpFile, description, author;
};

// The six texts, read in the host's order through `read`, which is called
// with each export's name and returns its text.
template <typename Read>
PluginTexts readPluginTexts(Read&& read) {
  PluginTexts texts;
#define DAXO_READ_PLUGIN_TEXT(function, field) texts.field = read(#function);
  DAXO_PLUGIN_TEXT_EXPORTS(DAXO_READ_PLUGIN_TEXT)
#undef DAXO_READ_PLUGIN_TEXT
  return texts;
}

#define DAXO_PLUGIN_EXPORT_NAME(function) #function
// The name of the function that creates a plugin object.
inline constexpr char kCreatePluginExport[] = DAXO_PLUGIN_CREATE_EXPORT(DAXO_PLUGIN_EXPORT_NAME);
#undef DAXO_PLUGIN_EXPORT_NAME

// The members of the plugin classes (TSHVPluginInterface, distcor) as
// DAXO.dll exports them, under Microsoft's x64 decorated names. Hosts built
// with that compiler bind to these names; the Windows test host looks each up.
namespace msvc {
inline constexpr char kInterfaceConstructor[] = "??0TSHVPluginInterface@@QEAA@XZ";
inline constexpr char kInterfaceCopy[] = "??0TSHVPluginInterface@@QEAA@AEBV0@@Z";
inline constexpr char kInterfaceAssignment[] = "??4TSHVPluginInterface@@QEAAAEAV0@AEBV0@@Z";
inline constexpr char kInterfaceDestructor[] = "??1TSHVPluginInterface@@UEAA@XZ";
inline constexpr char kInterfaceTable[] = "??_7TSHVPluginInterface@@6B@";
inline constexpr char kDistcorConstructor[] = "??0distcor@@QEAA@XZ";
inline constexpr char kDistcorDestructor[] = "??1distcor@@UEAA@XZ";
inline constexpr char kExecute[] = "?execute@distcor@@UEAA_NXZ";
inline constexpr char kInitPlugin[] = "?initPlugin@distcor@@UEAA_NXZ";
}  // namespace msvc

}  // namespace daxo
