#include "pipeline/niftiestimate.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "correction/pairmotion.h"
#include "fileio/paths.h"
#include "pipeline/niftioutputs.h"
#include "pipeline/niftiscan.h"
#include "pipeline/outputnames.h"
#include "pipeline/pairreportdata.h"
#include "pipeline/phasecheck.h"
#include "pipeline/reportpages.h"
#include "pipeline/scanpair.h"
#include "volume/fftw/fftwbinding.h"

namespace daxo::pipeline {

namespace {

// The map, and the field in Hz when the readout time is known.
void writeMaps(const NiftiEstimateRequest& request, const NiftiScan& first, const Volume& map,
               const std::string& mapPath, const std::optional<RigidMotion>& motion, bool motionOfFirst,
               std::ostream& log) {
  writeDisplacementMap(mapPath, first, map, motion, motionOfFirst);
  log << "Displacement map (voxels) saved as: " << mapPath << std::flush;
  if (!first.readout) {
    log << "No readout time for " << request.first
        << " (no TotalReadoutTime or EffectiveEchoSpacing in its sidecar, no --readout): the field in Hz is not "
           "written."
        << std::flush;
    return;
  }
  const std::string fieldPath = niftiOutputPath(request.first, kFieldMapSuffix, request.outDir);
  const nlohmann::json sources = {pathFromOutput(request.first, fieldPath), pathFromOutput(request.second, fieldPath)};
  writeFieldMap(fieldPath, first, map, *first.readout, {{"Sources", sources}});
  log << "Field map (Hz, readout time " << std::to_string(first.readout->seconds) << " s from " << first.readout->source
      << ") saved as: " << fieldPath << std::flush;
}

}  // namespace

NiftiPairEstimate estimateNiftiPair(const NiftiScan& first, const NiftiScan& second, const VolumeSelection& volumes0,
                                    const VolumeSelection& volumes1, const EstimationOptions& options, bool motion,
                                    std::ostream& log) {
  // The result must not depend on the order the pair is given in, and
  // neither the classic method nor the motion model is symmetric in its two
  // scans: the pair is always estimated with the scan encoded toward lower
  // index as the reference, and the map negated for the other order.
  if (first.phaseEncoding.sign > 0 && second.phaseEncoding.sign < 0) {
    log << "The pair is estimated with " << second.path << " (" << phaseEncodingText(second.phaseEncoding)
        << ") as the reference, as in either order; the map of " << first.path << " is its negative" << std::flush;
    NiftiPairEstimate estimate = estimateNiftiPair(second, first, volumes1, volumes0, options, motion, log);
    std::swap(estimate.volume0, estimate.volume1);
    estimate.map *= -1.0f;
    estimate.firstMoved = estimate.motion.has_value();
    return estimate;
  }
  EstimationVolume v0 = estimationVolume(first, volumes0, &log);
  EstimationVolume v1 = estimationVolume(second, volumes1, &log);
  // Two scans never agree voxel for voxel: that is one scan given twice
  // (copied, or renamed with the other's sidecar), whose map would be 0.
  if (v0.volume.dimensions() == v1.volume.dimensions() &&
      std::equal(v0.volume.data(), v0.volume.data() + v0.volume.voxelCount(), v1.volume.data())) {
    throw std::runtime_error(v0.description + " of " + first.path + " and " + v1.description + " of " + second.path +
                             " hold the same voxels: a pair needs two scans of opposite phase encoding");
  }
  log << "Estimating from " << v0.description << " of " << first.path << " (" << phaseEncodingText(first.phaseEncoding)
      << ") and " << v1.description << " of " << second.path << " (" << phaseEncodingText(second.phaseEncoding)
      << ")..." << std::flush;
  // The classic method smooths through the core's FFT table, which in the
  // plugin the host fills; here it is filled with FFTW.
  bindFft(fftwFunctions());
  ScanPairEstimate e =
      estimateScanPair({v0.volume, first.image.voxelSize(), first.phaseEncoding, first.path},
                       {v1.volume, second.image.voxelSize(), second.phaseEncoding, second.path}, options, motion, log);
  if (e.movedSecond) {
    v1.volume = std::move(*e.movedSecond);
    v1.description += ", moved into the first scan's space";
  }
  return {std::move(v0), std::move(v1), std::move(e.map), std::move(e.check), e.motion, false};
}

report::PairReportInputs niftiPairReportInputs(const NiftiScan& first, const NiftiScan& second,
                                               const NiftiPairEstimate& estimate, const std::string& mapPath,
                                               const EstimationOptions& options) {
  report::PairReportInputs in = pairReportInputs(estimate.volume0.volume, estimate.volume1.volume, estimate.map,
                                                 first.image.voxelSize(), first.phaseEncoding.axis == 0);
  if (first.readout) in.hzPerVoxel = first.phaseEncoding.sign / first.readout->seconds;
  in.orientation = first.image.orientationCode();
  in.title = "Distortion correction: " + std::filesystem::path(first.path).filename().string() + " and " +
             std::filesystem::path(second.path).filename().string();
  in.verdict = estimate.check.summary();
  in.settings = {
      {"First scan", first.path + ", " + estimate.volume0.description + ", " + phaseEncodingText(first.phaseEncoding)},
      {"Second scan",
       second.path + ", " + estimate.volume1.description + ", " + phaseEncodingText(second.phaseEncoding)},
      {"Map", mapPath},
      {estimate.firstMoved ? "Motion of the first scan" : "Motion of the second scan",
       estimate.motion ? motionDescription(*estimate.motion) : "none found or not estimated"},
      {"Method", options.method == EstimationMethod::Classic ? "classic" : "variational"},
      {"Software", daxoVersionText()}};
  return in;
}

std::vector<std::string> niftiEstimateOutputs(const NiftiEstimateRequest& request) {
  const std::string mapPath = niftiOutputPath(request.first, kMapSuffix, request.outDir);
  const std::string fieldPath = niftiOutputPath(request.first, kFieldMapSuffix, request.outDir);
  std::vector<std::string> outputs{mapPath, outputSidecarPath(mapPath), fieldPath, outputSidecarPath(fieldPath)};
  if (request.apply) {
    for (const std::string& input : {request.first, request.second}) {
      const std::string corrected = niftiOutputPath(input, kCorrectedSuffix, request.outDir);
      outputs.push_back(corrected);
      outputs.push_back(outputSidecarPath(corrected));
      outputs.push_back(bvalPathOf(corrected));
      outputs.push_back(bvecPathOf(corrected));
    }
  }
  if (!request.reportPage.empty()) outputs.push_back(request.reportPage);
  outputs.insert(outputs.end(), request.alsoWritten.begin(), request.alsoWritten.end());
  return outputs;
}

void estimateNiftiFiles(const NiftiEstimateRequest& request, std::ostream& log) {
  std::vector<std::string> inputs;
  for (const std::vector<std::string>& group :
       {std::vector<std::string>{request.first, request.second}, request.more0, request.more1}) {
    for (const std::string& image : group) {
      for (const std::string& file : niftiInputFiles(image)) inputs.push_back(file);
    }
  }
  if (!request.acqparams.empty()) inputs.push_back(request.acqparams);
  checkOutputNames("estimate", inputs, niftiEstimateOutputs(request));
  checkOutputFolder(request.outDir);
  const auto rows = acquisitionEntries(request.acqparams, request.acqIndex, 2);
  const NiftiScan first = openNiftiScan(request.first, request.pe0, "--pe0", request.readoutSeconds, rows[0]);
  const NiftiScan second = openNiftiScan(request.second, request.pe1, "--pe1", request.readoutSeconds, rows[1]);
  checkOppositePair(first, second);
  checkListedBValues(first, request.volumes0, "--volume0", request.force, log);
  checkListedBValues(second, request.volumes1, "--volume1", request.force, log);
  std::vector<NiftiScan> more0, more1;
  for (const std::string& path : request.more0)
    more0.push_back(openNiftiScan(path, request.pe0, "--pe0", request.readoutSeconds, rows[0]));
  for (const std::string& path : request.more1)
    more1.push_back(openNiftiScan(path, request.pe1, "--pe1", request.readoutSeconds, rows[1]));
  VolumeSelection selection0{request.volumes0, {}, "--volume0"}, selection1{request.volumes1, {}, "--volume1"};
  for (const NiftiScan& scan : more0) selection0.more.push_back(&scan);
  for (const NiftiScan& scan : more1) selection1.more.push_back(&scan);
  const NiftiPairEstimate estimate =
      estimateNiftiPair(first, second, selection0, selection1, request.estimation, request.motion, log);
  const Volume& map = estimate.map;
  const PhaseCheckVerdict& check = estimate.check;
  if (!check.problem.empty()) {
    if (!request.force)
      throw std::runtime_error(check.problem + " (--force writes the map anyway); nothing was written");
    log << "Phase-encoding check failed, written anyway (--force): " << check.problem << std::flush;
  }

  createOutputFolder(request.outDir);
  const std::string mapPath = niftiOutputPath(request.first, kMapSuffix, request.outDir);
  writeMaps(request, first, map, mapPath, estimate.motion, estimate.firstMoved, log);
  if (request.apply) {
    // The scan that moved is moved into the other's space as it is corrected.
    CorrectedSeries output;
    output.path = niftiOutputPath(request.first, kCorrectedSuffix, request.outDir);
    output.storage = request.storage;
    output.mapPath = pathFromOutput(mapPath, output.path);
    if (estimate.firstMoved) output.motion = estimate.motion;
    writeCorrectedSeries(first, map, output, log);
    output.path = niftiOutputPath(request.second, kCorrectedSuffix, request.outDir);
    output.mapPath = pathFromOutput(mapPath, output.path);
    output.motion = estimate.firstMoved ? std::nullopt : estimate.motion;
    writeCorrectedSeries(second, map * -1.0f, output, log);
  }
  if (!request.reportPage.empty()) {
    writeReportPage(request.reportPage, niftiPairReportInputs(first, second, estimate, mapPath, request.estimation),
                    log);
  }
}

}  // namespace daxo::pipeline
