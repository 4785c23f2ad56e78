#pragma once

#include <cstddef>
#include <string>

#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "fileio/volumereader.h"
#include "volume/volume.h"

// Correcting a project with a displacement map and writing the corrected copy
// beside it under the suffix "_undist" (run1.fmr becomes run1_undist.fmr with
// run1_undist.stc). Shared by the apply and the estimate tasks. The project's
// header is loaded without data; its volumes are read from `source` (the
// project's openVolumes), corrected and written a few at a time, so memory
// holds the map and a few volumes whatever the number of volumes. The files
// are byte for byte those of correcting every volume (correctVolumes) and
// saving the loaded project under the copy's name.
//
// The map holds displacements in voxels along the phase-encoding axis and is
// applied with the plus sign (correctVolume). With `transposed` the
// phase-encoding axis of the project is x: the map is then expected in the
// transposed frame (extents (ny, nx, nz) of the project's volumes) and the
// corrected volumes come back in the project's own frame.
//
// The project's header is changed in place: "ShowAMRFile:" (when present) becomes 0 and "LoadAMRFile:" (when
// present) the empty text, so the copy refers to no anatomical file; after a
// successful save fileName and Prefix name the copy. Header and data file are
// written together through temporary files: an existing copy is replaced
// only once both are complete.
//
// Throws, before anything is written: std::runtime_error naming the project
// when it has no volume, or when its header's data file is the copy's data
// file (it would be replaced); std::logic_error (the assertion check) when
// the map's extents do not fit the volumes. Writing throws WriteFileError,
// reading the source its ReadFileError; either way nothing is left under the
// copy's names (an earlier copy stays as it was).

namespace daxo {

// Throws std::runtime_error "Project has no volumes to correct: " + path when
// volumeCount is 0. A project without volumes cannot be compared with a map,
// and saving it would write a header without its data file.
void requireVolumes(const std::string& path, size_t volumeCount);

// Corrects and writes the FMR project loaded from project.fileName, to
// withSuffix(project.fileName, kCorrectedSuffix).
void writeUndistortedFmr(const Volume& map, FMRHeader& project, VolumeReader& source, bool transposed);

// Corrects and writes the DMR project loaded from `path`, to
// withSuffix(path, kCorrectedSuffix).
void writeUndistortedDmr(const Volume& map, const std::string& path, DMRHeader& project, VolumeReader& source,
                         bool transposed);

}  // namespace daxo
