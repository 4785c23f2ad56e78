#pragma once

#include <string>
#include <vector>

#include "demodata/demosettings.h"
#include "demodata/signalmodel.h"
#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "volume/volume.h"

// The demo series as projects on disk, with the headers a scanner session
// would bring: extents and voxel size from the settings (isotropic voxels of
// settings.voxelMm mm, no slice gap), no anatomical reference file, CR LF
// headers aligned at column 32.

namespace daxo {

// A functional project: an FMR header at `path` and its STC data beside it
// (slice-major, 32-bit float voxels, DataType 2), one volume per time point,
// TR 2000 ms. Every volume must have the settings' extents. Throws the
// WriteFileError of FMRHeader::save naming the file that cannot be written.
FMRHeader saveFunctionalProject(const std::string& path, const DemoSettings& settings,
                                const std::vector<Volume>& volumes);

// A diffusion project: a DMR header at `path` and its DWI data beside it
// (volume-major, DataStorageFormat 3, 16-bit integer voxels, DataType 1), one
// volume per row of `gradients`, whose directions and b-values make the
// header's gradient table. `volumes` and `gradients` must have equal lengths;
// std::invalid_argument otherwise. Throws the WriteFileError of
// DMRHeader::save.
DMRHeader saveDiffusionProject(const std::string& path, const DemoSettings& settings,
                               const std::vector<Volume>& volumes, const std::vector<DiffusionGradient>& gradients);

}  // namespace daxo
