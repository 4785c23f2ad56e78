#pragma once

#include <array>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

// The JSON sidecars and b-value files that travel with NIfTI images in BIDS
// datasets, reduced to what distortion correction needs.

namespace daxo {

// A phase-encoding direction as BIDS writes it: an axis of the image's voxel
// grid (0 = i, 1 = j, 2 = k) and a polarity (+1 for "j", -1 for "j-").
struct PhaseEncodingDirection {
  int axis = 1;
  int sign = 1;

  friend bool operator==(const PhaseEncodingDirection& a, const PhaseEncodingDirection& b) {
    return a.axis == b.axis && a.sign == b.sign;
  }
};

// "i", "i-", "j", "j-", "k" or "k-"; nothing for any other text.
std::optional<PhaseEncodingDirection> parsePhaseEncodingDirection(const std::string& text);
// The BIDS spelling of a direction ("j-", ...).
std::string phaseEncodingText(const PhaseEncodingDirection& direction);

struct BidsSidecar {
  std::string path;
  nlohmann::json document;  // the whole sidecar, for copies with a note added
  std::optional<PhaseEncodingDirection> phaseEncodingDirection;
  std::optional<int> phaseEncodingAxis;        // PhaseEncodingAxis (no polarity), 0 to 2
  std::optional<double> totalReadoutTime;      // s
  std::optional<double> effectiveEchoSpacing;  // s
  std::optional<int> reconMatrixPE;
};

// Reads a sidecar. Throws OpenFileError when it cannot be opened, and
// ReadFileError naming the file when it is not a JSON object or a key this
// reader uses holds a value of the wrong kind ("PhaseEncodingDirection is
// "y": expected one of i, i-, j, j-, k, k-").
BidsSidecar readBidsSidecar(const std::string& path);

// The readout time in seconds: TotalReadoutTime when given, else
// EffectiveEchoSpacing x (ReconMatrixPE - 1), with `peExtent` (the image's
// extent along the phase-encoding axis) when ReconMatrixPE is absent.
// `source` tells which, for the log.
struct ReadoutTime {
  double seconds = 0.0;
  std::string source;
};
std::optional<ReadoutTime> readoutTimeOf(const BidsSidecar& sidecar, int peExtent);

// "dir/sub-01_dwi.nii.gz" -> "dir/sub-01_dwi.json" (".bval" for b-values).
std::string sidecarPathOf(const std::string& niftiPath);
std::string bvalPathOf(const std::string& niftiPath);
std::string bvecPathOf(const std::string& niftiPath);

// The b-values of a .bval file: numbers separated by white space, one per
// volume. Throws OpenFileError or ReadFileError naming the file.
std::vector<double> readBValues(const std::string& path);

// The gradient directions of a .bvec file: three rows (x, y, z) of one
// number per volume. Throws OpenFileError, or ReadFileError naming the file
// for a row count other than three, rows of unequal length or a word that is
// not a number.
std::array<std::vector<double>, 3> readBVectors(const std::string& path);

}  // namespace daxo
