#pragma once

#include <array>

#include "report/pairreport.h"
#include "volume/volume.h"

namespace daxo::pipeline {

// The pair report of two scans and the map of the first, all in the projects'
// own frame (phase encoding along x when `alongX`, else y): both scans are
// corrected with the map (the second with its negative), the head is found
// in the corrected pair, the corrected pair rescaled by the map's local
// stretch, and the figures (the rescaled pair's correlation first, then the
// plain one before and after, the map's steepest slope, range and
// percentiles inside the head) are filled in. Title, settings, verdict and
// orientation are left to the caller. Throws std::invalid_argument
// when the extents differ.
report::PairReportInputs pairReportInputs(const Volume& scan0, const Volume& scan1, const Volume& map,
                                          const std::array<double, 3>& voxelSizeMm, bool alongX);

}  // namespace daxo::pipeline
