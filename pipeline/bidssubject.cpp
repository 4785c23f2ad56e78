#include "pipeline/bidssubject.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "fileio/fileerrors.h"
#include "fileio/paths.h"
#include "fileio/stagedoutputfile.h"
#include "pipeline/niftiapply.h"
#include "pipeline/niftiestimate.h"
#include "pipeline/niftioutputs.h"
#include "pipeline/niftiscan.h"
#include "pipeline/reportpages.h"
#include "report/htmlpage.h"

namespace daxo::pipeline {

namespace fs = std::filesystem;

namespace {

bool isNiftiName(const std::string& name) {
  const auto endsWith = [&](const std::string& end) {
    return name.size() > end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
  };
  return endsWith(".nii") || endsWith(".nii.gz");
}

// `image` with the metadata `supplied` for it set in its sidecar (made
// when it has none).
void supplyMetadata(BidsImage& image, const std::string& json, const nlohmann::json& supplied) {
  if (supplied.empty() || !image.sidecarProblem.empty()) return;
  if (!image.sidecar) {
    image.sidecar = BidsSidecar{};
    image.sidecar->path = json;
    image.sidecar->document = nlohmann::json::object();
  }
  if (const auto pe = supplied.find("PhaseEncodingDirection"); pe != supplied.end()) {
    image.sidecar->phaseEncodingDirection = parsePhaseEncodingDirection(pe->get<std::string>());
  }
  if (const auto readout = supplied.find("TotalReadoutTime"); readout != supplied.end()) {
    image.sidecar->totalReadoutTime = readout->get<double>();
  }
  image.sidecar->document.update(supplied);
  image.supplied = supplied;
}

void addImagesOf(const fs::path& folder, const std::string& relative, const BidsSelection& selection,
                 std::vector<BidsImage>& images) {
  for (const char* datatype : {"fmap", "dwi", "func"}) {
    const fs::path dir = folder / datatype;
    if (!fs::is_directory(dir)) continue;
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      if (isNiftiName(name) && name[0] != '.') names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      BidsImage image;
      image.path = relative + "/" + datatype + "/" + name;
      const std::string json = sidecarPathOf((dir / name).string());
      if (fs::exists(json)) {
        try {
          image.sidecar = readBidsSidecar(json);
        } catch (const std::exception& e) {
          image.sidecarProblem = e.what();
        }
      }
      supplyMetadata(image, json, suppliedMetadata(selection, image.path));
      images.push_back(std::move(image));
    }
  }
}

std::string joined(const fs::path& root, const std::string& relative) { return (root / relative).string(); }

void createFolderOf(const std::string& path) { fs::create_directories(fs::path(path).parent_path()); }

// Opens a run or fmap image of the dataset, with the metadata a user
// supplied for it winning over its sidecar.
NiftiScan openBidsScan(const std::string& path, const nlohmann::json* supplied) {
  std::string pe;
  std::optional<double> readout;
  if (supplied != nullptr) {
    pe = supplied->value("PhaseEncodingDirection", "");
    if (supplied->contains("TotalReadoutTime")) readout = (*supplied)["TotalReadoutTime"].get<double>();
  }
  NiftiScan scan = openNiftiScan(path, pe, "PhaseEncodingDirection", readout);
  if (!scan.readout) {
    throw std::runtime_error(sidecarPathOf(path) +
                             " gives no readout time (TotalReadoutTime, or EffectiveEchoSpacing): the field in Hz "
                             "and its conversion to displacements need it");
  }
  return scan;
}

class SubjectRun {
 public:
  SubjectRun(const std::string& bidsDir, const std::string& outDir, const SubjectPlan& plan,
             const EstimationOptions& options, std::ostream& log)
      : bids_(bidsDir), out_(outDir), plan_(plan), options_(options), log_(log) {}

  SubjectWork run() {
    for (const FieldPlan& field : plan_.fields) {
      estimateField(field);
      for (const std::string& run : field.runs) correctRun(field, run);
    }
    const std::string page = joined(out_, "sub-" + plan_.label + ".html");
    if (changed_ || !fs::exists(page)) {
      writeSubjectPage(page);
      work_.pageWritten = true;
    }
    return work_;
  }

 private:
  void estimateField(const FieldPlan& plan) {
    const std::string path0 = joined(bids_, plan.first);
    const std::string path1 = joined(bids_, plan.second);
    const std::string field = joined(out_, plan.field);
    const std::string page = joined(out_, fieldPagePath(plan));
    // The page comes last: a field with its page is complete.
    if (upToDate({field, outputSidecarPath(field), page}, {path0, sidecarPathOf(path0), path1, sidecarPathOf(path1)})) {
      log_ << "Up to date: " << plan.field << std::flush;
      ++work_.fieldsUpToDate;
      return;
    }
    const NiftiScan first = openBidsScan(path0, supplied(plan.first));
    const NiftiScan second = openBidsScan(path1, supplied(plan.second));
    checkOppositePair(first, second);
    const NiftiPairEstimate estimate = estimateNiftiPair(first, second, VolumeSelection{{}, {}, "--volume0"},
                                                         VolumeSelection{{}, {}, "--volume1"}, options_, true, log_);
    if (!estimate.check.problem.empty()) {
      throw std::runtime_error(estimate.check.problem + "; the field " + plan.field + " was not written");
    }
    createFolderOf(field);
    createFolderOf(page);
    nlohmann::json provenance;
    provenance["Sources"] = {rawDatasetUri(plan.first), rawDatasetUri(plan.second)};
    provenance["B0FieldIdentifier"] = fieldIdentifierOf(plan);
    provenance["IntendedFor"] = nlohmann::json::array();
    for (const std::string& run : plan.runs) provenance["IntendedFor"].push_back(rawDatasetUri(run));
    provenance["SkullStripped"] = false;
    for (const std::string& image : {plan.first, plan.second}) {
      if (supplied(image) != nullptr) provenance["MetadataSupplied"][rawDatasetUri(image)] = *supplied(image);
    }
    writeFieldMap(field, first, estimate.map, *first.readout, provenance);
    log_ << "Field map (Hz) saved as: " << field << std::flush;
    writeReportPage(page, niftiPairReportInputs(first, second, estimate, field, options_), log_);
    ++work_.fieldsEstimated;
    changed_ = true;
  }

