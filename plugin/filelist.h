#pragma once

#include <string>
#include <vector>

namespace daxo {

// The paths of a dialog file list ("files"): one path per line. The text is
// cut at line feeds only; runs of line feeds count as one separator and
// leading or trailing line feeds give no entry, so there are no empty paths.
// Nothing else is removed: blanks and carriage returns stay part of a path
// (a list written with CR LF thus yields paths ending in "\r").
std::vector<std::string> splitFileList(const std::string& text);

}  // namespace daxo
