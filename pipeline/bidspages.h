#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "pipeline/bidsplan.h"

// The pages of `daxo bids` above the fields' own: one per subject, and the
// group level's one for the whole dataset. Each shows the summaries of the
// pages below it (their figures and a middle slice) and links to them, so a
// reader starts at the top and opens a field's page where something looks
// wrong. All the pages sit in the derivatives folder or below it and link
// each other by relative addresses, so the folder can be moved or copied.

namespace daxo::pipeline {

// The subject's page, OUTDIR/sub-LABEL.html: for each field of `plan`, a link
// to its page, that page's summary (read from OUTDIR; a field without a page
// says so), the pair and the runs it corrected, and the images left alone.
// Written through a temporary file; logs "Report written to ...".
void writeSubjectPage(const std::string& outDir, const SubjectPlan& plan, std::ostream& log);

// The group level's page: what the participant level left in `outDir`.
std::string groupPagePath(const std::string& outDir);

// Writes OUTDIR/group.html for the subjects `labels` (without "sub-"; every
// sub-* folder of the dataset when empty): a table of the subjects with
// links, then each subject's fields' summaries copied from its page. A
// subject without a page (not run yet, or failed) is listed with its log.
// Returns the number of subjects with a page. Throws std::runtime_error when
// `outDir` is no folder or holds no subject's page (the participant level
// must run first).
int writeGroupPage(const std::string& bidsDir, const std::string& outDir, const std::vector<std::string>& labels,
                   std::ostream& log);

}  // namespace daxo::pipeline