  void correctRun(const FieldPlan& plan, const std::string& run) {
    const std::string input = joined(bids_, run);
    const std::string output = joined(out_, undistortedPath(run));
    const std::string field = joined(out_, plan.field);
    std::vector<std::string> inputs{input, sidecarPathOf(input), field, outputSidecarPath(field)};
    std::vector<std::string> outputs{output};
    for (const auto& [from, to] : gradientCopies(input, output)) {
      inputs.push_back(from);
      outputs.push_back(to);
    }
    outputs.push_back(outputSidecarPath(output));  // written last
    if (upToDate(outputs, inputs)) {
      log_ << "Up to date: " << undistortedPath(run) << std::flush;
      ++work_.runsUpToDate;
      return;
    }
    const NiftiScan series = openBidsScan(input, supplied(run));
    const MapSource map = readMapSource(field, MapUnits::Hz);
    std::string note;
    const Volume displacement = displacementForSeries(map, series, note);
    if (!note.empty()) log_ << note << std::flush;
    createFolderOf(output);
    CorrectedSeries corrected;
    corrected.path = output;
    corrected.mapPath = derivativeUri(plan.field);
    corrected.mapIsField = true;
    // The raw run's own field relations do not hold for its corrected copy.
    corrected.provenance = {{"Sources", {rawDatasetUri(run), derivativeUri(plan.field)}},
                            {"B0FieldSource", fieldIdentifierOf(plan)},
                            {"B0FieldIdentifier", nullptr},
                            {"IntendedFor", nullptr}};
    if (supplied(run) != nullptr) {
      corrected.provenance.update(*supplied(run));
      corrected.provenance["MetadataSupplied"] = *supplied(run);
    }
    writeCorrectedSeries(series, displacement, corrected, log_);
    ++work_.runsCorrected;
    changed_ = true;
  }

  const nlohmann::json* supplied(const std::string& image) const {
    const auto found = plan_.supplied.find(image);
    return found == plan_.supplied.end() ? nullptr : &found->second;
  }

  void writeSubjectPage(const std::string& path) {
    report::HtmlPage page("Distortion correction of sub-" + plan_.label);
    page.paragraph("Fields estimated by " + daxoVersionText() + " from reverse phase-encoded pairs, and the runs " +
                   "corrected with them. Each field has a page of its own with the pair before and after correction.");
    for (const FieldPlan& field : plan_.fields) {
      page.heading(field.field);
      report::Rows rows{{"First scan (the field's grid)", field.first},
                        {"Second scan", field.second},
                        {"Quality page", fieldPagePath(field)}};
      for (const std::string& run : field.runs) rows.emplace_back("Corrected run", undistortedPath(run));
      page.table(rows);
    }
    if (!plan_.notes.empty()) {
      page.heading("Left alone");
      for (const std::string& note : plan_.notes) page.paragraph(note);
    }
    writePage(path, page.html());
    log_ << "Report written to " << path << std::flush;
  }

  fs::path bids_;
  fs::path out_;
  const SubjectPlan& plan_;
  const EstimationOptions& options_;
  std::ostream& log_;
  SubjectWork work_;
  bool changed_ = false;
};

}  // namespace

std::vector<BidsImage> listSubjectImages(const std::string& bidsDir, const std::string& label,
                                         const BidsSelection& selection) {
  const std::string subject = "sub-" + label;
  const fs::path folder = fs::path(bidsDir) / subject;
  if (!fs::is_directory(folder)) throw std::runtime_error(folder.string() + " does not exist");
  std::vector<BidsImage> images;
  addImagesOf(folder, subject, selection, images);
  std::vector<std::string> sessions;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory() && name.rfind("ses-", 0) == 0) sessions.push_back(name);
  }
  std::sort(sessions.begin(), sessions.end());
  for (const std::string& session : sessions) addImagesOf(folder / session, subject + "/" + session, selection, images);
  return images;
}

SubjectWork processSubject(const std::string& bidsDir, const std::string& outDir, const SubjectPlan& plan,
                           const EstimationOptions& options, std::ostream& log) {
  return SubjectRun(bidsDir, outDir, plan, options, log).run();
}

bool upToDate(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs) {
  std::error_code error;
  fs::file_time_type newestInput = fs::file_time_type::min();
  for (const std::string& input : inputs) {
    const fs::file_time_type time = fs::last_write_time(input, error);
    if (error) return false;
    newestInput = std::max(newestInput, time);
  }
  for (const std::string& output : outputs) {
    const fs::file_time_type time = fs::last_write_time(output, error);
    if (error || time < newestInput) return false;
  }
  return true;
}

}  // namespace daxo::pipeline
