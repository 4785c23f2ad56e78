#include "pipeline/niftireport.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "correction/pairmotion.h"
#include "fileio/paths.h"
#include "pipeline/niftiestimate.h"
#include "pipeline/niftioutputs.h"
#include "pipeline/niftiscan.h"
#include "pipeline/outputnames.h"
#include "pipeline/phasecheck.h"
#include "pipeline/reportpages.h"
#include "report/pairreport.h"
#include "volume/fftw/fftwbinding.h"

namespace daxo::pipeline {

void writeNiftiPairReportPage(const NiftiPairReportRequest& r, std::ostream& log) {
  // The page and the log must not land on the map, the scans or a file
  // beside them (a sidecar, .bval or .bvec) that later runs read.
  std::vector<std::string> inputs;
  for (const std::string& image : {r.mapPath, r.first, r.second}) {
    for (const std::string& file : niftiInputFiles(image)) inputs.push_back(file);
  }
  std::vector<std::string> outputs{r.pagePath};
  outputs.insert(outputs.end(), r.alsoWritten.begin(), r.alsoWritten.end());
  checkOutputNames("report", inputs, outputs);
  const NiftiScan first = openNiftiScan(r.first, r.pe0, "--pe0", r.readoutSeconds);
  const NiftiScan second = openNiftiScan(r.second, r.pe1, "--pe1", r.readoutSeconds);
  checkOppositePair(first, second);
  const MapSource source = readMapSource(r.mapPath, MapUnits::Voxels);
  std::string note;
  Volume map = displacementForSeries(source, first, note);
  if (!note.empty()) log << note << std::flush;
  bool firstMoved = false;
  const std::optional<RigidMotion> motion = recordedMotion(r.mapPath, firstMoved);
  NiftiPairEstimate pair{estimationVolume(first, VolumeSelection{r.volumes0, {}, "--volume0"}, &log),
                         estimationVolume(second, VolumeSelection{r.volumes1, {}, "--volume1"}, &log),
                         map,
                         {},
                         motion,
                         firstMoved && motion};
  Volume working0 = toWorkingFrame(pair.volume0.volume, first.phaseEncoding);
  Volume working1 = toWorkingFrame(pair.volume1.volume, second.phaseEncoding);
  Volume workingMap = toWorkingFrame(map, first.phaseEncoding);
  if (pair.motion && pair.firstMoved) {
    // The map is the field in the second scan's space: the first is moved
    // there, its distortion (the negated map's) kept along its axis.
    const RigidMotion workingMotion = first.phaseEncoding.axis == 0 ? swappedXY(*pair.motion) : *pair.motion;
    Volume secondMap = workingMap * -1.0f;
    working0 = movedSecondScan(working0, workingVoxelSize(first), workingMotion, &secondMap);
    pair.volume0.volume = fromWorkingFrame(working0, first.phaseEncoding);
    pair.volume0.description += ", moved into the second scan's space";
  } else if (pair.motion) {
    const RigidMotion workingMotion = first.phaseEncoding.axis == 0 ? swappedXY(*pair.motion) : *pair.motion;
    working1 = movedSecondScan(working1, workingVoxelSize(first), workingMotion, &workingMap);
    pair.volume1.volume = fromWorkingFrame(working1, second.phaseEncoding);
    pair.volume1.description += ", moved into the first scan's space";
  }
  bindFft(fftwFunctions());
  const std::string given = first.phaseEncoding.axis == 0 ? "i" : "j";
  pair.check = checkPhaseEncoding(working0, working1, workingMap,
                                  {given, given == "i" ? "j" : "i", "PhaseEncodingDirection or --pe0/--pe1"}, log);
  report::PairReportInputs in = niftiPairReportInputs(first, second, pair, r.mapPath, EstimationOptions{});
  // The method is not known afterwards; the row would claim the default.
  in.settings.erase(
      std::remove_if(in.settings.begin(), in.settings.end(), [](const auto& row) { return row.first == "Method"; }),
      in.settings.end());
  writeReportPage(r.pagePath, in, log);
}

void writeNiftiSeriesReportPage(const NiftiApplyRequest& request, const std::string& pagePath, std::ostream& log) {
  const MapSource map = readMapSource(request.mapPath, request.mapUnits);
  const auto rows = acquisitionEntries(request.acqparams, request.acqIndex, request.series.size());
  report::SeriesReportInputs in;
  in.title = "Corrected series";
  for (size_t k = 0; k < request.series.size(); ++k) {
    const std::string& path = request.series[k];
    const std::string corrected = niftiOutputPath(path, kCorrectedSuffix, request.outDir);
    if (!std::filesystem::exists(corrected)) continue;
    const NiftiScan series = openNiftiScan(path, request.pe, "--pe", request.readoutSeconds, rows[k]);
    std::string note;
    Volume applied = displacementForSeries(map, series, note);
    if (in.series.empty()) {
      in.voxelSizeMm = series.image.voxelSize();
      in.phaseAxis = series.phaseEncoding.axis;
      in.orientation = series.image.orientationCode();
    }
    in.series.push_back({std::filesystem::path(path).filename().string(), series.image.readVolume(0),
                         NiftiImage::open(corrected).readVolume(0), std::move(applied)});
  }
  if (in.series.empty()) throw std::runtime_error("no corrected copy to show in " + pagePath);
  in.settings = {{request.mapUnits == MapUnits::Hz ? "Field map (Hz)" : "Displacement map", request.mapPath},
                 {"Jacobian modulation", request.jacobian ? "yes" : "no"},
                 {"Software", daxoVersionText()}};
  writePage(pagePath, report::seriesReportHtml(in));
  log << "Report written to " << pagePath << std::flush;
}

}  // namespace daxo::pipeline
