#include "pipeline/phasecheck.h"

#include <cstdio>

namespace daxo::pipeline {

namespace {

std::string fixed(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", v);
  return text;
}

}  // namespace

PhaseCheckVerdict checkPhaseEncoding(const Volume& first, const Volume& second, const Volume& map,
                                     const PhaseCheckWording& wording, std::ostream& log) {
  const PhaseAxisCheck check = checkPhaseAxis(first, second, map);
  const std::string& given = wording.givenAxis;
  const std::string& other = wording.otherAxis;
  PhaseCheckVerdict verdict;
  verdict.values = check;
  verdict.figures = "the pair's correlation inside the head " + fixed(check.before) + " before correction, " +
                    fixed(check.after) + " after (rescaled by the local stretch); at half resolution " +
                    fixed(check.coarseAlongGiven) + " along " + given + ", " + fixed(check.coarseAlongOther) +
                    " along " + other;
  log << "Phase-encoding check: " << verdict.figures << std::flush;
  if (check.otherAxisFitsBetter()) {
    verdict.problem = "the distortion runs along " + other + ", not " + given + ": check " + wording.remedy;
  } else if (check.worse()) {
    verdict.problem = "the correction makes the pair agree worse (" + fixed(check.before) + " before, " +
                      fixed(check.after) + " after): check " + wording.remedy;
  } else {
    log << "Phase-encoding check: passed" << std::flush;
  }
  return verdict;
}

}  // namespace daxo::pipeline
