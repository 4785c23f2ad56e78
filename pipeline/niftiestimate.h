#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "correction/pairestimation.h"
#include "fileio/nifti/niftiimage.h"
#include "pipeline/niftiscan.h"
#include "pipeline/phasecheck.h"
#include "report/pairreport.h"

namespace daxo::pipeline {

// The estimation of a NIfTI pair and what is written of it.
struct NiftiEstimateRequest {
  std::string first;   // the reference scan (its map is written, on its grid)
  std::string second;  // the scan of opposite phase encoding
  // Phase-encoding directions ("j-"); "" takes the sidecar's.
  std::string pe0;
  std::string pe1;
  std::optional<double> readoutSeconds;  // wins over the sidecars' readout times
  // The volumes to estimate from; none: the b=0 volumes (see estimationVolume).
  std::optional<int32_t> volume0;
  std::optional<int32_t> volume1;
  std::string outDir;                               // "" writes beside the first image
  bool apply = false;                               // also write both series corrected
  NiftiStorage storage = NiftiStorage::LikeSource;  // of the corrected series
  bool force = false;                               // write all the same when the phase-encoding check fails
  std::string reportPage;                           // "" writes no page
  EstimationOptions estimation;
};

// Estimates the pair of `request` and writes, beside the first image or in
// its outDir: NAME_vdm.nii.gz, NAME_fieldmap.nii.gz with its sidecar when the
// readout time is known, with `apply` both series corrected
// (NAME_undist.nii.gz), with a reportPage the quality page. Progress goes to
// `log`, one entry each. Throws std::exception naming the file and the
// problem; when the phase-encoding check fails without `force`, nothing has
// been written.
void estimateNiftiFiles(const NiftiEstimateRequest& request, std::ostream& log);

// The estimate of an opened pair that passed checkOppositePair.
struct NiftiPairEstimate {
  EstimationVolume volume0;  // of the first scan
  EstimationVolume volume1;  // of the second scan
  Volume map;                // displacement of the first scan in voxels, in its own frame
  PhaseCheckVerdict check;
};

// Picks the estimation volumes (`volume0`, `volume1` or the b=0 volumes),
// estimates the map with `options` and runs the phase-encoding check, logging
// to `log`. Throws std::runtime_error when no map comes out; a failed check
// is left to the caller.
NiftiPairEstimate estimateNiftiPair(const NiftiScan& first, const NiftiScan& second, std::optional<int32_t> volume0,
                                    std::optional<int32_t> volume1, const EstimationOptions& options,
                                    std::ostream& log);

// The quality page's inputs for an estimated pair, `mapPath` naming the map
// in its settings.
report::PairReportInputs niftiPairReportInputs(const NiftiScan& first, const NiftiScan& second,
                                               const NiftiPairEstimate& estimate, const std::string& mapPath,
                                               const EstimationOptions& options);

}  // namespace daxo::pipeline
