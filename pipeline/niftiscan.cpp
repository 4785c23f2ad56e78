#include "pipeline/niftiscan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "correction/pairagreement.h"
#include "correction/pairmotion.h"
#include "fileio/headerfields.h"
#include "fileio/platformfile.h"
#include "pipeline/projectinputs.h"
#include "volume/separablegauss.h"

namespace daxo::pipeline {

namespace {

// The lowest agreement of a b=0 volume with the mean of all b=0 volumes that
// is still taken for the same image (moved or noisy, not a different one).
constexpr double kMinimumB0Agreement = 0.9;

std::optional<BidsSidecar> sidecarBeside(const std::string& path) {
  const std::string json = sidecarPathOf(path);
  if (!std::filesystem::exists(json)) return std::nullopt;
  return readBidsSidecar(json);
}

PhaseEncodingDirection settledDirection(const std::string& path, const std::optional<BidsSidecar>& sidecar,
                                        const std::string& peOption, const std::string& optionName) {
  if (!peOption.empty()) {
    const auto direction = parsePhaseEncodingDirection(peOption);
    if (!direction) {
      throw std::invalid_argument(optionName + " needs one of i, i-, j, j-, k, k-, not '" + peOption + "'");
    }
    return *direction;
  }
  if (!sidecar) {
    throw std::runtime_error(path + " has no sidecar (" + sidecarPathOf(path) +
                             ") to give its phase-encoding direction: give " + optionName);
  }
  if (sidecar->phaseEncodingDirection) return *sidecar->phaseEncodingDirection;
  if (sidecar->phaseEncodingAxis) {
    throw std::runtime_error(sidecar->path + " has PhaseEncodingAxis but no PhaseEncodingDirection: give " +
                             optionName);
  }
  throw std::runtime_error(sidecar->path + " has no PhaseEncodingDirection: give " + optionName);
}

int extentAlong(const Dimensions& d, int axis) { return axis == 0 ? d.x : axis == 1 ? d.y : d.z; }

Volume meanOf(const std::vector<Volume>& volumes) {
  Volume mean(volumes.front().dimensions(), 0.0f);
  for (size_t i = 0; i < mean.voxelCount(); ++i) {
    double sum = 0.0;
    for (const Volume& v : volumes) sum += v.data()[i];
    mean.data()[i] = static_cast<float>(sum / static_cast<double>(volumes.size()));
  }
  return mean;
}

std::string listed(const std::vector<int32_t>& indices) {
  std::string text;
  for (size_t k = 0; k < indices.size(); ++k) text += (k == 0 ? "" : ", ") + std::to_string(indices[k]);
  return text;
}

}  // namespace

NiftiScan openNiftiScan(const std::string& path, const std::string& peOption, const std::string& optionName,
                        std::optional<double> readoutSeconds) {
  return openNiftiScan(path, peOption, optionName, readoutSeconds, std::nullopt);
}

NiftiScan openNiftiScan(const std::string& path, const std::string& peOption, const std::string& optionName,
                        std::optional<double> readoutSeconds, const std::optional<AcquisitionEntry>& acquisition) {
  NiftiImage image = NiftiImage::open(path);
  std::optional<BidsSidecar> sidecar = sidecarBeside(path);
  std::optional<PhaseEncodingDirection> fromRow;
  if (acquisition) {
    const Affine a = image.affine();
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                       a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    fromRow = phaseEncodingOf(acquisition->row, det > 0.0 ? 1 : -1);
    if (sidecar && sidecar->phaseEncodingDirection && !(*sidecar->phaseEncodingDirection == *fromRow)) {
      throw std::runtime_error(sidecar->path + " gives PhaseEncodingDirection " +
                               phaseEncodingText(*sidecar->phaseEncodingDirection) + " but " + acquisition->source +
                               " gives " + phaseEncodingText(*fromRow) + " for " + path + ": they must agree");
    }
    if (sidecar && sidecar->phaseEncodingAxis && *sidecar->phaseEncodingAxis != fromRow->axis) {
      throw std::runtime_error(sidecar->path + " gives PhaseEncodingAxis " +
                               std::string(1, "ijk"[*sidecar->phaseEncodingAxis]) + " but " + acquisition->source +
                               " gives " + phaseEncodingText(*fromRow) + " for " + path + ": they must agree");
    }
  }
  const PhaseEncodingDirection pe =
      peOption.empty() && fromRow ? *fromRow : settledDirection(path, sidecar, peOption, optionName);
  std::optional<ReadoutTime> readout;
  if (sidecar) readout = readoutTimeOf(*sidecar, extentAlong(image.extents(), pe.axis));
  if (acquisition) {
    const double seconds = acquisition->row.readoutSeconds;
    if (readout && !readoutSeconds && std::fabs(readout->seconds - seconds) > 0.01 * seconds) {
      throw std::runtime_error(sidecar->path + " gives a readout time of " + std::to_string(readout->seconds) + " s (" +
                               readout->source + ") but " + acquisition->source + " gives " + std::to_string(seconds) +
                               " s for " + path + ": they must agree");
    }
    if (!readout) readout = ReadoutTime{seconds, acquisition->source};
  }
  if (readoutSeconds) readout = ReadoutTime{*readoutSeconds, "--readout"};
  return NiftiScan{path, std::move(image), std::move(sidecar), pe, readout};
}

std::vector<std::optional<AcquisitionEntry>> acquisitionEntries(const std::string& acqparamsPath,
                                                                const std::vector<int32_t>& index, size_t inputs) {
  std::vector<std::optional<AcquisitionEntry>> entries(inputs);
  if (acqparamsPath.empty()) return entries;
  const std::vector<AcquisitionRow> rows = readAcquisitionParameters(acqparamsPath);
  std::vector<int32_t> chosen = index;
  if (chosen.empty()) {
    if (rows.size() != inputs) {
      throw std::runtime_error(acqparamsPath + " has " + std::to_string(rows.size()) + " rows for " +
                               std::to_string(inputs) + " inputs: give --index with the row of each, counted from 1");
    }
    for (size_t k = 0; k < inputs; ++k) chosen.push_back(static_cast<int32_t>(k + 1));
  }
  if (chosen.size() != inputs) {
    throw std::runtime_error("--index lists " + std::to_string(chosen.size()) + " rows for " + std::to_string(inputs) +
                             " inputs");
  }
  for (size_t k = 0; k < inputs; ++k) {
    const int32_t row = chosen[k];
    if (row < 1 || static_cast<size_t>(row) > rows.size()) {
      throw std::runtime_error(acqparamsPath + " has " + std::to_string(rows.size()) + " rows; there is no row " +
                               std::to_string(row) + " (--index)");
    }
    entries[k] = AcquisitionEntry{rows[static_cast<size_t>(row - 1)], acqparamsPath + ", row " + std::to_string(row)};
  }
  return entries;
}

double largestGridOffset(const NiftiImage& a, const NiftiImage& b) {
  const Dimensions d = a.extents();
  const Affine p = a.affine(), q = b.affine();
  double largest = 0.0;
  for (int corner = 0; corner < 8; ++corner) {
    const double v[3] = {corner & 1 ? d.x - 1.0 : 0.0, corner & 2 ? d.y - 1.0 : 0.0, corner & 4 ? d.z - 1.0 : 0.0};
    double squared = 0.0;
    for (int r = 0; r < 3; ++r) {
      double delta = p[r][3] - q[r][3];
      for (int c = 0; c < 3; ++c) delta += (p[r][c] - q[r][c]) * v[c];
      squared += delta * delta;
    }
    largest = std::max(largest, std::sqrt(squared));
  }
  return largest;
}

void checkOppositePair(const NiftiScan& first, const NiftiScan& second) {
  if (platform::identityOf(first.path) == platform::identityOf(second.path)) {
    throw std::runtime_error(first.path + " and " + second.path +
                             " are the same file: a pair needs two scans of opposite phase encoding");
  }
  const std::string directions = first.path + " (" + phaseEncodingText(first.phaseEncoding) + ") and " + second.path +
                                 " (" + phaseEncodingText(second.phaseEncoding) + ")";
  if (first.phaseEncoding.axis != second.phaseEncoding.axis || first.phaseEncoding.sign == second.phaseEncoding.sign) {
    throw std::runtime_error("The phase encoding of " + directions + " must run along one axis in opposite directions");
  }
  if (first.phaseEncoding.axis == 2) {
    throw std::runtime_error("The phase encoding of " + directions +
                             " runs along k, the slice axis; only i and j are supported");
  }
  if (first.image.extents() != second.image.extents()) {
    const Dimensions a = first.image.extents();
    const Dimensions b = second.image.extents();
    std::ostringstream text;
    text << first.path << " has " << a.x << " x " << a.y << " x " << a.z << " voxels but " << second.path << " has "
         << b.x << " x " << b.y << " x " << b.z << ": the pair must share its grid";
    throw std::runtime_error(text.str());
  }
  // One grid: the voxel centres of the two affines agree within a tenth of
  // the smallest voxel at every corner of the volume (shifts, turns, swapped
  // axes and other voxel sizes all move a corner).
  // Measured both ways, so that the verdict does not depend on the order.
  const std::array<double, 3> mm0 = first.image.voxelSize(), mm1 = second.image.voxelSize();
  const double smallest = std::min({mm0[0], mm0[1], mm0[2], mm1[0], mm1[1], mm1[2]});
  const double offset =
      std::max(largestGridOffset(first.image, second.image), largestGridOffset(second.image, first.image));
  if (!(offset <= kGridTolerance * smallest)) {
    char text[96];
    std::snprintf(text, sizeof text, "%.3g mm (%.3g voxel) apart, more than %g voxel", offset, offset / smallest,
                  kGridTolerance);
    throw std::runtime_error(first.path + " and " + second.path + " are not on one grid: their affines place a voxel " +
                             text + ": the pair must share its grid");
  }
  // The field in Hz and the correction of each scan take one readout time.
  if (first.readout && second.readout &&
      std::fabs(first.readout->seconds - second.readout->seconds) >
          0.01 * std::max(first.readout->seconds, second.readout->seconds)) {
    throw std::runtime_error(first.path + " has a readout time of " + std::to_string(first.readout->seconds) + " s (" +
                             first.readout->source + ") but " + second.path + " one of " +
                             std::to_string(second.readout->seconds) + " s (" + second.readout->source +
                             "): they must agree within 1 % (or give --readout)");
  }
}

namespace {

// The b=0 volumes of a scan (b <= 50 in its .bval), or volume 0 when it has
// one volume or no .bval.
std::vector<int32_t> defaultVolumes(const NiftiScan& scan, const std::string& optionName) {
  const int32_t count = scan.image.volumeCount();
  const std::string bval = bvalPathOf(scan.path);
  if (count == 1 || !std::filesystem::exists(bval)) return {0};
  const std::vector<double> b = readBValues(bval);
  if (static_cast<int32_t>(b.size()) != count) {
    throw std::runtime_error(bval + " lists " + std::to_string(b.size()) + " b-values but " + scan.path + " has " +
                             std::to_string(count) + " volumes");
  }
  std::vector<int32_t> low;
  for (int32_t t = 0; t < count; ++t) {
    if (b[static_cast<size_t>(t)] <= kMaxEstimationBValue) low.push_back(t);
  }
  if (low.empty()) {
    throw std::runtime_error(scan.path + " has no volume with b <= 50 (" + bval + "): pick one with " + optionName);
  }
  return low;
}

void checkIndices(const NiftiScan& scan, const std::vector<int32_t>& indices, const std::string& optionName) {
  const int32_t count = scan.image.volumeCount();
  for (int32_t index : indices)
    if (index < 0 || index >= count) {
      throw std::runtime_error(scan.path + " has " + std::to_string(count) + " volumes; there is no volume " +
                               std::to_string(index) + " (" + optionName + ")");
    }
}

// A further series of a direction must share the scan's grid and encoding.
void checkSameDirection(const NiftiScan& scan, const NiftiScan& more) {
  if (more.image.extents() != scan.image.extents()) {
    throw std::runtime_error(more.path + " is not on the grid of " + scan.path + " (other extents)");
  }
  const Affine a = scan.image.affine(), b = more.image.affine();
  double largest = 0.0;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) largest = std::max(largest, std::fabs(a[r][c] - b[r][c]));
  if (largest > 0.01) throw std::runtime_error(more.path + " is not on the grid of " + scan.path + " (other affine)");
  if (more.phaseEncoding.axis != scan.phaseEncoding.axis || more.phaseEncoding.sign != scan.phaseEncoding.sign) {
    throw std::runtime_error(more.path + " is encoded " + phaseEncodingText(more.phaseEncoding) + ", " + scan.path +
                             " " + phaseEncodingText(scan.phaseEncoding) + ": a series of one direction must share it");
  }
}

double meanInside(const Volume& v, const Volume& mask) {
  double sum = 0.0;
  size_t n = 0;
  for (size_t i = 0; i < v.voxelCount(); ++i)
    if (mask.data()[i] != 0.0f) {
      sum += v.data()[i];
      ++n;
    }
  return n ? sum / static_cast<double>(n) : 0.0;
}

std::string motionText(const RigidMotion& m) {
  char text[160];
  std::snprintf(text, sizeof text, "turns %.2f, %.2f, %.2f degrees about i, j, k; shifts %.2f, %.2f, %.2f mm",
                m.rotationDegrees[0], m.rotationDegrees[1], m.rotationDegrees[2], m.translationMm[0],
                m.translationMm[1], m.translationMm[2]);
  return text;
}

}  // namespace

