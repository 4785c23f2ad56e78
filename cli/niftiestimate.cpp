#include "cli/niftiestimate.h"

#include <filesystem>
#include <optional>
#include <stdexcept>

#include "cli/console.h"
#include "cli/consolelogstream.h"
#include "cli/niftioutputs.h"
#include "cli/niftiscan.h"
#include "cli/pairreportdata.h"
#include "cli/phasecheckreport.h"
#include "cli/reportpages.h"
#include "host/fftwbinding.h"

namespace daxo::cli {

namespace {

std::optional<int32_t> volumeOption(const Arguments& arguments, const std::string& name) {
  if (!arguments.has(name)) return std::nullopt;
  const int32_t index = arguments.intValue(name, 0);
  if (index < 0) throw UsageError("estimate: option " + name + " needs a volume index from 0");
  return index;
}

void refuseProjectOnlyOptions(const Arguments& arguments) {
  for (const char* name : {"--rllr", "--derivative"}) {
    if (arguments.has(name)) {
      throw UsageError(std::string("estimate: ") + name +
                       " is for project files; NIfTI pairs take the phase encoding from their sidecars or "
                       "--pe0/--pe1");
    }
  }
}

}  // namespace

NiftiPairEstimate estimateNiftiPair(const NiftiScan& first, const NiftiScan& second, std::optional<int32_t> volume0,
                                    std::optional<int32_t> volume1, const EstimationOptions& options,
                                    Console& console) {
  EstimationVolume v0 = estimationVolume(first, volume0, "--volume0");
  EstimationVolume v1 = estimationVolume(second, volume1, "--volume1");
  console.logEntry("Estimating from " + v0.description + " of " + first.path + " (" +
                   phaseEncodingText(first.phaseEncoding) + ") and " + v1.description + " of " + second.path + " (" +
                   phaseEncodingText(second.phaseEncoding) + ")...");
  ConsoleLogStream log(console);
  const Volume working0 = toWorkingFrame(v0.volume, first.phaseEncoding);
  const Volume working1 = toWorkingFrame(v1.volume, second.phaseEncoding);
  // The classic method smooths through the core's FFT table, which in the
  // plugin the host fills; here daxo fills its own copy with FFTW.
  bindFft(fftwFunctions());
  const std::optional<Volume> estimated = estimatePairMap(working0, working1, workingVoxelSize(first), options, log);
  if (!estimated) throw std::runtime_error("no map was estimated (see the log); nothing was written");
  const std::string given = first.phaseEncoding.axis == 0 ? "i" : "j";
  PhaseCheckVerdict check = checkPhaseEncoding(working0, working1, *estimated, given, given == "i" ? "j" : "i",
                                               "PhaseEncodingDirection or --pe0/--pe1", console);
  return {std::move(v0), std::move(v1), fromWorkingFrame(*estimated, first.phaseEncoding), std::move(check)};
}

report::PairReportInputs niftiPairReportInputs(const NiftiScan& first, const NiftiScan& second,
                                               const NiftiPairEstimate& estimate, const std::string& mapPath,
                                               const EstimationOptions& options) {
  report::PairReportInputs in = pairReportInputs(estimate.volume0.volume, estimate.volume1.volume, estimate.map,
                                                 first.image.voxelSize(), first.phaseEncoding.axis == 0);
  if (first.readout) in.hzPerVoxel = first.phaseEncoding.sign / first.readout->seconds;
  in.title = "Distortion correction: " + std::filesystem::path(first.path).filename().string() + " and " +
             std::filesystem::path(second.path).filename().string();
  in.verdict = estimate.check.summary();
  in.settings = {
      {"First scan", first.path + ", " + estimate.volume0.description + ", " + phaseEncodingText(first.phaseEncoding)},
      {"Second scan",
       second.path + ", " + estimate.volume1.description + ", " + phaseEncodingText(second.phaseEncoding)},
      {"Map", mapPath},
      {"Method", options.method == EstimationMethod::Classic ? "classic" : "variational"},
      {"Software", daxoVersionText()}};
  return in;
}

int runNiftiEstimate(CommandContext& context, const Arguments& arguments, const EstimationOptions& options) {
  refuseProjectOnlyOptions(arguments);
  const std::string& path0 = arguments.positionals()[0];
  const std::string& path1 = arguments.positionals()[1];
  const std::optional<int32_t> volume0 = volumeOption(arguments, "--volume0");
  const std::optional<int32_t> volume1 = volumeOption(arguments, "--volume1");
  const std::optional<double> readout = readoutOption(arguments, "estimate");
  const std::string outDir = arguments.value("--out");
  const NiftiStorage storage = arguments.has("--float") ? NiftiStorage::Float32 : NiftiStorage::LikeSource;
  if (arguments.has("--report")) checkPageName("estimate", arguments.value("--report"), {path0, path1});
  Console& console = context.console;
  try {
    if (!outDir.empty() && !std::filesystem::is_directory(outDir)) {
      throw std::runtime_error("the output folder " + outDir + " does not exist");
    }
    const NiftiScan first = openNiftiScan(path0, arguments.value("--pe0"), "--pe0", readout);
    const NiftiScan second = openNiftiScan(path1, arguments.value("--pe1"), "--pe1", readout);
    checkOppositePair(first, second);
    const NiftiPairEstimate estimate = estimateNiftiPair(first, second, volume0, volume1, options, console);
    const Volume& map = estimate.map;
    const PhaseCheckVerdict& check = estimate.check;
    if (!check.problem.empty()) {
      if (!arguments.has("--force")) throw std::runtime_error(check.problem + "; nothing was written");
      console.logEntry("Phase-encoding check failed, written anyway (--force): " + check.problem);
    }

    const std::string mapPath = niftiOutputPath(path0, "_vdm.nii.gz", outDir);
    writeDisplacementMap(mapPath, first, map);
    console.logEntry("Displacement map (voxels) saved as: " + mapPath);
    if (first.readout) {
      const std::string fieldPath = niftiOutputPath(path0, "_fieldmap.nii.gz", outDir);
      writeFieldMap(fieldPath, first, map, *first.readout, path1);
      console.logEntry("Field map (Hz, readout time " + std::to_string(first.readout->seconds) + " s from " +
                       first.readout->source + ") saved as: " + fieldPath);
    } else {
      console.logEntry("No readout time for " + path0 +
                       " (no TotalReadoutTime or EffectiveEchoSpacing in its sidecar, no --readout): the field "
                       "in Hz is not written.");
    }
    if (arguments.has("--apply")) {
      ConsoleLogStream log(console);
      writeCorrectedSeries(niftiOutputPath(path0, "_undist.nii.gz", outDir), first, map, storage, false, mapPath, log);
      writeCorrectedSeries(niftiOutputPath(path1, "_undist.nii.gz", outDir), second, map * -1.0f, storage, false,
                           mapPath, log);
    }
    if (arguments.has("--report")) {
      writeReportPage(arguments.value("--report"), niftiPairReportInputs(first, second, estimate, mapPath, options),
                      console);
    }
  } catch (const UsageError&) {
    throw;
  } catch (const std::exception& e) {
    console.err() << "daxo: estimate: " << e.what() << std::endl;
    return kExitFailure;
  }
  console.logEntry("Done.");
  return kExitSuccess;
}

}  // namespace daxo::cli
