#include "pipeline/niftioutputs.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <utility>

#include "correction/vdm.h"
#include "fileio/fileerrors.h"
#include "fileio/stagedoutputfile.h"
#include "pipeline/queuedniftiwriter.h"
#include "pipeline/scanpair.h"
#include "volume/columnthreads.h"

namespace daxo::pipeline {

void writeJsonFile(const std::string& path, const nlohmann::json& document) {
  StagedOutputFile out(path);
  if (!out.isOpen()) throw WriteFileError("Cannot create " + path + ": " + out.problem());
  out.stream() << document.dump(2) << "\n";
  out.finish();
  out.commit();
}

void writeTextFile(const std::string& path, const std::string& text) {
  StagedOutputFile out(path);
  if (!out.isOpen()) throw WriteFileError("Cannot create " + path + ": " + out.problem());
  out.stream() << text;
  out.finish();
  out.commit();
}

std::string niftiOutputPath(const std::string& input, const std::string& suffix, const std::string& outDir) {
  const std::string stem = niftiStem(input) + suffix + ".nii.gz";
  if (outDir.empty()) return stem;
  return (std::filesystem::path(outDir) / std::filesystem::path(stem).filename()).string();
}

void copyTextFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) throw OpenFileError("Cannot open " + from);
  StagedOutputFile out(to);
  if (!out.isOpen()) throw WriteFileError("Cannot create " + to + ": " + out.problem());
  out.stream() << in.rdbuf();
  out.finish();
  out.commit();
}

void createOutputFolder(const std::string& folder) {
  if (folder.empty()) return;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder)) {
    throw WriteFileError("Cannot create the output folder " + folder +
                         (error ? ": " + error.message() : ": a file of that name is in the way"));
  }
}

void checkOutputFolder(const std::string& folder) {
  if (folder.empty()) return;
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path existing = fs::absolute(folder, error);
  while (!error && !fs::exists(existing, error) && existing.has_parent_path() && existing != existing.parent_path())
    existing = existing.parent_path();
  if (error) return;  // left for createOutputFolder to report
  if (!fs::is_directory(existing)) {
    throw WriteFileError("Cannot create the output folder " + folder + ": " + existing.string() + " is not a folder");
  }
  if (access(existing.c_str(), W_OK | X_OK) != 0) {
    throw WriteFileError("Cannot create the output folder " + folder + ": " + existing.string() +
                         " may not be written in (" + std::strerror(errno) + ")");
  }
}

std::string outputSidecarPath(const std::string& niftiPath) { return niftiStem(niftiPath) + ".json"; }

std::string pathFromOutput(const std::string& path, const std::string& output) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path target = fs::weakly_canonical(fs::absolute(path), error);
  const fs::path folder = fs::weakly_canonical(fs::absolute(output).parent_path(), error);
  if (error) return path;
  const fs::path relative = target.lexically_relative(folder);
  return relative.empty() ? target.generic_string() : relative.generic_string();
}

std::vector<std::pair<std::string, std::string>> gradientCopies(const std::string& input, const std::string& output) {
  std::vector<std::pair<std::string, std::string>> copies;
  for (const char* extension : {".bval", ".bvec"}) {
    const std::string from = niftiStem(input) + extension;
    if (std::filesystem::is_regular_file(from)) copies.emplace_back(from, niftiStem(output) + extension);
  }
  return copies;
}

void writeDisplacementMap(const std::string& path, const NiftiScan& first, const Volume& map,
                          const std::optional<RigidMotion>& motion, bool motionOfFirst) {
  writeNifti(path, first.image, {map}, NiftiStorage::Float32, "displacement, voxels along PE");
  // What `daxo apply` needs to carry the map to other series.
  nlohmann::json sidecar;
  sidecar["Units"] = "voxels";
  sidecar["Description"] = "displacement of " + first.path + " along its phase-encoding axis, estimated by DAXO";
  sidecar["PhaseEncodingDirection"] = phaseEncodingText(first.phaseEncoding);
  if (first.readout) sidecar["TotalReadoutTime"] = first.readout->seconds;
  if (motion) {
    const std::string moved = motionOfFirst ? "first" : "second";
    const std::string other = motionOfFirst ? "second" : "first";
    sidecar[motionOfFirst ? "MotionOfFirstScan" : "MotionOfSecondScan"] = {
        {"RotationDegrees", motion->rotationDegrees},
        {"TranslationMm", motion->translationMm},
        {"Description", "rigid motion of the " + moved + " scan's head relative to the " + other +
                            ", turns about the voxel axes i, j, k through the image centre (R = Rz Ry Rx), shifts "
                            "along them"}};
  }
  writeJsonFile(outputSidecarPath(path), sidecar);
}