std::string motionDescription(const RigidMotion& motion) { return motionText(motion); }

EstimationVolume estimationVolume(const NiftiScan& scan, const VolumeSelection& selection, std::ostream* log) {
  checkIndices(scan, selection.volumes, selection.optionName);
  std::vector<int32_t> indices =
      selection.volumes.empty() ? defaultVolumes(scan, selection.optionName) : selection.volumes;
  std::vector<Volume> volumes = scan.image.readVolumes(indices);
  std::vector<std::string> names;
  const std::string ofScan = selection.more.empty() ? "" : " of " + scan.path;
  for (int32_t t : indices) names.push_back("volume " + std::to_string(t) + ofScan);
  for (const NiftiScan* more : selection.more) {
    checkSameDirection(scan, *more);
    const std::vector<int32_t> its = defaultVolumes(*more, selection.optionName);
    for (Volume& v : more->image.readVolumes(its)) volumes.push_back(std::move(v));
    for (int32_t t : its) names.push_back("volume " + std::to_string(t) + " of " + more->path);
  }
  const bool defaulted = selection.volumes.empty();
  if (volumes.size() == 1) {
    const bool b0 = defaulted && scan.image.volumeCount() > 1;
    return {std::move(volumes.front()), "volume " + std::to_string(indices.front()) + (b0 ? " (b=0)" : "")};
  }
  // Each volume aligned to the first: subjects move between volumes taken
  // minutes apart.
  const std::array<double, 3> mm = scan.image.voxelSize();
  const Volume head = pairHeadMask(volumes.front(), volumes.front());
  const Volume reference = gaussianSmoothed(volumes.front(), 1.0);
  bool aligned = false;
  for (size_t k = 1; k < volumes.size(); ++k) {
    // At the first's intensity: b=0 volumes of one series may differ in scale.
    Volume moving = gaussianSmoothed(volumes[k], 1.0);
    const double scale = meanInside(reference, head) / meanInside(moving, head);
    if (std::isfinite(scale) && scale > 0.0) moving *= static_cast<float>(scale);
    const RigidMotion m = registerRigidPair(reference, moving, head, mm);
    const bool counted = !(m.largestTurn() < 0.05 && m.largestShift() < 0.05);
    if (log)
      *log << "Motion of " << names[k] << (selection.more.empty() ? " of " + scan.path : "") << " against "
           << names.front() << ": " << motionText(m) << (counted ? "" : " (none counted)") << std::flush;
    if (counted) volumes[k] = movedBy(volumes[k], mm, m);
    aligned = aligned || counted;
  }
  const Volume mean = meanOf(volumes);
  const Volume meanHead = pairHeadMask(mean, mean);
  for (size_t k = 0; k < volumes.size(); ++k) {
    const double agreement = maskedCorrelation(volumes[k], mean, meanHead);
    if (!(agreement >= kMinimumB0Agreement)) {
      char figure[32];
      std::snprintf(figure, sizeof figure, "%.3f", agreement);
      throw std::runtime_error(std::string(defaulted ? "The b=0 volumes " : "The volumes ") + listed(indices) + " of " +
                               scan.path + (selection.more.empty() ? "" : " and its further series") + " disagree (" +
                               names[k] + " correlates " + figure + " with their mean): pick one with " +
                               selection.optionName);
    }
  }
  std::string description = (defaulted ? "the mean of the b=0 volumes " : "the mean of the volumes ") + listed(indices);
  if (!selection.more.empty())
    description += " and " + std::to_string(volumes.size() - indices.size()) + " of further series";
  return {mean, aligned ? description + ", aligned" : description};
}

