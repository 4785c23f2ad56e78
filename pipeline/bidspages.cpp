#include "pipeline/bidspages.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>

#include "pipeline/bidsdataset.h"
#include "pipeline/reportpages.h"
#include "report/htmlpage.h"
#include "report/pairreport.h"

namespace daxo::pipeline {

namespace fs = std::filesystem;

namespace {

// The file's text; nothing when it cannot be read.
std::optional<std::string> readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string subjectPageName(const std::string& label) { return "sub-" + label + ".html"; }

std::vector<std::string> subjectsOf(const std::string& bidsDir) {
  if (!fs::is_directory(bidsDir)) throw std::runtime_error(bidsDir + " is not a folder");
  std::vector<std::string> labels;
  for (const fs::directory_entry& entry : fs::directory_iterator(bidsDir)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory() && name.rfind("sub-", 0) == 0) labels.push_back(name.substr(4));
  }
  std::sort(labels.begin(), labels.end());
  return labels;
}

}  // namespace

void writeSubjectPage(const std::string& outDir, const SubjectPlan& plan, std::ostream& log) {
  report::HtmlPage page("Distortion correction of sub-" + plan.label);
  page.paragraph("Fields estimated by " + daxoVersionText() + " from reverse phase-encoded pairs, and the runs " +
                 "corrected with them. Each field's page shows its pair before and after correction in three " +
                 "views; below, each field's figures and its middle axial slice.");
  page.paragraph(report::agreementNote());
  for (const FieldPlan& field : plan.fields) {
    const std::string fieldPage = fieldPagePath(field);
    page.beginSummary();
    page.heading(field.field);
    page.link("The field's page: " + fieldPage, fieldPage);
    const std::optional<std::string> html = readText(fs::path(outDir) / fieldPage);
    const std::vector<std::string> summaries = html ? report::summariesIn(*html) : std::vector<std::string>{};
    if (summaries.empty()) {
      page.paragraph("The field's page is missing: " + fieldPage);
    } else {
      page.raw(summaries.front());
    }
    report::Rows rows{{"First scan (the field's grid)", field.first}, {"Second scan", field.second}};
    for (const std::string& run : field.runs) rows.emplace_back("Corrected run", undistortedPath(run));
    page.table(rows);
    page.endSummary();
  }
  if (!plan.notes.empty()) {
    page.heading("Left alone");
    for (const std::string& note : plan.notes) page.paragraph(note);
  }
  const std::string path = (fs::path(outDir) / subjectPageName(plan.label)).string();
  writePage(path, page.html());
  log << "Report written to " << path << std::flush;
}

std::string groupPagePath(const std::string& outDir) { return (fs::path(outDir) / "group.html").string(); }

int writeGroupPage(const std::string& bidsDir, const std::string& outDir, const std::vector<std::string>& labels,
                   std::ostream& log) {
  if (!fs::is_directory(outDir)) {
    throw std::runtime_error(outDir + " is not a folder: run the participant level into it first");
  }
  const std::vector<std::string> subjects = labels.empty() ? subjectsOf(bidsDir) : labels;
  report::HtmlPage page("Distortion correction of the dataset");
  page.paragraph(
      "Every subject's fields, with their figures and middle axial slices, from the pages the "
      "participant level wrote. A subject's name opens its page; a field's link opens the field's own.");
  page.paragraph(report::agreementNote());
  report::HtmlPage overview("");  // a link a subject, then each subject's part
  report::HtmlPage parts("");
  int withPage = 0;
  for (const std::string& label : subjects) {
    const std::string name = subjectPageName(label);
    const std::optional<std::string> html = readText(fs::path(outDir) / name);
    if (!html) {
      const std::string logName = "logs/sub-" + label + ".log";
      overview.paragraph("sub-" + label + ": no page; " +
                         (fs::exists(fs::path(outDir) / logName)
                              ? "it failed or did not finish, see " + logName
                              : std::string("the participant level has not run for it")));
      continue;
    }
    ++withPage;
    const std::vector<std::string> fields = report::summariesIn(*html);
    overview.link("sub-" + label + ": " + std::to_string(fields.size()) + " field(s)", name);
    parts.heading("sub-" + label);
    parts.link("The subject's page: " + name, name);
    for (const std::string& field : fields) parts.raw(field);
  }
  if (withPage == 0) {
    throw std::runtime_error(outDir + " holds no subject's page (sub-LABEL.html): run the participant level first");
  }
  page.heading("Subjects");
  page.raw(overview.body());
  page.raw(parts.body());
  const std::string path = groupPagePath(outDir);
  writePage(path, page.html());
  log << "Report written to " << path << std::flush;
  return withPage;
}

}  // namespace daxo::pipeline
