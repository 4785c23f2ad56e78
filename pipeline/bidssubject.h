#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "correction/pairestimation.h"
#include "pipeline/bidsplan.h"
#include "pipeline/bidsselection.h"

// One subject of `daxo bids`: its images read from the dataset, and its plan
// carried out into the derivatives folder. Every output goes to a temporary
// file first and gets its name only once complete, the sidecar of each image
// last; so a unit of work (a field, a corrected run) whose outputs all exist
// and are newer than its inputs is done, and anything a killed run left
// unfinished is missing an output and is done again.

namespace daxo::pipeline {

// The subject's NIfTI images in fmap/, dwi/ and func/ of sub-LABEL and of
// its sessions, in name order, with their sidecars (a sidecar that cannot be
// read is recorded as the image's sidecarProblem) and the metadata
// `selection` supplies for each set in them. Throws std::runtime_error
// when the subject's folder does not exist.
std::vector<BidsImage> listSubjectImages(const std::string& bidsDir, const std::string& label,
                                         const BidsSelection& selection = {});

struct SubjectWork {
  int fieldsEstimated = 0;
  int fieldsUpToDate = 0;
  int runsCorrected = 0;
  int runsUpToDate = 0;
  bool pageWritten = false;
};

// Estimates each field of `plan` and corrects its runs (the field carried to
// each run's grid and converted with the run's readout time and direction),
// skipping work that is up to date, then writes the subject's page
// (sub-LABEL.html) when anything changed or it is missing. Progress goes to
// `log`, one entry each. Throws std::runtime_error naming the file at the
// first failure; what was finished before stays.
SubjectWork processSubject(const std::string& bidsDir, const std::string& outDir, const SubjectPlan& plan,
                           const EstimationOptions& options, std::ostream& log);

// True when every output exists and none is older than any input.
bool upToDate(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs);

}  // namespace daxo::pipeline
