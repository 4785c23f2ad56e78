#include "cli/niftioptions.h"

#include <algorithm>
#include <exception>

#include "cli/command.h"
#include "fileio/nifti/bidssidecar.h"

namespace daxo::cli {

std::optional<double> readoutOption(const Arguments& arguments, const std::string& command) {
  if (!arguments.has("--readout")) return std::nullopt;
  const std::string text = arguments.value("--readout");
  size_t used = 0;
  double seconds = 0.0;
  try {
    seconds = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || !(seconds > 0.0 && seconds < 1.0)) {
    throw UsageError(command + ": option --readout needs the total readout time in seconds (0 to 1), not '" + text +
                     "'");
  }
  return seconds;
}

std::string phaseEncodingOption(const Arguments& arguments, const std::string& command, const std::string& name) {
  if (!arguments.has(name)) return "";
  const std::string text = arguments.value(name);
  if (!parsePhaseEncodingDirection(text)) {
    throw UsageError(command + ": option " + name + " needs a phase-encoding direction (i, i-, j or j-), not '" + text +
                     "'");
  }
  return text;
}

std::optional<int32_t> volumeOption(const Arguments& arguments, const std::string& command, const std::string& name) {
  if (!arguments.has(name)) return std::nullopt;
  const int32_t index = arguments.intValue(name, 0);
  if (index < 0) throw UsageError(command + ": option " + name + " needs a volume index from 0");
  return index;
}

}  // namespace daxo::cli

namespace daxo::cli {

std::vector<int32_t> volumeListOption(const Arguments& arguments, const std::string& command, const std::string& name) {
  std::vector<int32_t> indices;
  if (!arguments.has(name)) return indices;
  const std::string text = arguments.value(name);
  size_t at = 0;
  while (at <= text.size()) {
    const size_t comma = std::min(text.find(',', at), text.size());
    const std::string item = text.substr(at, comma - at);
    size_t used = 0;
    long value = -1;
    try {
      value = std::stol(item, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (item.empty() || used != item.size() || value < 0 || value > 1000000) {
      throw UsageError(command + ": option " + name + " needs a volume index from 0 or a list such as 0,7,14, not '" +
                       text + "'");
    }
    indices.push_back(static_cast<int32_t>(value));
    at = comma + 1;
  }
  return indices;
}

}  // namespace daxo::cli
