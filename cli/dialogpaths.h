#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "protocol/hostfunctiontypes.h"

// Paths handed to the plugin through dialog parameters. The plugin reads a
// string parameter through a buffer of kHostTextBufferSize bytes, so a value
// longer than kMaxParameterLength characters would be cut, and it splits a
// file list at line feeds.

namespace daxo::cli {

constexpr size_t kMaxParameterLength = kHostTextBufferSize - 1;

// Throws UsageError, naming `command` and the path, when `path` cannot travel
// in a dialog parameter whole: it is empty, holds a line feed (the plugin
// would read two paths) or is longer than kMaxParameterLength (it would be
// cut).
void checkDialogPath(const std::string& command, const std::string& path);

// The paths in order, joined with line feeds into as few values as possible,
// each at most `limit` characters; every path lies whole in exactly one
// value. The paths must pass checkDialogPath for this limit.
std::vector<std::string> packFileLists(const std::vector<std::string>& paths, size_t limit = kMaxParameterLength);

}  // namespace daxo::cli
