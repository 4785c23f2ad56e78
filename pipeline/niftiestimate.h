#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

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
  // An acquisition parameters file and the row of each scan, counted from 1
  // (none: rows 1 and 2 of a two-row file): see acquisitionEntries.
  std::string acqparams;
  std::vector<int32_t> acqIndex;
  // The volumes to estimate from; none: the b=0 volumes (see estimationVolume).
  std::vector<int32_t> volumes0;
  std::vector<int32_t> volumes1;
  // Further series of each direction, whose b=0 volumes join the first's.
  std::vector<std::string> more0;
  std::vector<std::string> more1;
  // Estimate the head's rigid motion between the two scans with the map
  // (variational method only; see correction/pairmotion.h).
  bool motion = true;
  std::string outDir;                               // "" writes beside the first image
  bool apply = false;                               // also write both series corrected
  NiftiStorage storage = NiftiStorage::LikeSource;  // of the corrected series
  // Write all the same when the phase-encoding check fails, and estimate
  // from listed volumes with diffusion weighting (checkListedBValues).
  bool force = false;
  std::string reportPage;  // "" writes no page
  EstimationOptions estimation;
  // Files the caller writes while the job runs (its log): refused like the
  // outputs when they would replace an input.
  std::vector<std::string> alsoWritten;
};

// Every file estimateNiftiFiles may write for `request`, in order.
std::vector<std::string> niftiEstimateOutputs(const NiftiEstimateRequest& request);

// Estimates the pair of `request` and writes, beside the first image or in
// its outDir: NAME_vdm.nii.gz, NAME_fieldmap.nii.gz with its sidecar when the
// readout time is known, with `apply` both series corrected
// (NAME_undist.nii.gz), with a reportPage the quality page. Progress goes to
// `log`, one entry each. Throws std::exception naming the file and the
// problem; when the phase-encoding check fails without `force`, nothing has
// been written. Before anything is read at length or written, every output
// name is checked against the inputs (checkOutputNames): the images, their
// sidecars, .bval and .bvec, the further series and the acquisition file.
void estimateNiftiFiles(const NiftiEstimateRequest& request, std::ostream& log);

// The estimate of an opened pair that passed checkOppositePair.
struct NiftiPairEstimate {
  EstimationVolume volume0;  // of the first scan
  EstimationVolume volume1;  // of the second scan (moved into the first's space when motion was found)
  Volume map;                // displacement of the first scan in voxels, in its own frame
  PhaseCheckVerdict check;
  // The second scan's motion relative to the first (the first's relative to
  // the second when firstMoved), along the image axes i, j, k (the shift
  // along the phase-encoding axis is in the map); none when it was not
  // estimated or none was counted.
  std::optional<RigidMotion> motion;
  // The pair is estimated with the scan encoded toward lower index (i- or
  // j-) as the reference whatever the order given, so that swapping the
  // inputs negates the map exactly; given the other way round, the motion
  // (when found) is the first scan's, and the map and the second volume are
  // in the second scan's space.
  bool firstMoved = false;
};

// Picks the estimation volumes (see estimationVolume),
// estimates the map with `options` and runs the phase-encoding check, logging
// to `log`. Throws std::runtime_error when no map comes out; a failed check
// is left to the caller.
// `motion`: also estimate the rigid motion between the scans (variational
// method only).
NiftiPairEstimate estimateNiftiPair(const NiftiScan& first, const NiftiScan& second, const VolumeSelection& volumes0,
                                    const VolumeSelection& volumes1, const EstimationOptions& options, bool motion,
                                    std::ostream& log);

// The quality page's inputs for an estimated pair, `mapPath` naming the map
// in its settings.
report::PairReportInputs niftiPairReportInputs(const NiftiScan& first, const NiftiScan& second,
                                               const NiftiPairEstimate& estimate, const std::string& mapPath,
                                               const EstimationOptions& options);

}  // namespace daxo::pipeline
