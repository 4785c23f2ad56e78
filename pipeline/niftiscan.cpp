#include "pipeline/niftiscan.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "correction/pairagreement.h"

namespace daxo::pipeline {

namespace {

// The lowest agreement of a b=0 volume with the mean of all b=0 volumes that
// is still taken for the same image (moved or noisy, not a different one).
constexpr double kMinimumB0Agreement = 0.9;
constexpr double kLargestB0Value = 50.0;

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
  NiftiImage image = NiftiImage::open(path);
  std::optional<BidsSidecar> sidecar = sidecarBeside(path);
  const PhaseEncodingDirection pe = settledDirection(path, sidecar, peOption, optionName);
  std::optional<ReadoutTime> readout;
  if (readoutSeconds) {
    readout = ReadoutTime{*readoutSeconds, "--readout"};
  } else if (sidecar) {
    readout = readoutTimeOf(*sidecar, extentAlong(image.extents(), pe.axis));
  }
  return NiftiScan{path, std::move(image), std::move(sidecar), pe, readout};
}

void checkOppositePair(const NiftiScan& first, const NiftiScan& second) {
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
}

EstimationVolume estimationVolume(const NiftiScan& scan, std::optional<int32_t> index, const std::string& optionName) {
  const int32_t count = scan.image.volumeCount();
  if (index) {
    if (*index < 0 || *index >= count) {
      throw std::runtime_error(scan.path + " has " + std::to_string(count) + " volumes; there is no volume " +
                               std::to_string(*index) + " (" + optionName + ")");
    }
    return {scan.image.readVolume(*index), "volume " + std::to_string(*index)};
  }
  const std::string bval = bvalPathOf(scan.path);
  if (count == 1 || !std::filesystem::exists(bval)) return {scan.image.readVolume(0), "volume 0"};
  const std::vector<double> b = readBValues(bval);
  if (static_cast<int32_t>(b.size()) != count) {
    throw std::runtime_error(bval + " lists " + std::to_string(b.size()) + " b-values but " + scan.path + " has " +
                             std::to_string(count) + " volumes");
  }
  std::vector<int32_t> low;
  for (int32_t t = 0; t < count; ++t) {
    if (b[static_cast<size_t>(t)] <= kLargestB0Value) low.push_back(t);
  }
  if (low.empty()) {
    throw std::runtime_error(scan.path + " has no volume with b <= 50 (" + bval + "): pick one with " + optionName);
  }
  const std::vector<Volume> volumes = scan.image.readVolumes(low);
  if (volumes.size() == 1) return {volumes.front(), "volume " + std::to_string(low.front()) + " (b=0)"};
  const Volume mean = meanOf(volumes);
  const Volume head = pairHeadMask(mean, mean);
  for (size_t k = 0; k < volumes.size(); ++k) {
    const double agreement = maskedCorrelation(volumes[k], mean, head);
    if (!(agreement >= kMinimumB0Agreement)) {
      char figure[32];
      std::snprintf(figure, sizeof figure, "%.3f", agreement);
      throw std::runtime_error("The b=0 volumes " + listed(low) + " of " + scan.path + " disagree (volume " +
                               std::to_string(low[k]) + " correlates " + figure + " with their mean): pick one with " +
                               optionName);
    }
  }
  return {mean, "the mean of the b=0 volumes " + listed(low)};
}

Volume toWorkingFrame(const Volume& v, const PhaseEncodingDirection& pe) { return pe.axis == 0 ? transposeXY(v) : v; }
Volume fromWorkingFrame(const Volume& v, const PhaseEncodingDirection& pe) { return pe.axis == 0 ? transposeXY(v) : v; }

std::array<double, 3> workingVoxelSize(const NiftiScan& scan) {
  std::array<double, 3> size = scan.image.voxelSize();
  if (scan.phaseEncoding.axis == 0) std::swap(size[0], size[1]);
  return size;
}

}  // namespace daxo::pipeline
