#include <sstream>
#include <string>

#include "fileio/fileerrors.h"
#include "fileio/mapfile.h"
#include "fileio/paths.h"
#include "fileio/stagedoutputfile.h"
#include "host/daxo/arguments.h"
#include "host/daxo/command.h"
#include "host/daxo/console.h"
#include "host/daxo/pairreportdata.h"
#include "host/daxo/projectvolume.h"
#include "report/pairreport.h"

namespace daxo::cli {

namespace {

std::string extentsText(const Dimensions& d) {
  return std::to_string(d.x) + " x " + std::to_string(d.y) + " x " + std::to_string(d.z);
}

// The page goes to a temporary file beside its target first, so a failure
// never leaves half a page under the final name.
void writePage(const std::string& path, const std::string& html) {
  StagedOutputFile out(path);
  if (!out.isOpen()) throw WriteFileError("Cannot create " + path);
  out.stream() << html;
  out.finish();
  out.commit();
}

int runReport(CommandContext& context) {
  const Arguments arguments("report", context.args, {{"--volume0", true}, {"--volume1", true}, {"--rllr", false}}, 4,
                            4);
  const std::vector<std::string>& p = arguments.positionals();
  const std::string& mapPath = p[0];
  const std::string& pagePath = p[3];
  if (!hasExtension(pagePath, "html"))
    throw UsageError("report: the page's name must end in .html, not '" + pagePath + "'");
  for (size_t i = 0; i < 3; ++i) {
    if (p[i] == pagePath) throw UsageError("report: the page would replace its input " + pagePath);
  }
  const int32_t volume0 = arguments.intValue("--volume0", 0);
  const int32_t volume1 = arguments.intValue("--volume1", 0);
  const bool alongX = arguments.has("--rllr");
  try {
    MapFile map;
    map.load(mapPath, true);
    const ProjectVolume scan0 = readProjectVolume(p[1], volume0);
    const ProjectVolume scan1 = readProjectVolume(p[2], volume1);
    for (const auto& [path, extents] :
         {std::pair{p[1], scan0.volume.dimensions()}, {p[2], scan1.volume.dimensions()}}) {
      if (extents != map.volume.dimensions()) {
        throw std::runtime_error(mapPath + " is a map of " + extentsText(map.volume.dimensions()) + " voxels, but " +
                                 path + " has volumes of " + extentsText(extents) +
                                 ": the map must be of the projects' grid");
      }
    }
    report::PairReportInputs in = pairReportInputs(scan0.volume, scan1.volume, map.volume, scan0.voxelSizeMm, alongX);
    in.title = "Distortion correction: " + fileNameOf(p[1]) + " and " + fileNameOf(p[2]);
    in.settings = {{"Map", mapPath},
                   {"First scan", p[1] + ", volume " + std::to_string(volume0)},
                   {"Second scan", p[2] + ", volume " + std::to_string(volume1)},
                   {"Phase-encoding axis", alongX ? "x (--rllr)" : "y"},
                   {"Correction", "cubic B-spline resampling, second scan with the negated map"}};
    for (const auto& [name, value] : in.numbers) context.console.logEntry(name + ": " + value);
    writePage(pagePath, report::pairReportHtml(in));
    context.console.logEntry("Report written to " + pagePath);
  } catch (const std::exception& e) {
    context.console.err() << "daxo: report: " << e.what() << std::endl;
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace

extern const Command reportCommand;
const Command reportCommand{"report", "write a quality report page for a map and its pair",
                            "Usage: daxo report MAP FILE0 FILE1 PAGE.html [--volume0 N] [--volume1 N] [--rllr]\n"
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
                            "Options:\n"
                            "  --volume0 N, --volume1 N  the volumes shown (from 0; default 0)\n"
                            "  --rllr                    phase encoding along x\n"
                            "\n"
                            "Example:\n"
                            "  daxo report sub01/b0_ap_vdm.map sub01/b0_ap.fmr sub01/b0_pa.fmr sub01/report.html\n",
                            runReport};

}  // namespace daxo::cli
