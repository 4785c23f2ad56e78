#include "pipeline/reportpages.h"

#include <filesystem>
#include <stdexcept>

#include "daxo/version.h"
#include "fileio/fileerrors.h"
#include "fileio/mapfile.h"
#include "fileio/paths.h"
#include "fileio/stagedoutputfile.h"
#include "pipeline/pairreportdata.h"
#include "pipeline/projectvolume.h"
#include "pipeline/requesterror.h"
#include "report/pairreport.h"
#include "volume/volumetransform.h"

namespace daxo::pipeline {

namespace {

std::string extentsText(const Dimensions& d) {
  return std::to_string(d.x) + " x " + std::to_string(d.y) + " x " + std::to_string(d.z);
}

Volume readMap(const std::string& path) {
  MapFile map;
  map.loadWithData(path);
  return std::move(map.volume);
}

}  // namespace

void writePage(const std::string& path, const std::string& html) {
  StagedOutputFile out(path);
  if (!out.isOpen()) throw WriteFileError("Cannot create " + path + ": " + out.problem());
  out.stream() << html;
  out.finish();
  out.commit();
}

void checkPageName(const std::string& command, const std::string& pagePath, const std::vector<std::string>& inputs) {
  if (!hasExtension(pagePath, "html")) {
    throw RequestError(command + ": the page's name must end in .html, not '" + pagePath + "'");
  }
  for (const std::string& input : inputs) {
    if (input == pagePath) throw RequestError(command + ": the page would replace its input " + pagePath);
  }
  // Found now rather than once the work is done.
  const std::filesystem::path folder = std::filesystem::path(pagePath).parent_path();
  std::error_code error;
  if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
    throw RequestError(command + ": the page's folder " + folder.string() + " does not exist");
  }
}

std::string daxoVersionText() { return std::string("daxo ") + kDaxoVersion; }

void writePairReportPage(const PairReportRequest& r, std::ostream& log) {
  const Volume map = readMap(r.mapPath);
  const ProjectVolume scan0 = readProjectVolume(r.file0, r.volume0);
  const ProjectVolume scan1 = readProjectVolume(r.file1, r.volume1);
  for (const auto& [path, extents] :
       {std::pair{r.file0, scan0.volume.dimensions()}, {r.file1, scan1.volume.dimensions()}}) {
    if (extents != map.dimensions()) {
      throw std::runtime_error(r.mapPath + " is a map of " + extentsText(map.dimensions()) + " voxels, but " + path +
                               " has volumes of " + extentsText(extents) + ": the map must be of the projects' grid");
    }
  }
  report::PairReportInputs in = pairReportInputs(scan0.volume, scan1.volume, map, scan0.voxelSizeMm, r.alongX);
  in.title = "Distortion correction: " + fileNameOf(r.file0) + " and " + fileNameOf(r.file1);
  in.settings = {{"Map", r.mapPath},
                 {"First scan", r.file0 + ", volume " + std::to_string(r.volume0)},
                 {"Second scan", r.file1 + ", volume " + std::to_string(r.volume1)},
                 {"Phase-encoding axis", r.alongX ? "i (x, --rllr)" : "j (y)"}};
  in.settings.insert(in.settings.end(), r.settings.begin(), r.settings.end());
  in.verdict = r.verdict;
  writeReportPage(r.pagePath, in, log);
}

void writeReportPage(const std::string& pagePath, const report::PairReportInputs& in, std::ostream& log) {
  for (const auto& [name, value] : in.numbers) log << name << ": " << value << std::flush;
  writePage(pagePath, report::pairReportHtml(in));
  log << "Report written to " << pagePath << std::flush;
}

void writeSeriesReportPage(const SeriesReportRequest& r, std::ostream& log) {
  const Volume map = readMap(r.mapPath);
  report::SeriesReportInputs in;
  in.title = "Corrected series";
  in.phaseAxis = r.alongX ? 0 : 1;
  for (const std::string& project : r.projects) {
    const std::string corrected = withSuffix(project, kCorrectedSuffix);
    if (!std::filesystem::exists(corrected)) continue;
    ProjectVolume before = readProjectVolume(project, 0);
    ProjectVolume after = readProjectVolume(corrected, 0);
    Volume applied = map;
    if (map.dimensions() != before.volume.dimensions()) {
      applied = Volume(before.volume.dimensions());
      resampleToSize(applied, map);
    }
    if (in.series.empty()) in.voxelSizeMm = before.voxelSizeMm;
    in.series.push_back({fileNameOf(project), std::move(before.volume), std::move(after.volume), std::move(applied)});
  }
  if (in.series.empty()) throw std::runtime_error("no corrected copy to show in " + r.pagePath);
  in.settings = {{"Map", r.mapPath}, {"Phase-encoding axis", r.alongX ? "i (x, --rllr)" : "j (y)"}};
  in.settings.insert(in.settings.end(), r.settings.begin(), r.settings.end());
  writePage(r.pagePath, report::seriesReportHtml(in));
  log << "Report written to " << r.pagePath << std::flush;
}

}  // namespace daxo::pipeline
