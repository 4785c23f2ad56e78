#pragma once

#include <string>
#include <vector>

#include "fileio/nifti/bidssidecar.h"

// The acquisition parameters file of the field's reference tool
// ("acqparams.txt"): one row per volume (or scan), four numbers separated by
// white space: the phase-encoding direction as a unit vector along the
// scanner's x, y, z voxel axes, then the total readout time in seconds.
// "0 -1 0 0.05" is a j- scan of 50 ms, "1 0 0 0.05" an i scan. That tool
// reads the first voxel axis of an image whose affine has a positive
// determinant (a "neurological" storage order) the other way round, so there
// x = 1 is i-.

namespace daxo {

struct AcquisitionRow {
  int vector[3] = {0, 0, 0};  // -1, 0 or 1 along x, y, z
  double readoutSeconds = 0.0;
};

// Reads the rows. Throws OpenFileError when the file cannot be opened, and
// ReadFileError naming the file and the line (counted from 1) for a row
// without exactly four numbers, a direction that is not one of +-x or +-y
// (the slice axis and zero or oblique vectors are refused), or a readout time
// that is not above 0 and below 1 s (a row of 0 stands for an undistorted
// scan, from which no field can be estimated). Blank lines are skipped; a
// file with no row is refused.
std::vector<AcquisitionRow> readAcquisitionParameters(const std::string& path);

// The BIDS direction of a row for an image whose affine has determinant of
// sign `determinantSign` (see above).
PhaseEncodingDirection phaseEncodingOf(const AcquisitionRow& row, int determinantSign);

}  // namespace daxo
