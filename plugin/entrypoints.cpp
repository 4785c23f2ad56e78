#include "plugin/entrypoints.h"

#include "daxo/version.h"
#include "plugin/distcor.h"

TSHVPluginInterface* createPlugin() { return new distcor(); }

const char* getPluginName() { return "DAXO v" DAXO_VERSION_STRING " (batch)"; }

const char* getPluginVersion() { return DAXO_VERSION_STRING; }

const char* getGUIScript() { return "DAXO_v" DAXO_VERSION_DIGITS ".js"; }

const char* getHelpFile() { return "DaxoPluginHelp/index.html"; }

const char* getPluginDescription() {
  return "~~ Pipeline including Ostrelin (DAXO " DAXO_VERSION_STRING
         ") ~~<BR>"
         "This plugin corrects EPI data from reverse phase-encoded "
         "data (anterior-posterior (AP/PA) and left-right (LR/RL).<BR>";
}

const char* getAuthor() {
  return "<i>Written by the DAXO image-analysis, MR-physics and software authors; made by the DAXO project</i>";
}
