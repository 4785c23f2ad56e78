#include "pipeline/niftirestore.h"

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "correction/leastsquaresrestoration.h"
#include "fileio/nifti/bidssidecar.h"
#include "fileio/paths.h"
#include "pipeline/niftioutputs.h"
#include "pipeline/niftiscan.h"
#include "pipeline/outputnames.h"
#include "pipeline/queuedniftiwriter.h"
#include "volume/columnthreads.h"

namespace daxo::pipeline {

namespace {

// The b-values and directions of the two series must match volume by volume.
void checkGradients(const NiftiScan& first, const NiftiScan& second) {
  const std::string bval0 = bvalPathOf(first.path), bval1 = bvalPathOf(second.path);
  if (!std::filesystem::exists(bval0) || !std::filesystem::exists(bval1)) return;
  const std::vector<double> b0 = readBValues(bval0), b1 = readBValues(bval1);
  const size_t count = static_cast<size_t>(first.image.volumeCount());
  for (const auto& [path, values] : {std::pair{bval0, b0}, std::pair{bval1, b1}})
    if (values.size() != count)
      throw std::runtime_error(path + " lists " + std::to_string(values.size()) + " b-values for " +
                               std::to_string(count) + " volumes");
  for (size_t t = 0; t < count; ++t)
    if (std::fabs(b0[t] - b1[t]) > std::max(20.0, 0.05 * std::max(b0[t], b1[t])))
      throw std::runtime_error("volume " + std::to_string(t) + " has b = " + std::to_string(b0[t]) + " in " + bval0 +
                               " but " + std::to_string(b1[t]) + " in " + bval1 +
                               ": the two series must hold the same gradients in the same order");
  const std::string bvec0 = bvecPathOf(first.path), bvec1 = bvecPathOf(second.path);
  if (!std::filesystem::exists(bvec0) || !std::filesystem::exists(bvec1)) return;
  const auto g0 = readBVectors(bvec0), g1 = readBVectors(bvec1);
  if (g0[0].size() != count || g1[0].size() != count)
    throw std::runtime_error("the .bvec files of " + first.path + " and " + second.path + " do not list " +
                             std::to_string(count) + " directions");
  for (size_t t = 0; t < count; ++t) {
    if (b0[t] <= 50.0) continue;
    double dot = 0.0, n0 = 0.0, n1 = 0.0;
    for (int a = 0; a < 3; ++a) {
      dot += g0[a][t] * g1[a][t];
      n0 += g0[a][t] * g0[a][t];
      n1 += g1[a][t] * g1[a][t];
    }
    if (!(std::fabs(dot) >= std::cos(8.0 * 3.14159265358979323846 / 180.0) * std::sqrt(n0 * n1)))
      throw std::runtime_error("volume " + std::to_string(t) + " has another gradient direction in " + bvec0 +
                               " than in " + bvec1 + ": the two series must hold the same gradients in the same order");
  }
}

}  // namespace

void restoreNiftiPair(const NiftiRestoreRequest& request, std::ostream& log) {
  {
    std::vector<std::string> inputs = niftiInputFiles(request.mapPath);
    for (const std::string& series : {request.first, request.second})
      for (const std::string& file : niftiInputFiles(series)) inputs.push_back(file);
    if (!request.acqparams.empty()) inputs.push_back(request.acqparams);
    const std::string restored = niftiOutputPath(request.first, kRestoredSuffix, request.outDir);
    std::vector<std::string> outputs{restored, outputSidecarPath(restored), bvalPathOf(restored), bvecPathOf(restored)};
    outputs.insert(outputs.end(), request.alsoWritten.begin(), request.alsoWritten.end());
    checkOutputNames("apply", inputs, outputs);
    checkOutputFolder(request.outDir);
  }
  const MapSource map = readMapSource(request.mapPath, request.mapUnits);
  const auto rows = acquisitionEntries(request.acqparams, request.acqIndex, 2);
  const NiftiScan first = openNiftiScan(request.first, "", "--acqparams", request.readoutSeconds, rows[0]);
  const NiftiScan second = openNiftiScan(request.second, "", "--acqparams", request.readoutSeconds, rows[1]);
  checkOppositePair(first, second);
  if (first.image.volumeCount() != second.image.volumeCount()) {
    throw std::runtime_error(first.path + " has " + std::to_string(first.image.volumeCount()) + " volumes but " +
                             second.path + " has " + std::to_string(second.image.volumeCount()) +
                             ": the two series must hold the same volumes in the same order");
  }
  if (first.readout && second.readout &&
      std::fabs(first.readout->seconds - second.readout->seconds) > 0.01 * first.readout->seconds) {
    throw std::runtime_error(first.path + " and " + second.path +
                             " have other readout times: the restoration needs the same displacement, opposite");
  }
  checkGradients(first, second);
  std::string note;
  const Volume displacement = displacementForSeries(map, first, note);
  if (!note.empty()) log << note << std::flush;

  createOutputFolder(request.outDir);
  const std::string path = niftiOutputPath(request.first, kRestoredSuffix, request.outDir);
  const Volume workingMap = toWorkingFrame(displacement, first.phaseEncoding);
  NiftiVolumeReader reader0(first.image), reader1(second.image);
  QueuedNiftiWriter writer(path, first.image, first.image.volumeCount(), request.storage);
  ColumnThreads threads(threadCount());
  Volume a, b;
  while (reader0.remaining() > 0) {
    reader0.next(a);
    reader1.next(b);
    const Volume restored = restoreLeastSquares(toWorkingFrame(a, first.phaseEncoding),
                                                toWorkingFrame(b, second.phaseEncoding), workingMap, {}, &threads);
    writer.write(fromWorkingFrame(restored, first.phaseEncoding));
  }
  writer.finish();
  // The sidecar comes last: an output with its sidecar is complete.
  for (const auto& [from, to] : gradientCopies(first.path, path)) copyTextFile(from, to);
  if (first.sidecar) {
    nlohmann::json sidecar = first.sidecar->document;
    sidecar["DistortionCorrection"] = {
        {"Software", "DAXO"},
        {request.mapUnits == MapUnits::Hz ? "FieldMap" : "DisplacementMap", pathFromOutput(request.mapPath, path)},
        {"Method", "least-squares restoration"},
        {"Series", {pathFromOutput(first.path, path), pathFromOutput(second.path, path)}}};
    writeJsonFile(outputSidecarPath(path), sidecar);
  }
  log << "Restored series (least squares, from " << first.path << " and " << second.path << ") saved as: " << path
      << std::flush;
}

}  // namespace daxo::pipeline
