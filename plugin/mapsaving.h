#pragma once

#include <string>

#include "volume/volume.h"

// Displacement maps leave the plugin as map files written by the host: each
// volume becomes a new map of the host's current FMR document, which the host
// then saves. The names are formed from the project's path.

namespace daxo {

// withSuffix(withExtension(path, "map"), kMapSuffix): run1.fmr gives run1_vdm.map.
// The extension starts at the last "." of the whole path, so a path without
// a "." in its file name is cut at a folder's "." (my.data/run1 gives
// my_vdm.map beside the folder); stored names rely on this.
std::string vdmMapName(const std::string& projectPath);

// withSuffix(withExtension(path, "map"), kDerivativeMapSuffix): run1.fmr gives
// run1_vdmderiv.map.
std::string vdmDerivMapName(const std::string& projectPath);

// Writes `volume` as a map file named `fileName` through the host: creates a
// map in the current FMR document, fills it with the volume (transposed back
// with transposeXY when `transposed`, so the saved map is in the project's own
// frame), sets map kind 1 and the two map values, and has the host save it.
// Displacement maps use the values (1, 5), their derivatives (0.1, 1).
//
// Throws std::logic_error (module "distcor") when the host gives no map or a
// map whose extents differ from the (transposed) volume's, before any value
// is written; std::runtime_error when the host lacks one of the map
// functions; WriteFileError naming the file when the name is refused (see
// outputNameProblem: a link, pipe, device or an input of the task), and when
// the host left no complete map of the volume's extents there (the host does
// not report success, so the file is examined).
void saveVolumeAsMap(const Volume& volume, bool transposed, float firstValue, float secondValue,
                     const std::string& fileName);

}  // namespace daxo
