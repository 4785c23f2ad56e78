#pragma once

#include <string>

#include "correction/phaseaxischeck.h"
#include "volume/volume.h"

namespace daxo::cli {

class Console;

// Runs the phase-encoding check on a pair in the estimation's frame (phase
// encoding along y) and logs its figures. `givenAxis` and `otherAxis` name
// the axes for the message ("j" and "i" for NIfTI, "y" and "x" for
// projects) and `remedy` what to check ("PhaseEncodingDirection or
// --pe0/--pe1", "--rllr"). Returns "" when the check passes, else the
// message that names the likely mistake.
std::string phaseCheckProblem(const Volume& first, const Volume& second, const Volume& map,
                              const std::string& givenAxis, const std::string& otherAxis, const std::string& remedy,
                              Console& console);

}  // namespace daxo::cli
