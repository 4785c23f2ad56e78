#pragma once

#include <ostream>
#include <string>

#include "correction/phaseaxischeck.h"
#include "volume/volume.h"

namespace daxo::pipeline {

// The outcome of the phase-encoding check, in words.
struct PhaseCheckVerdict {
  std::string figures;  // the logged figures
  std::string problem;  // "" when the check passed, else the likely mistake
  PhaseAxisCheck values;  // the figures as numbers
  // One line for the report page.
  std::string summary() const {
    return problem.empty() ? "Phase-encoding check passed: " + figures
                           : "Phase-encoding check FAILED: " + problem + ". " + figures;
  }
};

// How the check's messages name the axes and what to check: "j" and "i" for
// NIfTI, "y" and "x" for projects; the remedy "PhaseEncodingDirection or
// --pe0/--pe1" or "--rllr (given)".
struct PhaseCheckWording {
  std::string givenAxis;
  std::string otherAxis;
  std::string remedy;
};

// Runs the phase-encoding check on a pair in the estimation's frame (phase
// encoding along y) and logs its figures to `log`, one entry each.
PhaseCheckVerdict checkPhaseEncoding(const Volume& first, const Volume& second, const Volume& map,
                                     const PhaseCheckWording& wording, std::ostream& log);

}  // namespace daxo::pipeline
