#include <climits>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/dialogpaths.h"
#include "cli/niftiapply.h"
#include "cli/pluginsession.h"
#include "cli/reportpages.h"
#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "fileio/mapfile.h"
#include "fileio/nifti/niftiimage.h"
#include "fileio/paths.h"
#include "host/hoststate.h"
#include "protocol/dialogkeys.h"

namespace daxo::cli {

namespace {

// The host shows a map in its current FMR document, so one must be open: it
// is named after the map and takes the map's extents when its header can be
// read. A map that cannot be read is left for the plugin to report.
void openDocumentFor(const std::string& mapPath) {
  Dimensions extents{1, 1, 1};
  try {
    MapFile map;
    map.load(mapPath, false);
    if (map.nrOfColumns > 0 && map.nrOfRows > 0 && map.nrOfSlices > 0) {
      extents = {map.nrOfColumns, map.nrOfRows, map.nrOfSlices};
    }
  } catch (const std::exception&) {
  }
  host::hostState().openDocument(stripExtension(fileNameOf(mapPath)), extents);
}

// The plugin's question about stretching the map names neither the files nor
// the extents; they are said here first, for every project whose header
// states other extents than the map's. Headers that cannot be read are left
// for the plugin to report.
void noteMismatchedExtents(const std::string& mapPath, const std::vector<std::string>& projects, Console& console) {
  MapFile map;
  try {
    map.load(mapPath, false);
  } catch (const std::exception&) {
    return;
  }
  const Dimensions mapExtents{map.nrOfColumns, map.nrOfRows, map.nrOfSlices};
  for (const std::string& path : projects) {
    Dimensions extents{0, 0, 0};
    try {
      if (hasExtension(path, "fmr")) {
        FMRHeader header;
        header.load(path, false);
        extents = {header.resolutionX.value, header.resolutionY.value, header.nrOfSlices.value};
      } else if (hasExtension(path, "dmr")) {
        DMRHeader header;
        header.load(path, false);
        extents = {header.resolutionX.value, header.resolutionY.value, header.nrOfSlices.value};
      } else {
        continue;
      }
    } catch (const std::exception&) {
      continue;
    }
    if (extents == mapExtents) continue;
    console.err() << "daxo: apply: " << path << " has " << extents.x << " x " << extents.y << " x " << extents.z
                  << " voxels, the map " << mapPath << " " << mapExtents.x << " x " << mapExtents.y << " x "
                  << mapExtents.z << std::endl;
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
  if (arguments.has("--yes") && arguments.has("--no")) throw UsageError("apply: give --yes or --no, not both");
  if (arguments.has("--yes")) return host::YesNoPolicy::alwaysYes;
  if (arguments.has("--no")) return host::YesNoPolicy::alwaysNo;
  return host::YesNoPolicy::askOnTerminal;
}

// The plugin passes over other paths without a word; on the command line
// that is more likely a typing error, so it is pointed out.
void noteSkippedPaths(const std::vector<std::string>& paths, Console& console) {
  for (const std::string& path : paths) {
    if (!hasExtension(path, "fmr") && !hasExtension(path, "dmr")) {
      console.err() << "daxo: apply: skipping " << path << " (neither .fmr nor .dmr)" << std::endl;
    }
  }
}

bool anyProject(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (hasExtension(path, "fmr") || hasExtension(path, "dmr")) return true;
  }
  return false;
}

int runApply(CommandContext& context) {
  const Arguments arguments("apply", context.args,
                            {{"--vdm", true},
                             {"--rllr", false},
                             {"--yes", false},
                             {"--no", false},
                             {"--report", true},
                             {"--fieldmap", true},
                             {"--pe", true},
                             {"--readout", true},
                             {"--out", true},
                             {"--float", false},
                             {"--jacobian", false}},
                            1, SIZE_MAX);
  if (arguments.has("--fieldmap") || isNiftiPath(arguments.value("--vdm"))) return runNiftiApply(context, arguments);
  if (!arguments.has("--vdm")) throw UsageError("apply: --vdm MAP is required");
  for (const char* name : {"--pe", "--readout", "--out", "--float", "--jacobian"}) {
    if (arguments.has(name)) throw UsageError(std::string("apply: ") + name + " is for NIfTI series");
  }
  const std::string mapPath = arguments.value("--vdm");
  checkDialogPath("apply", mapPath);
  const std::vector<std::string>& projects = arguments.positionals();
  for (const std::string& path : projects) checkDialogPath("apply", path);
  const host::YesNoPolicy policy = resizePolicy(arguments);
  if (arguments.has("--report")) {
    std::vector<std::string> inputs = projects;
    inputs.push_back(mapPath);
    checkPageName("apply", arguments.value("--report"), inputs);
  }

  host::hostState().yesNo.setPolicy(policy);
  openDocumentFor(mapPath);
  noteSkippedPaths(projects, context.console);
  noteMismatchedExtents(mapPath, projects, context.console);
  // The plugin says "Done." also when it passed over every path; nothing
  // corrected is no success.
  if (!anyProject(projects)) {
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
  const std::vector<TaskOutcome> outcomes = runPluginTaskSeries(context, dialogkeys::kTaskApply, runs, false);
  const bool failed = outcomes.size() != runs.size() || outcomes.back().failed();
  if (!outcomes.empty()) nameUnreadableMap(outcomes.back(), mapPath, context.console);
  if (failed && policy != host::YesNoPolicy::alwaysYes && !host::hostState().yesNo.questions().empty()) {
    context.console.err() << "daxo: apply: the extents of a project differ from the map's; give --yes to stretch "
                             "the map to them (same field of view assumed)"
                          << std::endl;
  }
  if (failed) return kExitFailure;
  if (arguments.has("--report")) {
    try {
      writeSeriesReportPage(mapPath, projects, arguments.has("--rllr"), arguments.value("--report"),
                            {{"Software", daxoVersionText()}}, context.console);
    } catch (const std::exception& e) {
      context.console.err() << "daxo: apply: " << e.what() << std::endl;
      return kExitFailure;
    }
  }
  return kExitSuccess;
}

}  // namespace

extern const Command applyCommand;
const Command applyCommand{"apply", "correct projects with a saved displacement map",
                           "Usage: daxo apply --vdm MAP [--rllr] [--yes | --no] [--report PAGE.html] PROJECT...\n"
                           "       daxo apply (--vdm MAP.nii.gz | --fieldmap FIELD.nii.gz) [--pe DIR] [--readout S]\n"
                           "                  [--jacobian] [--float] [--out FOLDER] SERIES.nii.gz...\n"
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
                           "\n"
                           "Options:\n"
                           "  --vdm MAP  the displacement map file (NAME_vdm.map from the estimation)\n"
                           "  --rllr     the phase-encoding axis is x (left-right): the map is applied\n"
                           "             along x\n"
                           "  --yes      when a project's extents differ from the map's, stretch the\n"
                           "             map to the project's extents (same field of view assumed)\n"
                           "  --no       when they differ, stop with an error\n"
                           "  --report PAGE.html\n"
                           "             also write a report page: the first volume of each project\n"
                           "             before and after correction, and the map\n"
                           "Without --yes or --no the question is asked on the terminal; without a\n"
                           "terminal the answer is no.\n"
                           "\n"
                           "NIfTI series are corrected with a NIfTI map: NAME_vdm.nii.gz from 'daxo\n"
                           "estimate' (its sidecar gives the scan's phase-encoding direction and\n"
                           "readout time) or a field in Hz (--fieldmap). Each series' own direction\n"
                           "and readout time come from its sidecar, or --pe and --readout. On the\n"
                           "map's grid and axis the map is used as it is (negated for the opposite\n"
                           "polarity); otherwise the field in Hz is carried through the two affines\n"
                           "and converted with the series' readout time and direction; without\n"
                           "readout times the same field of view is assumed, as for projects, and\n"
                           "said. --jacobian multiplies each corrected volume by the Jacobian of the\n"
                           "correction, which restores the signal a stretch spread out (use it for\n"
                           "quantitative intensities, and to compare the two scans of a pair);\n"
                           "--float writes 32-bit floats instead of the input's data type. Each\n"
                           "series is written as NAME_undist.nii.gz beside it or in --out FOLDER,\n"
                           "one volume at a time, with its sidecar copied.\n"
                           "\n"
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
                           runApply};

}  // namespace daxo::cli
