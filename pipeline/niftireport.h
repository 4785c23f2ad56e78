#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "pipeline/niftiapply.h"

// The quality pages of NIfTI maps written after the fact: `daxo report` for
// a pair and its map, `daxo apply --report` for the series a map corrected.

namespace daxo::pipeline {

struct NiftiPairReportRequest {
  std::string mapPath;  // NAME0_vdm.nii.gz of `first`, with its sidecar
  std::string first;
  std::string second;
  std::string pe0;  // "" takes the sidecar's
  std::string pe1;
  std::optional<double> readoutSeconds;
  std::vector<int32_t> volumes0;  // none: the b=0 volumes, as the estimation took them
  std::vector<int32_t> volumes1;
  std::string pagePath;
  std::vector<std::string> alsoWritten;  // the caller's log: checked with the page (checkOutputNames)
};

// The page `daxo estimate --report` writes, for a map estimated before:
// the pair's estimation volumes before and after correction with the map
// (carried to the first scan's grid when it is of another), the second moved
// by the motion its sidecar gives (MotionOfSecondScan; the first, for
// MotionOfFirstScan, see NiftiPairEstimate::firstMoved), and the phase-encoding
// check's verdict. Logs the figures. Throws std::exception naming the file and
// the problem.
void writeNiftiPairReportPage(const NiftiPairReportRequest& request, std::ostream& log);

// The page of `daxo apply --report` for NIfTI series corrected by
// applyNiftiMap(request): the first volume of each series before and after
// (read back from its corrected copy) and the map as applied to it. Series
// without a corrected copy are left out; none at all is an error.
void writeNiftiSeriesReportPage(const NiftiApplyRequest& request, const std::string& pagePath, std::ostream& log);

}  // namespace daxo::pipeline
