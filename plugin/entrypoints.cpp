#include "plugin/entrypoints.h"

#include "daxo/version.h"
#include "plugin/distcor.h"

namespace {

// The six texts, as the fields of PluginTexts name them.
struct Texts {
  const char* name;
  const char* version;
  const char* guiScript;
  const char* helpFile;
  const char* description;
  const char* author;
};

constexpr Texts kTexts{
    "DAXO v" DAXO_VERSION_STRING " (batch)",
    DAXO_VERSION_STRING,
    "DAXO_v" DAXO_VERSION_DIGITS ".js",
    "DaxoPluginHelp/index.html",
    "~~ Pipeline including Ostrelin (DAXO " DAXO_VERSION_STRING
    ") ~~<BR>"
    "This plugin corrects EPI data from reverse phase-encoded "
    "data (anterior-posterior (AP/PA) and left-right (LR/RL).<BR>",
    "<i>Written by the DAXO image-analysis, MR-physics and software authors; made by the DAXO project</i>"};

}  // namespace

#define DAXO_DEFINE_CREATE_EXPORT(function) \
  TSHVPluginInterface* function() { return new distcor(); }
DAXO_PLUGIN_CREATE_EXPORT(DAXO_DEFINE_CREATE_EXPORT)
#undef DAXO_DEFINE_CREATE_EXPORT

#define DAXO_DEFINE_TEXT_EXPORT(function, field) \
  const char* function() { return kTexts.field; }
DAXO_PLUGIN_TEXT_EXPORTS(DAXO_DEFINE_TEXT_EXPORT)
#undef DAXO_DEFINE_TEXT_EXPORT
