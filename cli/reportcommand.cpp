#include <string>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/consolelogstream.h"
#include "cli/niftioptions.h"
#include "pipeline/niftireport.h"
#include "pipeline/reportpages.h"

namespace daxo::cli {

namespace {

// A NIfTI pair and the map `daxo estimate` wrote for its first scan.
int reportNifti(CommandContext& context, const Arguments& arguments) {
  const std::vector<std::string>& p = arguments.positionals();
  if (arguments.has("--rllr")) throw UsageError("report: --rllr is for projects; NIfTI pairs take --pe0/--pe1");
  for (const std::string& path : {p[0], p[2]}) {
    if (!isNiftiPath(path)) throw UsageError("report: a NIfTI pair takes a NIfTI map and scans; " + path + " is none");
  }
  pipeline::NiftiPairReportRequest request;
  request.mapPath = p[0];
  request.first = p[1];
  request.second = p[2];
  request.pagePath = p[3];
  request.pe0 = phaseEncodingOption(arguments, "report", "--pe0");
  request.pe1 = phaseEncodingOption(arguments, "report", "--pe1");
  request.readoutSeconds = readoutOption(arguments, "report");
  request.volumes0 = volumeListOption(arguments, "report", "--volume0");
  request.volumes1 = volumeListOption(arguments, "report", "--volume1");
  if (context.options.logFile) request.alsoWritten.push_back(*context.options.logFile);
  pipeline::checkPageName("report", request.pagePath, {p[0], p[1], p[2]});
  return runLogged(context, "report", [&](std::ostream& log) { pipeline::writeNiftiPairReportPage(request, log); });
}

int runReport(CommandContext& context, const Arguments& arguments) {
  const std::vector<std::string>& p = arguments.positionals();
  if (isNiftiPath(p[1])) return reportNifti(context, arguments);
  for (const char* name : {"--pe0", "--pe1", "--readout"}) {
    if (arguments.has(name)) throw UsageError(std::string("report: ") + name + " is for NIfTI pairs");
  }
  pipeline::PairReportRequest request;
  request.mapPath = p[0];
  request.file0 = p[1];
  request.file1 = p[2];
  request.pagePath = p[3];
  request.volume0 = arguments.intValue("--volume0", 0);
  request.volume1 = arguments.intValue("--volume1", 0);
  request.alongX = arguments.has("--rllr");
  pipeline::checkPageName("report", request.pagePath, {p[0], p[1], p[2]});
  request.settings = {{"Correction", "cubic B-spline resampling, the second scan with the negated map"},
                      {"Software", pipeline::daxoVersionText()}};
  return runLogged(context, "report", [&](std::ostream& log) { pipeline::writePairReportPage(request, log); });
}

}  // namespace

extern const Command reportCommand;
const Command reportCommand{
    "report",
    "write a quality page for a map and its pair",
    "Usage: daxo report MAP FILE0 FILE1 PAGE.html [--volume0 N] [--volume1 N] [--rllr]\n"
    "       daxo report MAP.nii.gz IMAGE0.nii.gz IMAGE1.nii.gz PAGE.html [--pe0 DIR]\n"
    "                   [--pe1 DIR] [--readout SECONDS] [--volume0 N,...] [--volume1 N,...]\n"
    "\n"
    "Corrects one volume of FILE0 with MAP and one of FILE1 with the negated\n"
    "map, as the correction does, and writes PAGE.html: one self-contained page\n"
    "(pictures embedded, no scripts) showing the pair before and after in three\n"
    "orthogonal views, the two scans in turn so that moving edges catch the eye,\n"
    "their absolute difference before and after, the map over the corrected\n"
    "first scan with its colour bar and the phase-encoding axis, and the\n"
    "figures: the pair's correlation inside the head before and after, and the\n"
    "map's range and percentiles. The figures are also logged.\n"
    "\n"
    "For a NIfTI pair, MAP is the NAME0_vdm.nii.gz that 'daxo estimate' wrote\n"
    "for IMAGE0 (the page it writes with --report): the scans' b=0 volumes (or\n"
    "those listed) are shown, the second moved by the motion the map's sidecar\n"
    "records, with the phase-encoding check's verdict.\n",
    {{"Options:",
      {{"--volume0", "N",
        "the volume of FILE0 shown (from 0; default 0; NIfTI: a list, "
        "default the b=0 volumes)"},
       {"--volume1", "N", "the volume of FILE1 shown (likewise)"},
       {"--rllr", nullptr, "phase encoding along x (projects)"},
       {"--pe0", "DIR", "IMAGE0's phase-encoding direction (i, i-, j, j-); wins over its sidecar"},
       {"--pe1", "DIR", "IMAGE1's phase-encoding direction"},
       {"--readout", "SECONDS", "the scans' total readout time; wins over their sidecars"}}}},
    "Example:\n"
    "  daxo report sub01/b0_ap_vdm.map sub01/b0_ap.fmr sub01/b0_pa.fmr sub01/report.html\n"
    "  daxo report out/sub-01_dir-AP_dwi_vdm.nii.gz sub-01_dir-AP_dwi.nii.gz \\\n"
    "    sub-01_dir-PA_dwi.nii.gz out/sub-01.html\n",
    4,
    4,
    runReport};

}  // namespace daxo::cli
