#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "fileio/nifti/bidssidecar.h"
#include "fileio/nifti/niftiimage.h"
#include "pipeline/niftiscan.h"
#include "volume/affine.h"
#include "volume/volume.h"

namespace daxo::pipeline {

// What a NIfTI map holds: displacements in voxels along the phase-encoding
// axis of the scan it belongs to, or the field in Hz.
enum class MapUnits { Voxels, Hz };

// A map as `daxo apply` takes it: a displacement map in voxels (with the
// phase-encoding direction and readout time of the scan it belongs to) or a
// field in Hz, on its own grid.
struct MapSource {
  std::string path;
  Volume values;
  Dimensions extents;
  Affine affine{};
  MapUnits units = MapUnits::Voxels;
  std::optional<PhaseEncodingDirection> phaseEncoding;  // of a displacement map
  std::optional<double> readoutSeconds;                 // of a displacement map
};

// Reads a map from a NIfTI file and the sidecar beside it, which a
// displacement map must have.
MapSource readMapSource(const std::string& path, MapUnits units);

// The displacement of `series` in voxels along its own phase-encoding axis,
// on its grid, from `map`. A field in Hz is carried through the two affines
// and scaled by the series' readout time and polarity. A displacement map on
// the series' grid along the same axis is used as it is (negated for the
// opposite polarity, scaled by the ratio of the readout times when both are
// known); otherwise it goes through the field in Hz, which needs both readout
// times; without them the same field of view is assumed and the map is
// stretched to the series' extents, as for projects, and `note` says so.
// Throws std::runtime_error naming the files when the metadata do not
// suffice.
Volume displacementForSeries(const MapSource& map, const NiftiScan& series, std::string& note);

// The correction of NIfTI series with a NIfTI map.
struct NiftiApplyRequest {
  std::string mapPath;
  MapUnits mapUnits = MapUnits::Voxels;
  std::vector<std::string> series;
  std::string pe;                        // the series' phase-encoding direction; "" takes each sidecar's
  std::optional<double> readoutSeconds;  // wins over the sidecars' readout times
  // An acquisition parameters file and the row of each series (counted from
  // 1; none: one row per series): see acquisitionEntries.
  std::string acqparams;
  std::vector<int32_t> acqIndex;
  std::string outDir;  // "" writes beside each series
  NiftiStorage storage = NiftiStorage::LikeSource;
  bool jacobian = false;  // see CorrectedSeries
  // Files the caller writes while the job runs (its log): refused like the
  // outputs when they would replace an input.
  std::vector<std::string> alsoWritten;
};

// Corrects each series of `request` with its map (displacementForSeries) and
// writes NAME_undist.nii.gz beside it or in outDir, in order; progress goes
// to `log`. Throws std::exception naming the file and the problem at the
// first failure; the series written before it stay. Every output name is
// checked against every input (the map, the series and the files beside
// them; checkOutputNames) before anything is written.
void applyNiftiMap(const NiftiApplyRequest& request, std::ostream& log);

}  // namespace daxo::pipeline
