#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/commandtable.h"
#include "cli/console.h"
#include "cli/dialogpaths.h"
#include "demodata/demosettings.h"
#include "pipeline/demoevaluation.h"
#include "pipeline/demofiles.h"
#include "pipeline/demoinputs.h"
#include "pipeline/demoreport.h"

namespace daxo::cli {

namespace {

constexpr const char* kDefaultFolder = "demo";

// Runs another daxo command in this process, with the same console and
// global options, so that its log entries carry the demo's clock; logs the
// command line first and says which step failed. Returns its exit status.
int runStep(CommandContext& context, const std::string& name, const std::vector<std::string>& args) {
  std::string line = "daxo " + name;
  for (const std::string& arg : args) line += " " + arg;
  context.console.logEntry("Running: " + line);
  CommandContext inner{args, context.options, context.console};
  const int status = runCommand(*findCommand(name), inner);
  if (status != kExitSuccess) context.console.err() << "daxo: demo: stopped, this step failed: " << line << std::endl;
  return status;
}

// Runs `step`, adds its duration to `times` under `label` and returns its
// result.
int timed(pipeline::DemoTimes& times, const std::string& label, const std::function<int()>& step) {
  const auto start = std::chrono::steady_clock::now();
  const int status = step();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  times.emplace_back(label, elapsed.count());
  return status;
}

int runDemo(CommandContext& context, const Arguments& arguments) {
  const DemoSettings settings =
      pipeline::demoSettingsFor(arguments.value("--size", "full"), arguments.value("--field", "standard"));
  const pipeline::DemoFiles files(arguments.positionals().empty() ? kDefaultFolder : arguments.positionals()[0]);
  for (const std::string& path : files.allPaths()) checkDialogPath("demo", path);
  pipeline::prepareDemoFolder(files.folder(), context.options.logFile);

  Console& console = context.console;
  const auto log = [&console](const std::string& text) { console.logEntry(text); };
  pipeline::DemoTimes times;
  timed(times, "generate and write the data", [&] {
    pipeline::writeDemoInputs(files, settings, log);
    return kExitSuccess;
  });

  const std::vector<std::string> estimate{files.firstScan(), files.secondScan(), "--apply", "--report",
                                          files.reportPage()};
  int status = timed(times, "estimate and correct the pair", [&] { return runStep(context, "estimate", estimate); });
  if (status != kExitSuccess) return status;

  // The map has the series' extents; --no keeps the demo from ever asking.
  const std::vector<std::string> apply{"--vdm", files.estimatedMap(), "--no", files.diffusion()};
  status = timed(times, "correct the diffusion series", [&] { return runStep(context, "apply", apply); });
  if (status != kExitSuccess) return status;

  log("Comparing with the truth...");
  pipeline::DemoFigures figures;
  timed(times, "compare with the truth", [&] {
    figures = pipeline::evaluateDemo(files, settings);
    return kExitSuccess;
  });
  const pipeline::DemoBound bound;
  console.result(pipeline::demoReport(settings, files.folder(), figures, bound, times));
  console.result("Report page: " + files.reportPage() + "\n");
  return bound.holds(figures.map) ? kExitSuccess : kExitFailure;
}

}  // namespace

extern const Command demoCommand;
const Command demoCommand{"demo",
                          "run the whole pipeline on built-in demo data and compare with the truth",
                          "Usage: daxo demo [FOLDER] [--size small | --size full]\n"
                          "                 [--field standard | --field strong]\n"
                          "\n"
                          "Makes a synthetic head scanned twice with opposite phase-encoding\n"
                          "directions (along y), with a known displacement of up to 5 voxels, and\n"
                          "runs the pipeline on it as a user would, through the plugin:\n"
                          "  1. writes into FOLDER (default: demo) the pair as functional projects\n"
                          "     func_ap.fmr and func_pa.fmr (6 volumes each, with small signal\n"
                          "     changes), the diffusion series of the first direction dwi_ap.dmr\n"
                          "     (b=0 and six directions) and the true map true_vdm.map;\n"
                          "  2. daxo estimate func_ap.fmr func_pa.fmr --apply --report report.html\n"
                          "     (the default method, variational), which also writes the quality\n"
                          "     page report.html;\n"
                          "  3. daxo apply --vdm func_ap_vdm.map --no dwi_ap.dmr;\n"
                          "  4. prints a report: the error of the estimated map against the true one\n"
                          "     inside the head (RMS and 95th percentile, voxels and mm), the\n"
                          "     correlation of the two scans before and after correction, and the\n"
                          "     time of each step, and the path of report.html.\n"
                          "\n"
                          "FOLDER is created when it does not exist. The demo writes only its own\n"
                          "files (replacing those of an earlier run) and refuses a folder that holds\n"
                          "anything else.\n",
                          {{"Options:",
                            {{"--size", "SIZE",
                              "full (the default): 96 x 96 x 48 voxels of 2.5 mm; small: the head at half size, "
                              "48 x 48 x 24 voxels of 2.5 mm (a few seconds)"},
                             {"--field", "FIELD",
                              "standard: a displacement up to 5 voxels, |dd/dy| up to 0.45 (default); strong: up "
                              "to 7 voxels with |dd/dy| up to 0.85 behind the frontal sinus, as with a long "
                              "readout; the scans then integrate the head over each voxel"}}}},
                          "Exit status: 0 the map is within its bound (RMS below 0.06 voxels and\n"
                          "95th percentile below 0.12 voxels inside the head), 1 it is not or a\n"
                          "step failed, 2 bad command line or a folder holding other files.\n"
                          "\n"
                          "Examples:\n"
                          "  daxo demo\n"
                          "  daxo demo /tmp/daxo-demo --size small --log /tmp/daxo-demo.log\n"
                          "  daxo demo /tmp/daxo-strong --field strong\n",
                          0,
                          1,
                          runDemo};

}  // namespace daxo::cli
