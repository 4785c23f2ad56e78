#pragma once

#include <string>

#include "correction/phaseaxischeck.h"
#include "volume/volume.h"

namespace daxo::cli {

class Console;

// The outcome of the phase-encoding check, in words.
struct PhaseCheckVerdict {
  std::string figures;  // the logged figures
  std::string problem;  // "" when the check passed, else the likely mistake
  // One line for the report page.
  std::string summary() const {
    return problem.empty() ? "Phase-encoding check passed: " + figures
                           : "Phase-encoding check FAILED: " + problem + ". " + figures;
  }
};

// Runs the phase-encoding check on a pair in the estimation's frame (phase
// encoding along y) and logs its figures. `givenAxis` and `otherAxis` name
// the axes for the message ("j" and "i" for NIfTI, "y" and "x" for
// projects) and `remedy` what to check ("PhaseEncodingDirection or
// --pe0/--pe1", "--rllr").
PhaseCheckVerdict checkPhaseEncoding(const Volume& first, const Volume& second, const Volume& map,
                                     const std::string& givenAxis, const std::string& otherAxis,
                                     const std::string& remedy, Console& console);

}  // namespace daxo::cli
