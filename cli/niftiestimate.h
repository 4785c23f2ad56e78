#pragma once

#include "cli/arguments.h"
#include "cli/command.h"
#include "correction/pairestimation.h"

namespace daxo::cli {

// `daxo estimate` on a NIfTI pair: the phase encoding from the sidecars (or
// --pe0/--pe1), the estimation volumes (--volume0/1, or the b=0 volumes), the
// estimate with `options`, the phase-encoding check, and the outputs beside the first input or in --out:
// NAME_vdm.nii.gz, NAME_fieldmap.nii.gz with its sidecar when the readout
// time is known, with --apply both series corrected (NAME_undist.nii.gz),
// with --report the quality page. Returns the exit status.
int runNiftiEstimate(CommandContext& context, const Arguments& arguments, const EstimationOptions& options);

// The options only NIfTI inputs take.
const char* const kNiftiOnlyOptions[] = {"--pe0", "--pe1", "--readout", "--out", "--float"};

}  // namespace daxo::cli
