#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "correction/pairmotion.h"
#include "fileio/nifti/acqparams.h"
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

// A row of an acquisition parameters file (fileio/nifti/acqparams.h) for one
// input, and where it comes from ("acqparams.txt, row 2"), for messages.
struct AcquisitionEntry {
  AcquisitionRow row;
  std::string source;
};

// The same, with an acquisition row that gives the phase-encoding direction
// and the readout time where the sidecar does not (`peOption` and
// `readoutSeconds` still win). Where the sidecar gives them too, they must
// agree (the readout times within 1 %), or std::runtime_error names both.
NiftiScan openNiftiScan(const std::string& path, const std::string& peOption, const std::string& optionName,
                        std::optional<double> readoutSeconds, const std::optional<AcquisitionEntry>& acquisition);

// The rows of `acqparamsPath` for `inputs` inputs: rows `index` (counted from
// 1, one per input) or, without an index, rows 1 .. inputs when the file has
// exactly that many. Nothing for an empty path. Throws std::runtime_error
// naming the file for a row past its end, an index of another length than
// the inputs, or a file of another length without an index; the file's own
// errors as readAcquisitionParameters throws them.
std::vector<std::optional<AcquisitionEntry>> acquisitionEntries(const std::string& acqparamsPath,
                                                                const std::vector<int32_t>& index, size_t inputs);

// How far (in voxels of the first scan's smallest size) the two affines of a
// pair may place any voxel of the grid apart.
constexpr double kGridTolerance = 0.1;

// Refuses a pair, naming both files, that is one file twice, that is not
// encoded along one axis in opposite directions or is encoded along k (the
// slice axis), that is not on one grid (the same extents, and affines that
// place every corner voxel within kGridTolerance voxel of each other), or
// whose readout times, both known, differ by more than 1 %.
void checkOppositePair(const NiftiScan& first, const NiftiScan& second);

// The largest distance in mm between the positions the two affines give a
// corner voxel of `a`'s grid.
double largestGridOffset(const NiftiImage& a, const NiftiImage& b);

// The volume to estimate from and what it is, for the log.
struct EstimationVolume {
  Volume volume;
  std::string description;  // "volume 3" or "the mean of the b=0 volumes 0, 7, 14"
};

// The volumes of one phase-encoding direction that its estimation volume is
// made from.
struct VolumeSelection {
  std::vector<int32_t> volumes;        // of the scan (empty: its b=0 volumes, or volume 0)
  std::vector<const NiftiScan*> more;  // further series of the same direction and grid: their b=0 volumes (or volume 0)
  std::string optionName;              // the option that lists the volumes ("--volume0"), for messages
};

// One volume as it is. Several: each aligned rigidly to the first (the head
// may move between volumes taken minutes apart; a motion under 0.05 degree
// and 0.05 mm counts as none and the volume stays as it is), each motion
// logged to `log` (may be null), then averaged after checking that each
// agrees with the mean (correlation 0.9 or more inside the head). The
// default for the scan: when a 4-D image has a .bval beside it, its volumes
// with b <= 50; else volume 0. Throws std::runtime_error naming the file: an
// index past the last volume, a .bval with another number of values than
// volumes, no b=0 volume, a further series on another grid or with another
// phase-encoding direction, or volumes that disagree.
EstimationVolume estimationVolume(const NiftiScan& scan, const VolumeSelection& selection, std::ostream* log);

// Refuses volumes listed to estimate from that carry diffusion weighting
// (b above kMaxEstimationBValue in the scan's .bval): their contrast is not
// the opposite scan's b=0 one, and they bend the map. With `force` each is
// logged instead. A scan without a .bval passes.
void checkListedBValues(const NiftiScan& scan, const std::vector<int32_t>& volumes, const std::string& optionName,
                        bool force, std::ostream& log);

// The same with at most one volume given.
EstimationVolume estimationVolume(const NiftiScan& scan, std::optional<int32_t> index, const std::string& optionName);

// "turns a, b, c degrees about i, j, k; shifts x, y, z mm", two decimals.
std::string motionDescription(const RigidMotion& motion);

// The estimation works with phase encoding along y: i-encoded volumes are
// transposed (x and y swapped) on the way in and out; voxel sizes likewise.
Volume toWorkingFrame(const Volume& v, const PhaseEncodingDirection& pe);
Volume fromWorkingFrame(const Volume& v, const PhaseEncodingDirection& pe);
std::array<double, 3> workingVoxelSize(const NiftiScan& scan);

}  // namespace daxo::pipeline
