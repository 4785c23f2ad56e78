#include "cli/phasecheckreport.h"

#include <cstdio>

#include "cli/console.h"

namespace daxo::cli {

namespace {

std::string fixed(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", v);
  return text;
}

}  // namespace

PhaseCheckVerdict checkPhaseEncoding(const Volume& first, const Volume& second, const Volume& map,
                                     const std::string& givenAxis, const std::string& otherAxis,
                                     const std::string& remedy, Console& console) {
  const PhaseAxisCheck check = checkPhaseAxis(first, second, map);
  PhaseCheckVerdict verdict;
  verdict.figures = "the pair's correlation inside the head " + fixed(check.before) + " before correction, " +
                    fixed(check.after) + " after (rescaled by the local stretch); at half resolution " +
                    fixed(check.coarseAlongGiven) + " along " + givenAxis + ", " + fixed(check.coarseAlongOther) +
                    " along " + otherAxis;
  console.logEntry("Phase-encoding check: " + verdict.figures);
  if (check.otherAxisFitsBetter()) {
    verdict.problem = "the distortion runs along " + otherAxis + ", not " + givenAxis + ": check " + remedy +
                      " (--force writes the map anyway)";
  } else if (check.worse()) {
    verdict.problem = "the correction makes the pair agree worse (" + fixed(check.before) + " before, " +
                      fixed(check.after) + " after): check " + remedy + " (--force writes the map anyway)";
  } else {
    console.logEntry("Phase-encoding check: passed");
  }
  return verdict;
}

}  // namespace daxo::cli
