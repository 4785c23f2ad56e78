#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "correction/pairestimation.h"
#include "pipeline/bidssubject.h"

// A BIDS dataset corrected into a BIDS-Derivatives folder, one subject at a
// time: what `daxo bids` does besides running the subjects.

namespace daxo::pipeline {

// The labels (without "sub-") of the subjects to process: `labels` when any
// are given, else every sub-* folder of the dataset, sorted. Checks that
// `bidsDir` is a folder with a dataset_description.json and creates `outDir`
// with its logs/ folder. Throws RequestError when `outDir` is the dataset
// itself, std::runtime_error naming the folder for any other problem (no
// sub-* folder among them).
std::vector<std::string> prepareDerivatives(const std::string& bidsDir, const std::string& outDir,
                                            const std::vector<std::string>& labels);

// The raw dataset as the derivatives' DatasetLinks name it: its path
// relative to `outDir`, or a file:// URI when there is none.
std::string rawDatasetLink(const std::string& bidsDir, const std::string& outDir);

// Writes the derivatives' dataset_description.json (GeneratedBy names
// `commandText`) unless it exists: concurrent runs of subjects write the same
// file, each through its own temporary file.
void writeDatasetDescription(const std::string& bidsDir, const std::string& outDir, const std::string& commandText);

// Where a subject's log goes: OUTDIR/logs/sub-LABEL.log.
std::string subjectLogPath(const std::string& outDir, const std::string& label);

// Plans subject `label` from its images, those the selection's filter keeps
// with the metadata it supplies, and carries the plan out (processSubject);
// what the selection did and the plan's notes are logged first ("Note:
// ..."). Throws std::runtime_error with the plan's problems, joined by "; ",
// before anything is written, or naming the file at the first failure.
SubjectWork runBidsSubject(const std::string& bidsDir, const std::string& outDir, const std::string& label,
                           const EstimationOptions& options, const BidsSelection& selection, std::ostream& log);

// "1 field(s) estimated, 2 run(s) corrected, 0 output(s) up to date".
std::string workText(const SubjectWork& work);

}  // namespace daxo::pipeline
