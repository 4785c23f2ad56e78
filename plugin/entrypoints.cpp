#include "plugin/entrypoints.h"

#include "plugin/distcor.h"

TSHVPluginInterface* createPlugin() { return new distcor(); }

const char* getPluginName() { return "DAXO v1.1.1 (batch)"; }

const char* getPluginVersion() { return "1.1.1"; }

const char* getGUIScript() { return "DAXO_v111.js"; }

const char* getHelpFile() { return "DaxoPluginHelp/index.html"; }

const char* getPluginDescription() {
  return "~~ Pipeline including Ostrelin (DAXO 1.1.1) ~~<BR>This plugin corrects EPI data from reverse phase-encoded "
         "data (anterior-posterior (AP/PA) and left-right (LR/RL).<BR>";
}

const char* getAuthor() {
  return "<i>Written by the DAXO image-analysis, MR-physics and software authors; made by the DAXO project</i>";
}
