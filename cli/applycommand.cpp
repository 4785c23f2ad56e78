#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/consolelogstream.h"
#include "cli/dialogpaths.h"
#include "cli/niftioptions.h"
#include "cli/pluginsession.h"
#include "fileio/nifti/niftiimage.h"
#include "fileio/paths.h"
#include "fileio/platformfile.h"
#include "host/hoststate.h"
#include "pipeline/niftiapply.h"
#include "pipeline/niftireport.h"
#include "pipeline/niftirestore.h"
#include "pipeline/projectinputs.h"
#include "pipeline/reportpages.h"
#include "protocol/dialogkeys.h"

namespace daxo::cli {

extern const Command applyCommand;

namespace {

// The groups of the option table, in its order.
enum Group { kCommon, kProjectsOnly, kNiftiOnly };

bool isProject(const std::string& path) { return hasExtension(path, "fmr") || hasExtension(path, "dmr"); }

// The plugin's question about stretching the map names neither the files nor
// the extents; they are said here first, for every project whose header
// states other extents than the map's. Headers that cannot be read are left
// for the plugin to report.
void noteMismatchedExtents(const std::string& mapPath, const std::vector<std::string>& projects, Console& console) {
  const std::optional<Dimensions> mapExtents = pipeline::statedMapExtents(mapPath);
  if (!mapExtents) return;
  for (const std::string& path : projects) {
    if (!isProject(path)) continue;
    const std::optional<Dimensions> extents = pipeline::statedExtents(path);
    if (!extents || *extents == *mapExtents) continue;
    console.err() << "daxo: apply: " << path << " has " << extents->x << " x " << extents->y << " x " << extents->z
                  << " voxels, the map " << mapPath << " " << mapExtents->x << " x " << mapExtents->y << " x "
                  << mapExtents->z << std::endl;
  }
}

// The plugin reports a map file that is not one, or ends early, without its
// name; of the files apply reads only the map gives this message.
void nameUnreadableMap(const TaskOutcome& outcome, const std::string& mapPath, Console& console) {
  for (const std::string& text : outcome.messageBoxes) {
    if (text == "Error: error reading from binary file") {
      console.err() << "daxo: apply: " << mapPath << " is not a map file or ends early" << std::endl;
    }
  }
}

host::YesNoPolicy resizePolicy(const Arguments& arguments) {
  if (arguments.has("--yes")) return host::YesNoPolicy::alwaysYes;
  if (arguments.has("--no")) return host::YesNoPolicy::alwaysNo;
  return host::YesNoPolicy::askOnTerminal;
}

// The plugin passes over other paths without a word; on the command line
// that is more likely a typing error, so it is pointed out.
void noteSkippedPaths(const std::vector<std::string>& paths, Console& console) {
  for (const std::string& path : paths) {
    if (!isProject(path)) console.err() << "daxo: apply: skipping " << path << " (neither .fmr nor .dmr)" << std::endl;
  }
}

// Two series of opposite polarity restored into one (--lsr).
int restoreNifti(CommandContext& context, const Arguments& arguments, const pipeline::NiftiApplyRequest& apply) {
  if (apply.series.size() != 2) throw UsageError("apply: --lsr restores two series of opposite polarity into one");
  for (const char* name : {"--pe", "--jacobian"})
    if (arguments.has(name)) throw UsageError(std::string("apply: ") + name + " is not for --lsr");
  pipeline::NiftiRestoreRequest request;
  request.mapPath = apply.mapPath;
  request.mapUnits = apply.mapUnits;
  request.first = apply.series[0];
  request.second = apply.series[1];
  request.readoutSeconds = apply.readoutSeconds;
  request.acqparams = apply.acqparams;
  request.acqIndex = apply.acqIndex;
  request.outDir = apply.outDir;
  request.storage = apply.storage;
  request.alsoWritten = apply.alsoWritten;
  const int status = runLogged(context, "apply", [&](std::ostream& log) { pipeline::restoreNiftiPair(request, log); });
  if (status == kExitSuccess) context.console.logEntry("Done.");
  return status;
}

// NIfTI series with a NIfTI map: the pipeline's correction, without the
// plugin.
int applyToNifti(CommandContext& context, const Arguments& arguments, const OptionTable& table) {
  pipeline::NiftiApplyRequest request;
  request.mapUnits = arguments.has("--fieldmap") ? pipeline::MapUnits::Hz : pipeline::MapUnits::Voxels;
  request.mapPath = arguments.value(arguments.has("--fieldmap") ? "--fieldmap" : "--vdm");
  request.series = arguments.positionals();
  for (const std::string& path : request.series) {
    if (!isNiftiPath(path)) throw UsageError("apply: a NIfTI map corrects NIfTI series; " + path + " is none");
  }
  const std::string project = arguments.firstGiven(table[kProjectsOnly]);
  if (!project.empty()) throw UsageError("apply: " + project + " is for project files");
  request.readoutSeconds = readoutOption(arguments, "apply");
  request.pe = phaseEncodingOption(arguments, "apply", "--pe");
  request.outDir = arguments.value("--out");
  request.storage = arguments.has("--float") ? NiftiStorage::Float32 : NiftiStorage::LikeSource;
  request.jacobian = arguments.has("--jacobian");
  request.acqparams = arguments.value("--acqparams");
  request.acqIndex = volumeListOption(arguments, "apply", "--index");
  if (arguments.has("--index") && !arguments.has("--acqparams"))
    throw UsageError("apply: --index gives rows of an --acqparams file; give that file");
  if (context.options.logFile) request.alsoWritten.push_back(*context.options.logFile);
  if (arguments.has("--lsr")) {
    if (arguments.has("--report")) throw UsageError("apply: --report is not for --lsr");
    return restoreNifti(context, arguments, request);
  }
  const std::string page = arguments.value("--report");
  if (!page.empty()) {
    std::vector<std::string> inputs = request.series;
    inputs.push_back(request.mapPath);
    pipeline::checkPageName("apply", page, inputs);
    request.alsoWritten.push_back(page);
  }
  const int status = runLogged(context, "apply", [&](std::ostream& log) {
    pipeline::applyNiftiMap(request, log);
    if (!page.empty()) pipeline::writeNiftiSeriesReportPage(request, page, log);
  });
  if (status == kExitSuccess) context.console.logEntry("Done.");
  return status;
}

// The plugin's apply task on every project, in runs of as many paths as one
// dialog parameter holds.
int applyToProjects(CommandContext& context, const Arguments& arguments, const OptionTable& table) {
  if (!arguments.has("--vdm")) throw UsageError("apply: --vdm MAP is required");
  const std::string nifti = arguments.firstGiven(table[kNiftiOnly]);
  if (!nifti.empty()) throw UsageError("apply: " + nifti + " is for NIfTI series");
  const std::string mapPath = arguments.value("--vdm");
  checkDialogPath("apply", mapPath);
  const std::vector<std::string>& projects = arguments.positionals();
  for (const std::string& path : projects) checkDialogPath("apply", path);
  // One project listed twice (or under two names) would be corrected and
  // written twice, the second time over the first's output.
  for (size_t k = 0; k < projects.size(); ++k) {
    const platform::FileIdentity id = platform::identityOf(projects[k]);
    for (size_t j = 0; j < k; ++j) {
      if (projects[j] == projects[k] || (id.known && id == platform::identityOf(projects[j]))) {
        throw UsageError("apply: " + projects[k] + " is listed twice (also as " + projects[j] + ")");
      }
    }
  }
  const host::YesNoPolicy policy = resizePolicy(arguments);
  if (arguments.has("--report")) {
    std::vector<std::string> inputs = projects;
    inputs.push_back(mapPath);
    pipeline::checkPageName("apply", arguments.value("--report"), inputs);
  }

  host::hostState().yesNo.setPolicy(policy);
  // The host shows a map in its current FMR document, so one must be open:
  // it is named after the map and takes the map's extents when its header
  // can be read (a map that cannot be read is left for the plugin to report).
  openHostDocument(stripExtension(fileNameOf(mapPath)), pipeline::statedMapExtents(mapPath));
  noteSkippedPaths(projects, context.console);
  noteMismatchedExtents(mapPath, projects, context.console);
  // The plugin says "Done." also when it passed over every path; nothing
  // corrected is no success.
  if (std::none_of(projects.begin(), projects.end(), isProject)) {
    context.console.err() << "daxo: apply: nothing to correct: no path ends in .fmr or .dmr" << std::endl;
    return kExitFailure;
  }
  std::vector<TaskParameters> runs;
  for (const std::string& files : packFileLists(projects)) {
    runs.push_back(TaskParameters()
                       .set(dialogkeys::kRllr, arguments.has("--rllr") ? 1 : 0)
                       .set(dialogkeys::kVdm, mapPath)
                       .set(dialogkeys::kFiles, files));
  }
  const std::vector<TaskOutcome> outcomes =
      runPluginTaskSeries(context, dialogkeys::kTaskApply, runs, AfterFailure::Stop);
  const bool failed = outcomes.size() != runs.size() || outcomes.back().failed();
  if (!outcomes.empty()) nameUnreadableMap(outcomes.back(), mapPath, context.console);
  if (failed && policy != host::YesNoPolicy::alwaysYes && !host::hostState().yesNo.questions().empty()) {
    context.console.err() << "daxo: apply: the extents of a project differ from the map's; give --yes to stretch "
                             "the map to them (same field of view assumed)"
                          << std::endl;
  }
  if (failed) return kExitFailure;
  if (!arguments.has("--report")) return kExitSuccess;
  const pipeline::SeriesReportRequest request{mapPath,
                                              projects,
                                              arguments.has("--rllr"),
                                              arguments.value("--report"),
                                              {{"Software", pipeline::daxoVersionText()}}};
  return runLogged(context, "apply", [&](std::ostream& log) { pipeline::writeSeriesReportPage(request, log); });
}

int runApply(CommandContext& context, const Arguments& arguments) {
  const OptionTable& table = applyCommand.options;
  if (arguments.has("--fieldmap") || isNiftiPath(arguments.value("--vdm"))) {
    return applyToNifti(context, arguments, table);
  }
  return applyToProjects(context, arguments, table);
}

}  // namespace

const Command applyCommand{
    "apply",
    "correct NIfTI series or projects with a saved map",
    "Usage: daxo apply --vdm MAP [--rllr] [--yes | --no] [--report PAGE.html] PROJECT...\n"
    "       daxo apply (--vdm MAP.nii.gz | --fieldmap FIELD.nii.gz) [--pe DIR] [--readout SECONDS]\n"
    "                  [--acqparams FILE [--index N,...]] [--jacobian] [--float] [--out FOLDER]\n"
    "                  [--report PAGE.html] SERIES.nii.gz...\n"
    "       daxo apply (--vdm MAP.nii.gz | --fieldmap FIELD.nii.gz) --lsr SERIES0.nii.gz SERIES1.nii.gz\n"
    "                  [--readout SECONDS] [--acqparams FILE [--index N,M]] [--float] [--out FOLDER]\n"
    "\n"
    "Corrects every volume of each PROJECT (an .fmr or .dmr header with its\n"
    "data file) with the displacement map MAP and writes the corrected copy\n"
    "beside it: run1.fmr becomes run1_undist.fmr with run1_undist.stc. The\n"
    "copy refers to no anatomical file. Paths with another extension (also\n"
    "upper-case .FMR or .DMR) are skipped; when all are, nothing is done and\n"
    "the exit status is 1. The first failure stops the run; copies written\n"
    "before it stay. A copy is written to a temporary file beside its final\n"
    "name and replaces an earlier copy only once complete; a link, pipe or\n"
    "device at a copy's name, or a name that is one of the inputs, is refused.\n"
    "When a project's extents differ from the map's, --yes stretches the map,\n"
    "--no stops; without either the question is asked on the terminal, and\n"
    "without a terminal the answer is no.\n"
    "\n"
    "NIfTI series are corrected with a NIfTI map: NAME_vdm.nii.gz from 'daxo\n"
    "estimate' (its sidecar gives the scan's phase-encoding direction and\n"
    "readout time) or a field in Hz (--fieldmap). Each series' own direction\n"
    "and readout time come from its sidecar, or --pe and --readout. On the\n"
    "map's grid and axis the map is used as it is (negated for the opposite\n"
    "polarity); otherwise the field in Hz is carried through the two affines\n"
    "and converted with the series' readout time and direction; without\n"
    "readout times the same field of view is assumed, as for projects, and\n"
    "said. Each series is written as NAME_undist.nii.gz beside it or in --out\n"
    "FOLDER, one volume at a time, with its sidecar copied.\n"
    "\n"
    "With --lsr two series taken with opposite polarity (the same volumes in\n"
    "the same order, checked through their .bval and .bvec) are restored into\n"
    "one by least squares: each pair of volumes gives the undistorted volume\n"
    "whose two distortions best match them, so detail that one scan compressed\n"
    "comes from the other, which stretched it. Written as NAME0_lsr.nii.gz with\n"
    "SERIES0's sidecar, .bval and .bvec.\n",
    {{"Options:",
      {{"--vdm", "MAP", "the displacement map (NAME_vdm.map or NAME_vdm.nii.gz from the estimation)", {"--fieldmap"}},
       {"--report", "PAGE.html",
        "also write a report page: the first volume of each project or series before and after correction, and "
        "the map"}}},
     {"Options for projects (an error with NIfTI series):",
      {{"--rllr", nullptr, "the phase-encoding axis is x (left-right): the map is applied along x"},
       {"--yes",
        nullptr,
        "when a project's extents differ from the map's, stretch the map to the project's extents (same field of "
        "view assumed)",
        {"--no"}},
       {"--no", nullptr, "when they differ, stop with an error"}}},
     {"Options for NIfTI series (an error with projects):",
      {{"--fieldmap", "FIELD", "a field in Hz (NIfTI) instead of a displacement map"},
       {"--pe", "DIR", "the series' phase-encoding direction (i, i-, j, j-); wins over their sidecars"},
       {"--readout", "SECONDS", "the series' total readout time; wins over their sidecars"},
       {"--out", "FOLDER", "write the corrected series into FOLDER (made when missing) instead of beside each"},
       {"--float", nullptr, "write 32-bit floats instead of the input's data type"},
       {"--lsr", nullptr,
        "restore the two series given, of opposite polarity, into one by least squares (NAME0_lsr.nii.gz)"},
       {"--acqparams", "FILE",
        "the field's reference tool's acquisition parameters (one row per scan: the phase-encoding vector and "
        "the readout time) for series whose sidecars lack them; where a sidecar gives them too they must agree"},
       {"--index", "N,...",
        "the row of --acqparams for each series, counted from 1 (default: row k for series k "
        "when the file has one row per series)"},
       {"--jacobian", nullptr,
        "multiply each corrected volume by the Jacobian of the correction, which restores the signal a stretch "
        "spread out (for quantitative intensities, and to compare the two scans of a pair)"}}}},
    "A path may have at most 511 characters and no line feed. Lists longer\n"
    "than the plugin takes at once are corrected in several runs.\n"
    "\n"
    "Exit status: 0 all corrected, 1 an error was reported or nothing was\n"
    "corrected, 2 bad command line.\n"
    "\n"
    "Example:\n"
    "  daxo apply --vdm sub01/run1_vdm.map --yes sub01/run1.fmr sub01/run2.fmr sub01/dwi.dmr\n"
    "  daxo apply --vdm sub01/b0_ap_vdm.map --report sub01/runs.html sub01/run1.fmr\n"
    "  daxo apply --vdm sub-01_dir-AP_epi_vdm.nii.gz sub-01_task-rest_bold.nii.gz\n",
    1,
    SIZE_MAX,
    runApply};

}  // namespace daxo::cli
