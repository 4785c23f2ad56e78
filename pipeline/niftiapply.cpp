#include "pipeline/niftiapply.h"

#include <filesystem>
#include <stdexcept>

#include "correction/fieldresample.h"
#include "fileio/nifti/niftiimage.h"
#include "fileio/paths.h"
#include "pipeline/niftioutputs.h"
#include "pipeline/niftiscan.h"
#include "pipeline/outputnames.h"
#include "volume/volumetransform.h"

namespace daxo::pipeline {

namespace {

Volume scaled(const Volume& v, double factor) {
  Volume out(v.dimensions());
  for (size_t i = 0; i < v.voxelCount(); ++i) out.data()[i] = static_cast<float>(v.data()[i] * factor);
  return out;
}

}  // namespace

MapSource readMapSource(const std::string& path, MapUnits units) {
  const bool inHz = units == MapUnits::Hz;
  const NiftiImage image = NiftiImage::open(path);
  MapSource map;
  map.path = path;
  map.values = image.readVolume(0);
  map.extents = image.extents();
  map.affine = image.affine();
  map.units = units;
  const std::string json = sidecarPathOf(path);
  if (!inHz && std::filesystem::exists(json)) {
    const BidsSidecar sidecar = readBidsSidecar(json);
    map.phaseEncoding = sidecar.phaseEncodingDirection;
    map.readoutSeconds = sidecar.totalReadoutTime;
  }
  if (!inHz && !map.phaseEncoding) {
    throw std::runtime_error(path + " has no sidecar (" + json +
                             ") giving the phase-encoding direction it belongs to; daxo estimate writes one");
  }
  return map;
}

Volume displacementForSeries(const MapSource& map, const NiftiScan& series, std::string& note) {
  const Dimensions extents = series.image.extents();
  const Affine affine = series.image.affine();
  const bool same = sameGrid(map.extents, map.affine, extents, affine);
  const auto carried = [&](const Volume& field) {
    return same ? field : resampleThroughAffines(field, map.affine, extents, affine);
  };
  const std::optional<double> readout = series.readout ? std::optional<double>(series.readout->seconds) : std::nullopt;
  if (map.units == MapUnits::Hz) {
    if (!readout) {
      throw std::runtime_error(series.path + " has no readout time (TotalReadoutTime or EffectiveEchoSpacing in its " +
                               "sidecar): give --readout to apply a field in Hz");
    }
    return scaled(carried(map.values), series.phaseEncoding.sign * *readout);
  }
  const PhaseEncodingDirection& pe = *map.phaseEncoding;
  if (same && pe.axis == series.phaseEncoding.axis) {
    const double polarity = pe.sign == series.phaseEncoding.sign ? 1.0 : -1.0;
    const double ratio = readout && map.readoutSeconds ? *readout / *map.readoutSeconds : 1.0;
    return scaled(map.values, polarity * ratio);
  }
  if (readout && map.readoutSeconds) {
    const Volume field = scaled(map.values, pe.sign / *map.readoutSeconds);
    return scaled(carried(field), series.phaseEncoding.sign * *readout);
  }
  if (pe.axis != series.phaseEncoding.axis) {
    throw std::runtime_error(map.path + " displaces along " + phaseEncodingText(pe) + " but " + series.path +
                             " is encoded along " + phaseEncodingText(series.phaseEncoding) +
                             ": carrying the map needs both readout times (sidecars or --readout)");
  }
  // Say whose readout time is missing: the other may well have one.
  const std::string missing = !readout && !map.readoutSeconds ? map.path + " and " + series.path
                              : !readout                      ? series.path
                                                              : map.path;
  note = "No readout time for " + missing +
         ": the same field of view is assumed and the map stretched to the series' extents.";
  Volume stretched(extents);
  resampleToSize(stretched, map.values);
  return scaled(stretched, pe.sign == series.phaseEncoding.sign ? 1.0 : -1.0);
}

void applyNiftiMap(const NiftiApplyRequest& request, std::ostream& log) {
  std::vector<std::string> inputs = niftiInputFiles(request.mapPath);
  std::vector<std::string> outputs;
  for (const std::string& path : request.series) {
    for (const std::string& file : niftiInputFiles(path)) inputs.push_back(file);
    const std::string corrected = niftiOutputPath(path, kCorrectedSuffix, request.outDir);
    outputs.push_back(corrected);
    outputs.push_back(outputSidecarPath(corrected));
    outputs.push_back(bvalPathOf(corrected));
    outputs.push_back(bvecPathOf(corrected));
  }
  if (!request.acqparams.empty()) inputs.push_back(request.acqparams);
  outputs.insert(outputs.end(), request.alsoWritten.begin(), request.alsoWritten.end());
  checkOutputNames("apply", inputs, outputs);
  checkOutputFolder(request.outDir);
  const MapSource map = readMapSource(request.mapPath, request.mapUnits);
  // The motion belongs to the estimation's own pair, not to other runs, so
  // no series is moved here; said, since `estimate --apply` moved one.
  bool firstMoved = false;
  if (const std::optional<RigidMotion> motion = recordedMotion(request.mapPath, firstMoved)) {
    log << request.mapPath << " records the head's motion between the scans it was estimated from ("
        << motionDescription(*motion) << "); no series is moved here: 'daxo estimate --apply' corrects the moved "
        << "scan of that pair into the other's space" << std::flush;
  }
  const auto rows = acquisitionEntries(request.acqparams, request.acqIndex, request.series.size());
  createOutputFolder(request.outDir);
  for (size_t k = 0; k < request.series.size(); ++k) {
    const std::string& path = request.series[k];
    const NiftiScan series = openNiftiScan(path, request.pe, "--pe", request.readoutSeconds, rows[k]);
    std::string note;
    const Volume displacement = displacementForSeries(map, series, note);
    if (!note.empty()) log << note << std::flush;
    CorrectedSeries output;
    output.path = niftiOutputPath(path, kCorrectedSuffix, request.outDir);
    output.storage = request.storage;
    output.jacobian = request.jacobian;
    output.mapPath = pathFromOutput(request.mapPath, output.path);
    output.mapIsField = request.mapUnits == MapUnits::Hz;
    writeCorrectedSeries(series, displacement, output, log);
  }
}

}  // namespace daxo::pipeline
