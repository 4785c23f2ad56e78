#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "fileio/nifti/niftiimage.h"
#include "pipeline/niftiapply.h"

// Least-squares restoration of a pair of NIfTI series taken with opposite
// phase-encoding polarity (correction/leastsquaresrestoration.h): one
// corrected series from the two, volume by volume.

namespace daxo::pipeline {

struct NiftiRestoreRequest {
  std::string mapPath;
  MapUnits mapUnits = MapUnits::Voxels;
  std::string first;                     // the series whose grid, header and sidecar the result takes
  std::string second;                    // the series of the opposite polarity, the same volumes in the same order
  std::optional<double> readoutSeconds;  // wins over the sidecars' readout times
  std::string acqparams;                 // see acquisitionEntries (rows of the two series)
  std::vector<int32_t> acqIndex;
  std::string outDir;  // "" writes beside the first series
  NiftiStorage storage = NiftiStorage::LikeSource;
  std::vector<std::string> alsoWritten;  // the caller's log: checked with the outputs (checkOutputNames)
};

// Restores each pair of volumes of the two series with their map
// (displacementForSeries of the first; the second must take its negative:
// the same axis, the opposite polarity, the same readout time) and writes
// NAME0_lsr.nii.gz beside the first series or in outDir, with the first's
// sidecar and a note of the restoration, and copies of its .bval and .bvec.
// The two series must share their grid and volume count; where both have
// .bval files the b-values must match (within 5 %, or 20 s/mm^2), and where
// both have .bvec files each diffusion-weighted volume's direction must
// match (up to its sign, within 8 degrees). Throws std::exception naming the
// file and the problem before anything is written.
void restoreNiftiPair(const NiftiRestoreRequest& request, std::ostream& log);

}  // namespace daxo::pipeline