void writeFieldMap(const std::string& path, const NiftiScan& first, const Volume& map, const ReadoutTime& readout,
                   const nlohmann::json& provenance) {
  const double hzPerVoxel = first.phaseEncoding.sign / readout.seconds;
  Volume field(map.dimensions());
  for (size_t i = 0; i < map.voxelCount(); ++i) field.data()[i] = static_cast<float>(map.data()[i] * hzPerVoxel);
  writeNifti(path, first.image, {field}, NiftiStorage::Float32, "field, Hz");
  nlohmann::json sidecar;
  sidecar["Units"] = "Hz";
  sidecar["Description"] = "B0 field estimated by DAXO from a reverse phase-encoded pair";
  sidecar["PhaseEncodingDirection"] = phaseEncodingText(first.phaseEncoding);
  sidecar["TotalReadoutTime"] = readout.seconds;
  sidecar.update(provenance);
  writeJsonFile(outputSidecarPath(path), sidecar);
}

void writeCorrectedSeries(const NiftiScan& scan, const Volume& map, const CorrectedSeries& output, std::ostream& log) {
  const std::string& path = output.path;
  SeriesCorrection correction(map, scan.phaseEncoding, output.jacobian, output.motion, scan.image.voxelSize());
  NiftiVolumeReader reader(scan.image);
  QueuedNiftiWriter writer(path, scan.image, scan.image.volumeCount(), output.storage);
  Volume volume;
  while (reader.remaining() > 0) {
    reader.next(volume);
    Volume corrected = correction.correct(volume);
    writer.write(std::move(corrected));
  }
  writer.finish();
  // The gradients of a diffusion series stay with its corrected copy, before
  // the sidecar, which comes last.
  for (const auto& [from, to] : gradientCopies(scan.path, path)) copyTextFile(from, to);
  if (scan.sidecar) {
    nlohmann::json sidecar = scan.sidecar->document;
    for (const auto& [key, value] : output.provenance.items()) {
      if (value.is_null()) {
        sidecar.erase(key);
      } else {
        sidecar[key] = value;
      }
    }
    sidecar["DistortionCorrection"] = {{"Software", "DAXO"},
                                       {output.mapIsField ? "FieldMap" : "DisplacementMap", output.mapPath},
                                       {"JacobianModulation", output.jacobian}};
    // The pair's reference scan: the one encoded toward lower index, in
    // whichever order the pair was given.
    if (output.motion) sidecar["DistortionCorrection"]["MovedIntoTheOtherScansSpace"] = true;
    writeJsonFile(outputSidecarPath(path), sidecar);
  }
  log << "Undistorted series saved as: " << path << std::flush;
}

std::optional<RigidMotion> recordedMotion(const std::string& mapPath, bool& firstMoved) {
  firstMoved = false;
  std::ifstream in(outputSidecarPath(mapPath));
  if (!in) return std::nullopt;
  const nlohmann::json sidecar = nlohmann::json::parse(in, nullptr, false);
  if (sidecar.is_discarded()) return std::nullopt;
  firstMoved = sidecar.contains("MotionOfFirstScan");
  const char* key = firstMoved ? "MotionOfFirstScan" : "MotionOfSecondScan";
  if (!sidecar.contains(key)) return std::nullopt;
  try {
    RigidMotion motion;
    motion.rotationDegrees = sidecar[key]["RotationDegrees"].get<std::array<double, 3>>();
    motion.translationMm = sidecar[key]["TranslationMm"].get<std::array<double, 3>>();
    return motion;
  } catch (const nlohmann::json::exception&) {
    throw std::runtime_error(outputSidecarPath(mapPath) + ": " + key +
                             " needs RotationDegrees and TranslationMm, three numbers each");
  }
}

}  // namespace daxo::pipeline
