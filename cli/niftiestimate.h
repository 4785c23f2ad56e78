#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/niftiscan.h"
#include "cli/phasecheckreport.h"
#include "correction/pairestimation.h"
#include "report/pairreport.h"

namespace daxo::cli {

// `daxo estimate` on a NIfTI pair: the phase encoding from the sidecars (or
// --pe0/--pe1), the estimation volumes (--volume0/1, or the b=0 volumes), the
// estimate with `options`, the phase-encoding check, and the outputs beside the first input or in --out:
// NAME_vdm.nii.gz, NAME_fieldmap.nii.gz with its sidecar when the readout
// time is known, with --apply both series corrected (NAME_undist.nii.gz),
// with --report the quality page. Returns the exit status.
int runNiftiEstimate(CommandContext& context, const Arguments& arguments, const EstimationOptions& options);

// The estimate of an opened pair that passed checkOppositePair.
struct NiftiPairEstimate {
  EstimationVolume volume0;  // of the first scan
  EstimationVolume volume1;  // of the second scan
  Volume map;                // displacement of the first scan in voxels, in its own frame
  PhaseCheckVerdict check;
};

// Picks the estimation volumes (`volume0`, `volume1` or the b=0 volumes),
// estimates the map with `options` and runs the phase-encoding check, logging
// to `console`. Throws std::runtime_error when no map comes out; a failed
// check is left to the caller.
NiftiPairEstimate estimateNiftiPair(const NiftiScan& first, const NiftiScan& second, std::optional<int32_t> volume0,
                                    std::optional<int32_t> volume1, const EstimationOptions& options, Console& console);

// The quality page's inputs for an estimated pair, `mapPath` naming the map
// in its settings.
report::PairReportInputs niftiPairReportInputs(const NiftiScan& first, const NiftiScan& second,
                                               const NiftiPairEstimate& estimate, const std::string& mapPath,
                                               const EstimationOptions& options);

// The options only NIfTI inputs take.
const char* const kNiftiOnlyOptions[] = {"--pe0", "--pe1", "--readout", "--out", "--float"};

}  // namespace daxo::cli
