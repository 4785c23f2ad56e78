#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "report/htmlpage.h"
#include "report/pairreport.h"

// The report pages written for project files: `daxo report`,
// `daxo estimate --report` and `daxo apply --report`.

namespace daxo::pipeline {

struct PairReportRequest {
  std::string mapPath;  // the map of file0
  std::string file0;
  std::string file1;
  int32_t volume0 = 0;
  int32_t volume1 = 0;
  bool alongX = false;  // phase encoding along x
  std::string pagePath;
  report::Rows settings;  // shown after the map and the two inputs
  std::string verdict;    // the phase-encoding check's, when there is one
};

// Reads the map and one volume of each project, corrects both (the second
// with the negated map), logs the figures the page shows ("Correlation
// inside the head: ...") and writes the page. The page goes to a temporary
// file first: a failure never leaves half a page under its name. Throws
// std::exception naming the file and the problem (a map of other extents than
// the projects among them).
void writePairReportPage(const PairReportRequest& request, std::ostream& log);

struct SeriesReportRequest {
  std::string mapPath;
  std::vector<std::string> projects;  // as they were corrected
  bool alongX = false;                // phase encoding along x
  std::string pagePath;
  report::Rows settings;  // shown after the map and the axis
};

// The page of `daxo apply --report`: for each project, its first volume
// before and after correction (read back from its corrected copy), and the
// map as applied to the first one (stretched to its extents when they differ,
// as the correction does). Projects without a corrected copy are left out.
void writeSeriesReportPage(const SeriesReportRequest& request, std::ostream& log);

// Refuses (RequestError naming `command`) a page name that does not end in
// ".html", that is one of the command's inputs, or whose folder is missing.
void checkPageName(const std::string& command, const std::string& pagePath, const std::vector<std::string>& inputs);

// Logs the figures of a pair's page and writes it (as writePairReportPage
// does, from volumes already at hand).
void writeReportPage(const std::string& pagePath, const report::PairReportInputs& in, std::ostream& log);

// Writes a page through a temporary file, so that a failure never leaves half
// a page under its name. Throws WriteFileError naming the file.
void writePage(const std::string& path, const std::string& html);

// "daxo VERSION" for the pages' settings.
std::string daxoVersionText();

}  // namespace daxo::pipeline
