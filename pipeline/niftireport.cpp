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
#include "pipeline/phasecheck.h"
#include "pipeline/reportpages.h"
#include "report/pairreport.h"
#include "volume/fftw/fftwbinding.h"

namespace daxo::pipeline {

namespace {

// The second scan's motion a displacement map's sidecar records, along the
// image axes; none when it records none.
std::optional<RigidMotion> recordedMotion(const std::string& mapPath) {
  std::ifstream in(outputSidecarPath(mapPath));
  if (!in) return std::nullopt;
  const nlohmann::json sidecar = nlohmann::json::parse(in, nullptr, false);
  if (sidecar.is_discarded() || !sidecar.contains("MotionOfSecondScan")) return std::nullopt;
  try {
    RigidMotion motion;
    motion.rotationDegrees = sidecar["MotionOfSecondScan"]["RotationDegrees"].get<std::array<double, 3>>();
    motion.translationMm = sidecar["MotionOfSecondScan"]["TranslationMm"].get<std::array<double, 3>>();
    return motion;
  } catch (const nlohmann::json::exception&) {
    throw std::runtime_error(outputSidecarPath(mapPath) +
                             ": MotionOfSecondScan needs RotationDegrees and TranslationMm, three numbers each");
  }
}

}  // namespace

void writeNiftiPairReportPage(const NiftiPairReportRequest& r, std::ostream& log) {
  const NiftiScan first = openNiftiScan(r.first, r.pe0, "--pe0", r.readoutSeconds);
  const NiftiScan second = openNiftiScan(r.second, r.pe1, "--pe1", r.readoutSeconds);
  checkOppositePair(first, second);
  const MapSource source = readMapSource(r.mapPath, MapUnits::Voxels);
  std::string note;
  Volume map = displacementForSeries(source, first, note);
  if (!note.empty()) log << note << std::flush;
  NiftiPairEstimate pair{estimationVolume(first, VolumeSelection{r.volumes0, {}, "--volume0"}, &log),
                         estimationVolume(second, VolumeSelection{r.volumes1, {}, "--volume1"}, &log),
                         map,
                         {},
                         recordedMotion(r.mapPath)};
  const Volume working0 = toWorkingFrame(pair.volume0.volume, first.phaseEncoding);
  Volume working1 = toWorkingFrame(pair.volume1.volume, second.phaseEncoding);
  Volume workingMap = toWorkingFrame(map, first.phaseEncoding);
  if (pair.motion) {
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
