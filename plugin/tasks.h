#pragma once

#include <ostream>

// The six tasks that distcor::execute runs for the dialog parameter "task".
// Each task takes everything it needs from dialog parameters (through
// daxo::hostApi() and daxo::readStringParameter) and from files, writes its
// progress to `log` as whole entries (the pieces, then std::flush), keeps no
// state between calls, and reports failure by throwing an exception derived
// from std::exception; execute shows "Error: " + what() to the user. Files
// written before a failure stay.

namespace daxo {

// "select_fmr_or_dmr": lets the user choose an FMR or DMR project and tells
// the dialog its volume count, display volume and path.
void runSelectFmrOrDmr(std::ostream& log);

// "select_vdm": lets the user choose a displacement map file and tells the
// dialog its path.
void runSelectVdm(std::ostream& log);

// "check": confirms that every listed project file is properly named, can be
// opened and has its data file in full.
void runCheck(std::ostream& log);

// "estimate" (runs under the busy cursor): estimates the displacement maps of
// a pair of projects, saves them and optionally corrects both projects.
void runEstimate(std::ostream& log);

// "estimate_variational" (runs under the busy cursor): the same as "estimate"
// (the same eleven parameters read in the same order, the same files, log
// framing and "vdm" parameter) with the variational estimator instead of the
// classic one; use_ic, use_ssd, fast_algorithm and order are read and
// ignored. The dialog never sends this task; `daxo estimate` does by default.
void runEstimateVariational(std::ostream& log);

// "apply" (runs under the busy cursor): corrects a list of projects with a
// saved displacement map.
void runApply(std::ostream& log);

}  // namespace daxo
