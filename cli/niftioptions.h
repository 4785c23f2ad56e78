#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"

// Options that `daxo estimate` and `daxo apply` read alike for NIfTI inputs.

namespace daxo::cli {

// The value of --readout (total readout time in seconds, between 0 and 1);
// nothing when it is not given. Throws UsageError naming `command`.
std::optional<double> readoutOption(const Arguments& arguments, const std::string& command);

// The value of the phase-encoding option `name` (--pe0, --pe1, --pe): "" when
// it is not given. Throws UsageError naming `command` for a value that is no
// direction (one of i, j, k, with or without "-"; k itself is refused later,
// with the scan's name).
std::string phaseEncodingOption(const Arguments& arguments, const std::string& command, const std::string& name);

// The volume index of option `name` (counted from 0); nothing when it is not
// given. Throws UsageError naming `command` for a negative index.
std::optional<int32_t> volumeOption(const Arguments& arguments, const std::string& command, const std::string& name);

// The volume indices of option `name`: "N" or a comma-separated list
// "0,7,14" (counted from 0); empty when it is not given. Throws UsageError
// naming `command` for anything else.
std::vector<int32_t> volumeListOption(const Arguments& arguments, const std::string& command, const std::string& name);

}  // namespace daxo::cli
