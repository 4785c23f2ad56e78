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
  createOutputFolder(outDir);
  if (fs::equivalent(bidsDir, outDir)) throw RequestError("bids: the output folder must not be the dataset itself");
  createOutputFolder((fs::path(outDir) / "logs").string());
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

std::string rawDatasetLink(const std::string& bidsDir, const std::string& outDir) {
  std::error_code error;
  const fs::path raw = fs::weakly_canonical(fs::absolute(bidsDir), error);
  const fs::path out = fs::weakly_canonical(fs::absolute(outDir), error);
  const fs::path relative = raw.lexically_relative(out);
  if (error || relative.empty()) return "file://" + raw.generic_string();
  return relative.generic_string();
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
       {"CodeURL", kDaxoCodeUrl},
       {"Description", "Distortion correction from reverse phase-encoded pairs. Command: " + commandText}}};
  // The raw dataset by a path relative to this one, so that the two move
  // together; the sidecars name its files as bids:raw: URIs.
  description["DatasetLinks"] = {{kRawDatasetName, rawDatasetLink(bidsDir, outDir)}};
  description["SourceDatasets"] = {{{"URL", "bids:" + std::string(kRawDatasetName) + ":"}}};
  writeJsonFile(path.string(), description);
  // What a BIDS validator should not look at: the logs and the quality pages.
  const fs::path ignore = fs::path(outDir) / ".bidsignore";
  if (!fs::exists(ignore)) writeTextFile(ignore.string(), "logs/\n*.html\nfigures/\n");
}

std::string subjectLogPath(const std::string& outDir, const std::string& label) {
  return (fs::path(outDir) / "logs" / ("sub-" + label + ".log")).string();
}

SubjectWork runBidsSubject(const std::string& bidsDir, const std::string& outDir, const std::string& label,
                           const EstimationOptions& options, const BidsSelection& selection, std::ostream& log) {
  std::vector<BidsImage> images = listSubjectImages(bidsDir, label, selection);
  std::vector<BidsImage> kept;
  for (BidsImage& image : images) {
    if (!keptByFilter(selection, image.path)) {
      log << "Note: " << image.path << " is left out by " << selection.filterPath << std::flush;
      continue;
    }
    for (const auto& [key, value] : image.supplied.items()) {
      log << "Note: " << key << " of " << image.path << " is " << value.dump() << ", from " << selection.metadataPath
          << std::flush;
    }
    kept.push_back(std::move(image));
  }
  const SubjectPlan plan = planSubject(label, kept);
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
