#pragma once

#include <string>
#include <utility>
#include <vector>

#include "demodata/demosettings.h"
#include "host/daxo/demoevaluation.h"

namespace daxo::cli {

// The accuracy the demo's estimated map must reach inside the head, in
// voxels along y. Measured with the defaults of `daxo estimate` (full
// estimation, correlation, intensity correction) over five noise and texture
// seeds:
//   96 x 96 x 48 (full):  RMS 0.158 .. 0.173, 95th percentile 0.197 .. 0.202;
//   48 x 48 x 24 (small): RMS 0.182 .. 0.187, 95th percentile 0.400 .. 0.412.
// Doing nothing leaves RMS 1.06 (full) and 0.69 (small), the fast estimate
// 0.54 and 0.34. The bound leaves the estimation 60 % headroom on the RMS
// and 45 % on the 95th percentile at either size, and still fails a map no
// better than the fast estimate: a run outside it means the estimation went
// wrong, not that noise moved it.
struct DemoBound {
  double rms = 0.30;
  double percentile95 = 0.60;

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

}  // namespace daxo::cli