void checkListedBValues(const NiftiScan& scan, const std::vector<int32_t>& volumes, const std::string& optionName,
                        bool force, std::ostream& log) {
  const std::string bval = bvalPathOf(scan.path);
  if (volumes.empty() || !std::filesystem::exists(bval)) return;
  const std::vector<double> b = readBValues(bval);
  for (int32_t t : volumes) {
    const size_t i = static_cast<size_t>(t);
    if (t < 0 || i >= b.size() || b[i] <= kMaxEstimationBValue) continue;
    const std::string what = "volume " + std::to_string(t) + " of " + scan.path +
                             " has b = " + formatFloat(static_cast<float>(b[i])) + " (" + bval + ", " + optionName +
                             ")";
    if (!force) {
      throw std::runtime_error(what +
                               "; estimate from a volume without diffusion weighting (b <= 50), or give --force");
    }
    log << what << ": used all the same (--force)" << std::flush;
  }
}

EstimationVolume estimationVolume(const NiftiScan& scan, std::optional<int32_t> index, const std::string& optionName) {
  VolumeSelection selection;
  if (index) selection.volumes = {*index};
  selection.optionName = optionName;
  return estimationVolume(scan, selection, nullptr);
}

Volume toWorkingFrame(const Volume& v, const PhaseEncodingDirection& pe) { return pe.axis == 0 ? transposeXY(v) : v; }
Volume fromWorkingFrame(const Volume& v, const PhaseEncodingDirection& pe) { return pe.axis == 0 ? transposeXY(v) : v; }

std::array<double, 3> workingVoxelSize(const NiftiScan& scan) {
  std::array<double, 3> size = scan.image.voxelSize();
  if (scan.phaseEncoding.axis == 0) std::swap(size[0], size[1]);
  return size;
}

}  // namespace daxo::pipeline
