#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "fileio/nifti/bidssidecar.h"
#include "fileio/nifti/niftiimage.h"
#include "volume/volume.h"

// NIfTI inputs with what the BIDS sidecar beside them says: the
// phase-encoding direction, which the user may give instead (--pe0, --pe1),
// and the readout time.

namespace daxo::pipeline {

struct NiftiScan {
  std::string path;
  NiftiImage image;
  std::optional<BidsSidecar> sidecar;  // absent when there is no sidecar beside the image
  PhaseEncodingDirection phaseEncoding;
  std::optional<ReadoutTime> readout;  // absent when neither sidecar nor --readout gives it
};

// Opens `path` and settles its phase encoding: `peOption` (the value of
// `optionName`, "" when not given) wins over the sidecar. Throws
// std::runtime_error naming the file and what is missing, and telling which
// option gives it ("sub-01_dir-AP_dwi.json has PhaseEncodingAxis but no
// PhaseEncodingDirection: give --pe0"); a bad option value is a
// std::invalid_argument. `readoutSeconds` (--readout), when given, wins over
// the sidecar's readout time.
NiftiScan openNiftiScan(const std::string& path, const std::string& peOption, const std::string& optionName,
                        std::optional<double> readoutSeconds);

// Refuses a pair that is not encoded along one axis in opposite directions,
// or that is encoded along k (the slice axis), naming both files.
void checkOppositePair(const NiftiScan& first, const NiftiScan& second);

// The volume to estimate from and what it is, for the log.
struct EstimationVolume {
  Volume volume;
  std::string description;  // "volume 3" or "the mean of the b=0 volumes 0, 7, 14"
};

// Volume `index` when given. Otherwise, when a 4-D image has a .bval beside
// it, the mean of its volumes with b <= 50, after checking that each agrees
// with that mean (correlation 0.9 or more inside the head); else volume 0.
// Throws std::runtime_error naming the file: an index past the last volume,
// a .bval with another number of values than volumes, no b=0 volume, or b=0
// volumes that disagree.
EstimationVolume estimationVolume(const NiftiScan& scan, std::optional<int32_t> index, const std::string& optionName);

// The estimation works with phase encoding along y: i-encoded volumes are
// transposed (x and y swapped) on the way in and out; voxel sizes likewise.
Volume toWorkingFrame(const Volume& v, const PhaseEncodingDirection& pe);
Volume fromWorkingFrame(const Volume& v, const PhaseEncodingDirection& pe);
std::array<double, 3> workingVoxelSize(const NiftiScan& scan);

}  // namespace daxo::pipeline
