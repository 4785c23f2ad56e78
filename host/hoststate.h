#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/dialogparameters.h"
#include "host/fmrdocument.h"
#include "host/hosterrors.h"
#include "host/userinterface.h"

// The stand-in host's state, behind the C functions it exports to the plugin.
// The plugin has no way to pass a context, so there is one process-wide
// instance (hostState()); it is used on one thread, the one that drives the
// plugin. Callers set it up (version, parameters, file-chooser answers, the
// FMR document, observers), run the plugin, and read back what happened.

namespace daxo::host {

struct HostVersion {
  int32_t first = 3;
  int32_t second = 0;
  int32_t third = 0;
};

struct HostState {
  HostVersion version;
  LogPane log;
  MessageBoxes messageBoxes;
  YesNoAnswers yesNo;
  FileChooser fileChooser;
  BusyCursor busyCursor;
  DialogParameters parameters;
  // The current FMR document; the map functions act on it and fail without it.
  std::optional<FmrDocument> document;
  HostErrors errors;

  // Opens (replacing any earlier one) the current FMR document. Throws
  // std::invalid_argument when an extent is below 1.
  FmrDocument& openDocument(const std::string& name, const Dimensions& extents);
};

HostState& hostState();

// Back to a freshly started host: default version, nothing recorded, no
// observers, no document.
void resetHostState();

}  // namespace daxo::host
