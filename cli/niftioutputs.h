#pragma once

#include <ostream>
#include <string>

#include "cli/niftiscan.h"
#include "fileio/nifti/niftiimage.h"
#include "volume/volume.h"

// What daxo writes for NIfTI inputs, on the first input's grid with its
// affine: the displacement map in voxels, the field in Hz with its sidecar,
// and corrected series with copies of their sidecars. Every file goes to a
// temporary name first and is renamed only once complete.

namespace daxo::cli {

// The output path of `input` with `suffix` ("_vdm.nii.gz"): beside the input,
// or in `outDir` when it is not empty. "d/sub-01_dwi.nii.gz" with "_vdm.nii.gz"
// gives "d/sub-01_dwi_vdm.nii.gz".
std::string niftiOutputPath(const std::string& input, const std::string& suffix, const std::string& outDir);

// The map of the first scan in the file's own frame: voxels along its
// phase-encoding axis, positive toward higher voxel index on that axis.
// 32-bit floats, one volume, with a sidecar giving that direction and the
// readout time when known.
void writeDisplacementMap(const std::string& path, const NiftiScan& first, const Volume& map);

// The field in Hz: a positive field shifts a scan encoded along +axis toward
// higher index by field x readout time voxels, so field = map x sign / readout
// for the first scan's direction. Writes the image and a sidecar beside it
// ("Units": "Hz").
void writeFieldMap(const std::string& path, const NiftiScan& first, const Volume& map, const ReadoutTime& readout,
                   const std::string& secondPath);

// Corrects every volume of `scan` with `map` (its own frame; the second scan
// of a pair takes the negated map) and writes the series to `path` volume by
// volume: the input's header, its data type and scaling (saturated) or 32-bit
// floats. With `jacobian` each corrected volume is multiplied by the
// Jacobian of the correction (1 + dmap/dphase), which keeps each column's
// total signal. Copies the input's sidecar, when it has one, with a note of
// the correction. Logs one entry when done.
void writeCorrectedSeries(const std::string& path, const NiftiScan& scan, const Volume& map, NiftiStorage storage,
                          bool jacobian, const std::string& mapPath, std::ostream& log);

// The sidecar of a NIfTI output: its path with ".json" for ".nii(.gz)".
std::string outputSidecarPath(const std::string& niftiPath);

}  // namespace daxo::cli
