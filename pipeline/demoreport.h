#pragma once

#include <string>
#include <utility>
#include <vector>

#include "demodata/demosettings.h"
#include "pipeline/demoevaluation.h"

namespace daxo::pipeline {

// The accuracy the demo's estimated map must reach inside the head, in
// voxels along y. Measured with the defaults of `daxo estimate` (the
// variational method) at the default seed:
//   96 x 96 x 48 (full):  standard field RMS 0.021, 95th percentile 0.044;
//                         strong field   RMS 0.021, 95th percentile 0.036;
//   48 x 48 x 24 (small): standard field RMS 0.030, 95th percentile 0.066;
//                         strong field   RMS 0.026, 95th percentile 0.054.
// Doing nothing leaves RMS 1.06 (full) and 0.69 (small) with the standard
// field; the classic method reaches 0.16 .. 0.19. The bound leaves the
// estimation about twice its error at either size and field, and fails a map
// that is only as good as the classic one's: a run outside it means the
// estimation went wrong, not that noise moved it.
struct DemoBound {
  double rms = 0.06;
  double percentile95 = 0.12;

  bool holds(const DisplacementError& error) const { return error.rms < rms && error.percentile95 < percentile95; }
};

// The time each step took, in the order they ran: a label and seconds.
using DemoTimes = std::vector<std::pair<std::string, double>>;

// The report that ends `daxo demo`: what was generated, the map's error
// against the truth with the bound, the correlations before and after
// correction, the time of each step and the verdict. Plain text, one
// "Label: value" line per figure, ending in a line feed.
std::string demoReport(const DemoSettings& settings, const std::string& folder, const DemoFigures& figures,
                       const DemoBound& bound, const DemoTimes& times);

}  // namespace daxo::pipeline
