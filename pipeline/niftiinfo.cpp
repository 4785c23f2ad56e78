#include "pipeline/niftiinfo.h"

#include <filesystem>
#include <sstream>

#include "fileio/nifti/bidssidecar.h"
#include "fileio/nifti/niftiimage.h"
#include "fileio/paths.h"

namespace daxo::pipeline {

namespace {

// Kind, extents, volumes, voxel size, data type and scaling, orientation.
void describeImage(std::ostream& out, const std::string& path, const NiftiImage& image) {
  const Dimensions d = image.extents();
  const std::array<double, 3> mm = image.voxelSize();
  const bool compressed = path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0;
  out << "File: " << path << "\n"
      << "Kind: NIfTI-" << (image.isNifti2() ? 2 : 1) << " image" << (compressed ? " (gzip-compressed)" : "") << "\n"
      << "Extents (i, j, k): " << d.x << " x " << d.y << " x " << d.z << "\n"
      << "Volumes: " << image.volumeCount() << "\n"
      << "Voxel size (mm): " << mm[0] << " x " << mm[1] << " x " << mm[2] << "\n"
      << "Data type: " << image.datatypeName();
  if (image.sclSlope() != 0.0 && (image.sclSlope() != 1.0 || image.sclInter() != 0.0)) {
    out << ", scaled by " << image.sclSlope() << " plus " << image.sclInter();
  }
  const std::string orientation = image.orientationCode();
  out << "\nOrientation: " << (orientation.empty() ? "unknown" : orientation) << " (sform code " << image.sformCode()
      << ", qform code " << image.qformCode() << ")\n";
}

// The phase encoding and the readout time the sidecar beside `path` gives.
void describeSidecar(std::ostream& out, const std::string& path, const Dimensions& d,
                     std::vector<std::string>& problems) {
  const std::string json = sidecarPathOf(path);
  if (!std::filesystem::exists(json)) {
    out << "Sidecar: none (" << json << ")\n";
    problems.push_back("no sidecar: give the phase-encoding direction (--pe0/--pe1) and the readout time (--readout)");
    return;
  }
  const BidsSidecar sidecar = readBidsSidecar(json);
  out << "Sidecar: " << json << "\n";
  if (sidecar.phaseEncodingDirection) {
    out << "Phase encoding: " << phaseEncodingText(*sidecar.phaseEncodingDirection) << "\n";
  } else if (sidecar.phaseEncodingAxis) {
    out << "Phase encoding: along "
        << "ijk"[*sidecar.phaseEncodingAxis] << ", polarity unknown\n";
    problems.push_back("PhaseEncodingAxis but no PhaseEncodingDirection: give --pe0/--pe1 when estimating");
  } else {
    out << "Phase encoding: unknown\n";
    problems.push_back("no PhaseEncodingDirection: give --pe0/--pe1 when estimating");
  }
  const int peExtent = sidecar.phaseEncodingAxis        ? (*sidecar.phaseEncodingAxis == 0 ? d.x : d.y)
                       : sidecar.phaseEncodingDirection ? (sidecar.phaseEncodingDirection->axis == 0   ? d.x
                                                           : sidecar.phaseEncodingDirection->axis == 1 ? d.y
                                                                                                       : d.z)
                                                        : 0;
  if (const auto readout = readoutTimeOf(sidecar, peExtent)) {
    out << "Readout time (s): " << readout->seconds << " (" << readout->source << ")\n";
  } else {
    out << "Readout time: unknown\n";
    problems.push_back("no readout time: give --readout SECONDS to have the field in Hz");
  }
}

// The b-values of the .bval beside `path`, when there is one.
void describeBValues(std::ostream& out, const std::string& path, int32_t volumes, std::vector<std::string>& problems) {
  const std::string bval = bvalPathOf(path);
  if (!std::filesystem::exists(bval)) return;
  const std::vector<double> b = readBValues(bval);
  std::vector<std::string> low;
  for (size_t t = 0; t < b.size(); ++t) {
    if (b[t] <= 50.0) low.push_back(std::to_string(t));
  }
  std::string listed;
  for (const std::string& t : low) listed += (listed.empty() ? "" : ", ") + t;
  out << "b-values: " << b.size() << " in " << fileNameOf(bval) << "; b <= 50 in "
      << (low.empty() ? "no volume" : (low.size() == 1 ? "volume " : "volumes ") + listed) << "\n";
  if (static_cast<int32_t>(b.size()) != volumes) {
    problems.push_back(fileNameOf(bval) + " lists " + std::to_string(b.size()) + " b-values for " +
                       std::to_string(volumes) + " volumes");
  }
}

}  // namespace

std::string describeNifti(const std::string& path, size_t* problemCount) {
  const NiftiImage image = NiftiImage::open(path);
  std::ostringstream out;
  std::vector<std::string> problems;
  describeImage(out, path, image);
  describeSidecar(out, path, image.extents(), problems);
  describeBValues(out, path, image.volumeCount(), problems);
  for (const std::string& p : problems) out << "Problem: " << p << "\n";
  if (problemCount != nullptr) *problemCount = problems.size();
  return out.str();
}

}  // namespace daxo::pipeline
