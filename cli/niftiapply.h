#pragma once

#include <optional>
#include <string>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/niftiscan.h"
#include "fileio/nifti/bidssidecar.h"
#include "volume/affine.h"
#include "volume/volume.h"

namespace daxo::cli {

// A map as `daxo apply` takes it: a displacement map in voxels (with the
// phase-encoding direction and readout time of the scan it belongs to) or a
// field in Hz, on its own grid.
struct MapSource {
  std::string path;
  Volume values;
  Dimensions extents;
  Affine affine{};
  bool inHz = false;
  std::optional<PhaseEncodingDirection> phaseEncoding;  // of a displacement map
  std::optional<double> readoutSeconds;                 // of a displacement map
};

// Reads a map from a NIfTI file and the sidecar beside it.
MapSource readMapSource(const std::string& path, bool inHz);

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

// `daxo apply` with a NIfTI map (--vdm MAP.nii.gz or --fieldmap FIELD.nii.gz)
// on NIfTI series. Returns the exit status.
int runNiftiApply(CommandContext& context, const Arguments& arguments);

}  // namespace daxo::cli
