#include <cctype>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/consolelogstream.h"
#include "cli/dialogpaths.h"
#include "cli/niftioptions.h"
#include "cli/pluginsession.h"
#include "correction/pairestimation.h"
#include "fileio/headerfields.h"
#include "fileio/nifti/niftiimage.h"
#include "fileio/paths.h"
#include "pipeline/niftiestimate.h"
#include "pipeline/projectinputs.h"
#include "pipeline/reportpages.h"
#include "protocol/dialogkeys.h"

namespace daxo::cli {

extern const Command estimateCommand;

namespace {

// The groups of the option table, in its order.
enum Group { kCommon, kProjectsOnly, kNiftiOnly, kClassicOnly };

// Defaults of the flags, chosen by measurement. On nine pairs made from the
// real scans with a known displacement (up to 5 voxels, with the intensity
// change distortion brings, some with added noise), the median RMS error of
// the map was 0.11 voxels for the full estimation with correlation and
// intensity correction (range 0.06 to 0.27), 0.15 with correlation alone,
// 0.27 with squared differences and intensity correction, 0.50 with squared
// differences alone and 0.59 for the fast estimate (0.9 uncorrected). On a
// smooth pair with strong intensity change only the runs with intensity
// correction converge. The full estimation takes a few seconds on typical
// scans. Squared differences without intensity correction make the corrected
// pair agree best, better even than the true map does, by bending the map to
// match intensities, which is not accuracy. Order 0 is the only pre-filter
// with which the column-wise estimate (the fast path, and the full
// estimation's start) finds a displacement on these scans.
constexpr bool kDefaultSsd = false;
constexpr bool kDefaultIc = true;
constexpr int32_t kDefaultOrder = 0;

// --on, --off or the default (the table refuses both).
bool eitherOr(const Arguments& arguments, const std::string& on, const std::string& off, bool fallback) {
  if (arguments.has(on)) return true;
  if (arguments.has(off)) return false;
  return fallback;
}

// The plugin reads every path that does not end in ".fmr" as a DMR project; a
// NIfTI file or an upper-case ".FMR" then failed with a message about a data
// file named ".dwi". Any case of ".dmr" stays a DMR project, as before.
void requireProjectName(const std::string& path) {
  if (hasExtension(path, "fmr")) return;
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (hasExtension(lower, "dmr")) return;
  if (hasExtension(lower, "fmr")) {
    throw UsageError("estimate: " + path + ": an FMR project's name must end in .fmr (lower case)");
  }
  throw UsageError("estimate: " + path + " is not an FMR or DMR project (.fmr or .dmr)");
}

// A volume index counted from 0. The plugin would report a negative index as
// a volume past the end; on the command line it is a typing error.
int32_t volumeIndex(const Arguments& arguments, const std::string& name) {
  const int32_t index = arguments.intValue(name, 0);
  if (index < 0) {
    throw UsageError("estimate: option " + name + " needs a volume index from 0, not '" + arguments.value(name) + "'");
  }
  return index;
}

// The volume to estimate from for one project: --volumeN when given (refused
// when its b-value is above 50 unless --force), else for a project with a
// gradient table the first volume with b <= 50 (said on standard output),
// else 0. Throws std::runtime_error when the volume cannot be used.
int32_t projectVolume(const Arguments& arguments, const std::string& option, const std::string& path,
                      Console& console) {
  const std::vector<float> bValues = pipeline::projectBValues(path);
  if (arguments.has(option)) {
    const int32_t index = volumeIndex(arguments, option);
    const size_t i = static_cast<size_t>(index);
    if (i < bValues.size() && !(bValues[i] <= pipeline::kMaxEstimationBValue) && !arguments.has("--force")) {
      throw std::runtime_error("volume " + std::to_string(index) + " of " + path +
                               " has b = " + formatFloat(bValues[i]) +
                               "; estimate from a volume without diffusion weighting (b <= 50), or give --force");
    }
    return index;
  }
  if (bValues.empty()) return 0;
  for (size_t i = 0; i < bValues.size(); ++i) {
    if (bValues[i] <= pipeline::kMaxEstimationBValue) {
      console.note("daxo: estimate: " + path + ": using volume " + std::to_string(i) +
                   " (b = " + formatFloat(bValues[i]) + ")");
      return static_cast<int32_t>(i);
    }
  }
  throw std::runtime_error(path + " has no volume with b <= 50 to estimate from; choose one with " + option +
                           " and --force");
}

// The derivative order of the column-wise estimate's pre-filter: 0 plain
// smoothing, 1 or 2 the Gaussian's first or second derivative. The plugin
// reads any other number as 0; here it is refused as a typing error.
int32_t filterOrder(const Arguments& arguments) {
  const int32_t order = arguments.intValue("--order", kDefaultOrder);
  if (!isFilterOrder(order)) {
    throw UsageError("estimate: option --order needs 0, 1 or 2, not '" + arguments.value("--order") + "'");
  }
  return order;
}

// The estimation methods: the dialog's classic algorithm and the variational
// estimator, each a plugin task reading the same eleven dialog parameters.
// The variational method is the default: on every synthetic pair with a known
// field it was measured on (fields up to 7 voxels, slopes up to 0.85) its map
// was several times more accurate than the classic one's (see the README).
constexpr EstimationMethod kDefaultMethod = EstimationMethod::Variational;

EstimationMethod estimationMethod(const Arguments& arguments) {
  if (!arguments.has("--method")) return kDefaultMethod;
  const std::string& name = arguments.value("--method");
  if (name == "variational") return EstimationMethod::Variational;
  if (name == "classic") return EstimationMethod::Classic;
  throw UsageError("estimate: option --method needs variational or classic, not '" + name + "'");
}

const char* taskOf(EstimationMethod method) {
  return method == EstimationMethod::Classic ? dialogkeys::kTaskEstimate : dialogkeys::kTaskEstimateVariational;
}

// The estimation settings of either kind of input: the classic options only
// with the classic method, and (the fast estimate neither compares the scans
// with a cost nor modulates their intensities) none of the cost's with
// --fast.
EstimationOptions estimationOptions(const Arguments& arguments, const OptionTable& table) {
  EstimationOptions options;
  options.method = estimationMethod(arguments);
  const std::string classic = arguments.firstGiven(table[kClassicOnly]);
  if (options.method != EstimationMethod::Classic && !classic.empty()) {
    throw UsageError("estimate: " + classic +
                     " belongs to --method classic; the variational method has no such setting");
  }
  options.fast = arguments.has("--fast");
  for (const char* name : {"--ssd", "--ncc", "--ic", "--no-ic"}) {
    if (options.fast && arguments.has(name))
      throw UsageError(std::string("estimate: ") + name + " has no effect with --fast");
  }
  options.useSsd = eitherOr(arguments, "--ssd", "--ncc", kDefaultSsd);
  options.useIc = eitherOr(arguments, "--ic", "--no-ic", kDefaultIc);
  return options;
}

// Every dialog parameter the task reads: the plugin has no defaults of its
// own. The variational task reads the classic settings too and ignores them;
// they get the classic defaults.
TaskParameters estimateParameters(const Arguments& arguments, const EstimationOptions& options, Console& console) {
  const std::vector<std::string>& files = arguments.positionals();
  return TaskParameters()
      .set(dialogkeys::kFile0, files[0])
      .set(dialogkeys::kFile1, files[1])
      .set(dialogkeys::kVolume0, projectVolume(arguments, "--volume0", files[0], console))
      .set(dialogkeys::kVolume1, projectVolume(arguments, "--volume1", files[1], console))
      .set(dialogkeys::kRllr, arguments.has("--rllr") ? 1 : 0)
      .set(dialogkeys::kUseIc, options.useIc ? 1 : 0)
      .set(dialogkeys::kUseSsd, options.useSsd ? 1 : 0)
      .set(dialogkeys::kApplyToInput, arguments.has("--apply") ? 1 : 0)
      .set(dialogkeys::kSaveDerivative, arguments.has("--derivative") ? 1 : 0)
      .set(dialogkeys::kFastAlgorithm, options.fast ? 1 : 0)
      .set(dialogkeys::kOrder, filterOrder(arguments));
}

// The map the task set as the dialog's "vdm" parameter; "" when it set none.
std::string setVdmParameter(const TaskOutcome& outcome) {
  for (const host::ParameterChange& change : outcome.parameterChanges) {
    if (change.name == dialogkeys::kVdm) return change.value;
  }
  return "";
}

int32_t intParameter(const TaskParameters& parameters, const std::string& name) {
  for (const auto& [key, value] : parameters.ints) {
    if (key == name) return value;
  }
  return 0;
}

// The settings a report page lists for this run.
report::Rows estimationSettings(const Arguments& arguments, EstimationMethod method, Console& console) {
  std::string options;
  for (const char* flag : {"--fast", "--ssd", "--ncc", "--ic", "--no-ic", "--apply", "--derivative", "--force"}) {
    if (arguments.has(flag)) options += std::string(options.empty() ? "" : " ") + flag;
  }
  if (arguments.has("--order")) options += (options.empty() ? "--order " : " --order ") + arguments.value("--order");
  std::string elapsed = console.stamp();
  elapsed = elapsed.substr(1, elapsed.find(']') - 1);
  while (!elapsed.empty() && elapsed.front() == ' ') elapsed.erase(0, 1);
  return {{"Method", method == EstimationMethod::Classic ? "classic" : "variational"},
          {"Options", options.empty() ? "none" : options},
          {"Software", pipeline::daxoVersionText()},
          {"Time to estimate", elapsed}};
}

// A NIfTI pair: the pipeline's estimation, without the plugin.
int estimateNifti(CommandContext& context, const Arguments& arguments, const OptionTable& table) {
  pipeline::NiftiEstimateRequest request;
  request.estimation = estimationOptions(arguments, table);
  request.estimation.order = filterOrder(arguments);
  const std::string project = arguments.firstGiven(table[kProjectsOnly]);
  if (!project.empty()) {
    throw UsageError("estimate: " + project +
                     " is for project files; NIfTI pairs take the phase encoding from their sidecars or --pe0/--pe1");
  }
  request.first = arguments.positionals()[0];
  request.second = arguments.positionals()[1];
  request.volumes0 = volumeListOption(arguments, "estimate", "--volume0");
  request.volumes1 = volumeListOption(arguments, "estimate", "--volume1");
  request.more0 = arguments.values("--add0");
  request.more1 = arguments.values("--add1");
  request.motion = !arguments.has("--no-motion");
  request.acqparams = arguments.value("--acqparams");
  request.acqIndex = volumeListOption(arguments, "estimate", "--index");
  if (arguments.has("--index") && !arguments.has("--acqparams"))
    throw UsageError("estimate: --index gives rows of an --acqparams file; give that file");
  request.readoutSeconds = readoutOption(arguments, "estimate");
  request.pe0 = phaseEncodingOption(arguments, "estimate", "--pe0");
  request.pe1 = phaseEncodingOption(arguments, "estimate", "--pe1");
  request.outDir = arguments.value("--out");
  request.storage = arguments.has("--float") ? NiftiStorage::Float32 : NiftiStorage::LikeSource;
  request.apply = arguments.has("--apply");
  request.force = arguments.has("--force");
  request.reportPage = arguments.value("--report");
  if (arguments.has("--report"))
    pipeline::checkPageName("estimate", request.reportPage, {request.first, request.second});
  if (context.options.logFile) request.alsoWritten.push_back(*context.options.logFile);
  const int status =
      runLogged(context, "estimate", [&](std::ostream& log) { pipeline::estimateNiftiFiles(request, log); });
  if (status == kExitSuccess) context.console.logEntry("Done.");
  return status;
}

// The phase-encoding check of the maps the plugin wrote (a wrong axis makes
// no error in the plugin, only a map worse than none) and the report page.
int checkAndReport(CommandContext& context, const Arguments& arguments, const TaskParameters& parameters,
                   EstimationMethod method, const std::string& mapPath) {
  pipeline::ProjectPair pair{arguments.positionals()[0], arguments.positionals()[1],
                             intParameter(parameters, dialogkeys::kVolume0),
                             intParameter(parameters, dialogkeys::kVolume1), arguments.has("--rllr")};
  ConsoleLogStream log(context.console);
  std::string verdict;
  try {
    const pipeline::PhaseCheckVerdict check = pipeline::checkProjectMap(pair, mapPath, log);
    if (!check.problem.empty() && !arguments.has("--force")) {
      context.console.err() << "daxo: estimate: " << check.problem
                            << " (--force keeps them); the maps written are not to be used" << std::endl;
      return kExitFailure;
    }
    verdict = check.summary();
  } catch (const std::exception& e) {
    context.console.err() << "daxo: estimate: " << e.what() << std::endl;
    return kExitFailure;
  }
  if (!arguments.has("--report")) return kExitSuccess;
  pipeline::PairReportRequest request;
  request.mapPath = mapPath;
  request.file0 = pair.file0;
  request.file1 = pair.file1;
  request.volume0 = pair.volume0;
  request.volume1 = pair.volume1;
  request.alongX = pair.alongX;
  request.pagePath = arguments.value("--report");
  request.settings = estimationSettings(arguments, method, context.console);
  request.verdict = verdict;
  return runLogged(context, "estimate", [&](std::ostream& out) { pipeline::writePairReportPage(request, out); });
}

// A pair of projects: the plugin's estimate task, then the check.
int estimateProjects(CommandContext& context, const Arguments& arguments, const OptionTable& table) {
  const std::string nifti = arguments.firstGiven(table[kNiftiOnly]);
  if (!nifti.empty()) throw UsageError("estimate: " + nifti + " is for NIfTI images");
  const EstimationMethod method = estimationMethod(arguments);
  const std::vector<std::string>& files = arguments.positionals();
  if (arguments.has("--report")) pipeline::checkPageName("estimate", arguments.value("--report"), files);
  TaskParameters parameters;
  try {
    for (const std::string& path : files) checkDialogPath("estimate", path);
    for (const std::string& path : files) requireProjectName(path);
    pipeline::checkTwoScans(files[0], files[1]);
    parameters = estimateParameters(arguments, estimationOptions(arguments, table), context.console);
  } catch (const UsageError&) {
    throw;
  } catch (const std::exception& e) {
    context.console.err() << "daxo: estimate: " << e.what() << std::endl;
    return kExitFailure;
  }

  // The host saves maps from its current FMR document, whose maps take the
  // document's extents; the plugin fills them in the projects' own frame, so
  // the document takes the first project's stored extents.
  openHostDocument(stripExtension(fileNameOf(files[0])), pipeline::statedExtents(files[0]));
  const std::vector<TaskOutcome> outcomes =
      runPluginTaskSeries(context, taskOf(method), {parameters}, AfterFailure::Stop);
  if (outcomes.empty() || outcomes.front().failed()) return kExitFailure;
  // The task ends without an error but also without maps when the estimation
  // met not-a-number values (its log says so); a script must not take that
  // for success.
  const std::string mapPath = setVdmParameter(outcomes.front());
  if (mapPath.empty()) {
    context.console.err() << "daxo: estimate: no maps were written" << std::endl;
    return kExitFailure;
  }
  return checkAndReport(context, arguments, parameters, method, mapPath);
}

int runEstimate(CommandContext& context, const Arguments& arguments) {
  const std::vector<std::string>& files = arguments.positionals();
  if (isNiftiPath(files[0]) != isNiftiPath(files[1])) {
    throw UsageError("estimate: give two NIfTI images or two projects, not one of each");
  }
  const OptionTable& table = estimateCommand.options;
  if (!isNiftiPath(files[0])) return estimateProjects(context, arguments, table);
  return estimateNifti(context, arguments, table);
}

}  // namespace

const Command estimateCommand{
    "estimate",
    "estimate a displacement map from two opposite-direction scans",
    "Usage: daxo estimate FILE0 FILE1 [--method variational | --method classic]\n"
    "                     [--volume0 N] [--volume1 N] [--force] [--rllr] [--apply] [--derivative]\n"
    "                     [--report PAGE.html]\n"
    "                     [--fast] [--ssd | --ncc] [--ic | --no-ic] [--order N]   (classic only)\n"
    "       daxo estimate IMAGE0.nii[.gz] IMAGE1.nii[.gz] [--pe0 DIR] [--pe1 DIR] [--readout SECONDS]\n"
    "                     [--volume0 N[,N...]] [--volume1 N[,N...]] [--add0 IMAGE...] [--add1 IMAGE...]\n"
    "                     [--acqparams FILE [--index N,M]] [--no-motion] [--out FOLDER] [--apply] [--float]\n"
    "                     [--report PAGE.html]\n"
    "\n"
    "Estimates the voxel displacement map of FILE0 from one volume of FILE0 and\n"
    "one of FILE1, two projects of the same subject taken with opposite\n"
    "phase-encoding directions (FILE0 the reference, e.g. AP, FILE1 the other,\n"
    "e.g. PA). A path ending in .fmr is read as an FMR project, one ending in\n"
    ".dmr as a DMR project; other names are refused. The maps are saved beside\n"
    "the projects: FILE0's as NAME0_vdm.map, FILE1's (the negative) as\n"
    "NAME1_vdm.map. Their volumes must have the same extents. NAME0_vdm.map is\n"
    "what 'daxo apply --vdm' takes to correct further runs of the same session.\n"
    "\n"
    "Methods:\n"
    "  variational   (default) models the pair physically: both scans, unwarped\n"
    "                and rescaled by the local stretch, must agree; the smoothest\n"
    "                such map that never folds is found coarse to fine from a\n"
    "                zero field. Accurate to a few hundredths of a voxel on\n"
    "                synthetic pairs with fields up to 7 voxels, in seconds.\n"
    "  classic       the workstation dialog's algorithm: a column-wise start\n"
    "                refined in four stages of local search.\n"
    "\n"
    "NIfTI pairs (3-D or 4-D) are estimated as projects are, by either method. The\n"
    "phase-encoding direction of each comes from the BIDS sidecar beside it\n"
    "(PhaseEncodingDirection: i, i-, j, j-) or from --pe0/--pe1, which win; the\n"
    "two must run along one axis in opposite directions. Without --volume0/1 a\n"
    "4-D image with a .bval beside it is estimated from the mean of its b=0\n"
    "volumes (b <= 50), otherwise from volume 0; several volumes (its b=0\n"
    "volumes, those listed, and those of the series --add0/--add1 name) are each\n"
    "aligned rigidly to the first of their direction, the motion logged, checked\n"
    "to agree and averaged. The head's rigid motion between the two scans is\n"
    "estimated with the map (variational method; --no-motion turns it off): the\n"
    "map is the field in the space of the scan encoded toward lower index (j-,\n"
    "i-), the pair's reference in either order, so that swapping the inputs\n"
    "negates the map exactly; the motion goes to the log, the map's sidecar and\n"
    "the report page, and the other scan's corrected series lands in the\n"
    "reference's space. A shift along the phase-encoding axis cannot be told\n"
    "from a constant field, so the map takes it. The pair must be two files on\n"
    "one grid (affines within 0.1 voxel) with one readout time (within 1 %).\n"
    "Written beside IMAGE0 (or in --out FOLDER), on its grid with its affine:\n"
    "  NAME0_vdm.nii.gz       the displacement of IMAGE0 in voxels along its\n"
    "                         phase-encoding axis, positive toward higher index\n"
    "  NAME0_fieldmap.nii.gz  the field in Hz, with NAME0_fieldmap.json, when the\n"
    "                         readout time is known (sidecar TotalReadoutTime,\n"
    "                         EffectiveEchoSpacing, or --readout SECONDS)\n"
    "  with --apply           NAME0_undist.nii.gz and NAME1_undist.nii.gz, every\n"
    "                         volume corrected, in the input's data type\n"
    "                         (saturated, scaling kept) or 32-bit floats with\n"
    "                         --float, with copies of the sidecars\n",
    {{"Options:",
      {{"--method", "NAME", "variational (the default) or classic; see Methods above"},
       {"--volume0", "N",
        "volume of FILE0 to estimate from, counted from 0 (default 0; for a DMR project with a gradient table the "
        "first volume with b <= 50, which is printed); for a NIfTI image also a list such as 0,7,14"},
       {"--volume1", "N", "volume of FILE1 (default as for FILE0)"},
       {"--force", nullptr,
        "use a chosen volume even when its b-value is above 50, and keep the maps when the phase-encoding check "
        "fails"},
       {"--apply", nullptr,
        "also write corrected copies of both inputs (all volumes): run1.fmr becomes run1_undist.fmr with "
        "run1_undist.stc"},
       {"--report", "PAGE.html",
        "also write the quality report page (see 'daxo report'): the pair before and after, the map, the figures, "
        "the settings"}}},
     {"Options for projects (an error with NIfTI pairs):",
      {{"--rllr", nullptr, "the phase-encoding axis is x (left-right) instead of y"},
       {"--derivative", nullptr,
        "also save the maps' derivatives along the phase-encoding axis as NAME0_vdmderiv.map and "
        "NAME1_vdmderiv.map"}}},
     {"Options for NIfTI pairs (an error with projects):",
      {{"--pe0", "DIR", "the phase-encoding direction of IMAGE0 (i, i-, j, j-); wins over its sidecar"},
       {"--pe1", "DIR", "the same for IMAGE1"},
       {"--readout", "SECONDS", "the total readout time of both scans; wins over the sidecars"},
       {"--out", "FOLDER", "write the outputs into FOLDER (made when missing) instead of beside IMAGE0"},
       {"--float", nullptr, "write the corrected series as 32-bit floats"},
       {"--add0",
        "IMAGE",
        "a further series of IMAGE0's direction and grid, whose b=0 volumes (or volume 0) join IMAGE0's",
        {},
        true},
       {"--add1", "IMAGE", "the same for IMAGE1", {}, true},
       {"--acqparams", "FILE",
        "the field's reference tool's acquisition parameters (one row per scan: the phase-encoding vector and the "
        "readout time) for images whose sidecars lack them; where a sidecar gives them too they must agree"},
       {"--index", "N,M",
        "the rows of --acqparams for IMAGE0 and IMAGE1, counted from 1 (default 1,2 for a "
        "two-row file)"},
       {"--no-motion", nullptr,
        "do not estimate the head's motion between the two scans (the map then also takes up any motion)"}}},
     {"Options of the classic method (an error with the variational one):",
      {{"--fast", nullptr, "column-wise estimate only, smoothed: several times faster, about half as precise"},
       {"--ssd", nullptr, "the full estimation compares the scans by their mean squared difference", {"--ncc"}},
       {"--ncc", nullptr, "... by their correlation (default)"},
       {"--ic",
        nullptr,
        "the full estimation rescales the scans' intensities by the local stretch of the map before comparing them "
        "(default)",
        {"--no-ic"}},
       {"--no-ic", nullptr, "... does not"},
       {"--order", "N",
        "pre-filter of the column-wise estimate: 0 Gaussian smoothing (default), 1 or 2 its first or second "
        "derivative; try 1 when the estimation reports not-a-number values"}}}},
    "The classic defaults were chosen on pairs made from real scans with a known\n"
    "displacement, where they gave its most accurate maps. --ssd --no-ic makes\n"
    "the corrected pair look most alike, but by bending the map to match\n"
    "intensities rather than anatomy.\n"
    "\n"
    "Existing maps and corrected copies of the same names are replaced, each\n"
    "only once the new file is complete; the first file that cannot be written\n"
    "stops the run.\n"
    "\n"
    "Exit status: 0 maps written, 1 an error was reported or no maps were\n"
    "written (the classic estimation met not-a-number values), 2 bad command\n"
    "line.\n"
    "\n"
    "Examples:\n"
    "  daxo estimate sub01/b0_ap.fmr sub01/b0_pa.fmr --apply\n"
    "  daxo estimate sub-01_dir-AP_dwi.nii.gz sub-01_dir-PA_dwi.nii.gz --apply\n"
    "  daxo estimate sub01/dwi_ap.dmr sub01/dwi_pa.dmr --volume0 0 --volume1 0\n"
    "  daxo estimate sub01/b0_ap.fmr sub01/b0_pa.fmr --method classic --fast\n",
    2,
    2,
    runEstimate};

}  // namespace daxo::cli
