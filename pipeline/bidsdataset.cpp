#include "pipeline/bidsdataset.h"

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "daxo/version.h"
#include "pipeline/bidsplan.h"
#include "pipeline/niftioutputs.h"
#include "pipeline/requesterror.h"

namespace daxo::pipeline {

namespace fs = std::filesystem;

std::vector<std::string> prepareDerivatives(const std::string& bidsDir, const std::string& outDir,
                                            const std::vector<std::string>& labels) {
  if (!fs::is_directory(bidsDir)) throw std::runtime_error(bidsDir + " is not a folder");
  if (!fs::exists(fs::path(bidsDir) / "dataset_description.json")) {
    throw std::runtime_error(bidsDir + " has no dataset_description.json: it is not a BIDS dataset");
  }
  fs::create_directories(outDir);
  if (fs::equivalent(bidsDir, outDir)) throw RequestError("bids: the output folder must not be the dataset itself");
  fs::create_directories(fs::path(outDir) / "logs");
  if (!labels.empty()) return labels;
  std::vector<std::string> found;
  std::error_code error;
  for (fs::directory_iterator it(bidsDir, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("sub-", 0) != 0) continue;
    // A sub-* entry that cannot be examined (a link loop, no permission) is
    // kept: the subject then fails with the reason, and the others go on.
    std::error_code kind;
    if (it->is_directory(kind) || kind) found.push_back(name.substr(4));
  }
  if (error) throw std::runtime_error(bidsDir + " cannot be listed: " + error.message());
  if (found.empty()) throw std::runtime_error(bidsDir + " has no sub-* folder");
  std::sort(found.begin(), found.end());
  return found;
}

void writeDatasetDescription(const std::string& bidsDir, const std::string& outDir, const std::string& commandText) {
  const fs::path path = fs::path(outDir) / "dataset_description.json";
  if (fs::exists(path)) return;
  nlohmann::json description;
  description["Name"] = "DAXO distortion correction";
  description["BIDSVersion"] = "1.8.0";
  description["DatasetType"] = "derivative";
  description["GeneratedBy"] = {
      {{"Name", "daxo"},
       {"Version", kDaxoVersion},
       {"Description", "Distortion correction from reverse phase-encoded pairs. Command: " + commandText}}};
  description["SourceDatasets"] = {{{"URL", "file://" + fs::absolute(bidsDir).lexically_normal().string()}}};
  writeJsonFile(path.string(), description);
}

std::string subjectLogPath(const std::string& outDir, const std::string& label) {
  return (fs::path(outDir) / "logs" / ("sub-" + label + ".log")).string();
}

SubjectWork runBidsSubject(const std::string& bidsDir, const std::string& outDir, const std::string& label,
                           const EstimationOptions& options, std::ostream& log) {
  const SubjectPlan plan = planSubject(label, listSubjectImages(bidsDir, label));
  for (const std::string& note : plan.notes) log << "Note: " << note << std::flush;
  if (!plan.problems.empty()) {
    std::string text;
    for (const std::string& problem : plan.problems) text += (text.empty() ? "" : "; ") + problem;
    throw std::runtime_error(text);
  }
  return processSubject(bidsDir, outDir, plan, options, log);
}

std::string workText(const SubjectWork& work) {
  return std::to_string(work.fieldsEstimated) + " field(s) estimated, " + std::to_string(work.runsCorrected) +
         " run(s) corrected, " + std::to_string(work.fieldsUpToDate + work.runsUpToDate) + " output(s) up to date";
}

}  // namespace daxo::pipeline
