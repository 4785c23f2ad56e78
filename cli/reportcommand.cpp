#include <string>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/consolelogstream.h"
#include "pipeline/reportpages.h"

namespace daxo::cli {

namespace {

int runReport(CommandContext& context, const Arguments& arguments) {
  const std::vector<std::string>& p = arguments.positionals();
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
const Command reportCommand{"report",
                            "write a quality report page for a map and its pair",
                            "Usage: daxo report MAP FILE0 FILE1 PAGE.html [--volume0 N] [--volume1 N] [--rllr]\n"
                            "\n"
                            "Corrects one volume of FILE0 with MAP and one of FILE1 with the negated\n"
                            "map, as the correction does, and writes PAGE.html: one self-contained page\n"
                            "(pictures embedded, no scripts) showing the pair before and after in three\n"
                            "orthogonal views, the two scans in turn so that moving edges catch the eye,\n"
                            "their absolute difference before and after, the map over the corrected\n"
                            "first scan with its colour bar and the phase-encoding axis, and the\n"
                            "figures: the pair's correlation inside the head before and after, and the\n"
                            "map's range and percentiles. The figures are also logged.\n",
                            {{"Options:",
                              {{"--volume0", "N", "the volume of FILE0 shown (from 0; default 0)"},
                               {"--volume1", "N", "the volume of FILE1 shown (from 0; default 0)"},
                               {"--rllr", nullptr, "phase encoding along x"}}}},
                            "Example:\n"
                            "  daxo report sub01/b0_ap_vdm.map sub01/b0_ap.fmr sub01/b0_pa.fmr sub01/report.html\n",
                            4,
                            4,
                            runReport};

}  // namespace daxo::cli
