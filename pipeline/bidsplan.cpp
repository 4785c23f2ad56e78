#include "pipeline/bidsplan.h"

#include <algorithm>
#include <map>
#include <set>

namespace daxo::pipeline {

namespace {

const BidsImage* findImage(const std::vector<BidsImage>& images, const std::string& path) {
  for (const BidsImage& image : images) {
    if (image.path == path) return &image;
  }
  return nullptr;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string fileOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "dwi" for "sub-01/ses-1/dwi/x.nii.gz".
std::string datatypeOf(const std::string& path) { return fileOf(folderOf(path)); }

// A sidecar value that is a string or a list of strings, as a list.
std::vector<std::string> stringList(const BidsImage& image, const char* key) {
  std::vector<std::string> values;
  if (!image.sidecar) return values;
  const nlohmann::json& doc = image.sidecar->document;
  const auto found = doc.find(key);
  if (found == doc.end()) return values;
  if (found->is_string()) values.push_back(found->get<std::string>());
  if (found->is_array()) {
    for (const nlohmann::json& item : *found) {
      if (item.is_string()) values.push_back(item.get<std::string>());
    }
  }
  return values;
}

// An IntendedFor entry as a dataset path: "bids::sub-01/func/x.nii.gz" is
// already one, "func/x.nii.gz" is relative to the subject's folder.
std::string intendedPath(const std::string& label, const std::string& entry) {
  const std::string uri = "bids::";
  if (entry.rfind(uri, 0) == 0) return entry.substr(uri.size());
  return "sub-" + label + "/" + entry;
}

// Why `image` cannot take part in a correction; "" when it can.
std::string unusable(const BidsImage& image) {
  if (!parseBidsName(fileOf(image.path))) return image.path + " does not have a BIDS file name (entities and a suffix)";
  if (!image.sidecarProblem.empty()) return image.sidecarProblem;
  const std::string json = sidecarPathOf(image.path);
  if (!image.sidecar) return json + " is missing: it must give PhaseEncodingDirection";
  if (image.sidecar->phaseEncodingDirection) return "";
  // A missing readout time stops the run later; said now, so that one fix
  // (a --metadata rule, say) can give both.
  const std::string noReadout = image.sidecar->totalReadoutTime || image.sidecar->effectiveEchoSpacing
                                    ? ""
                                    : "; it gives no readout time either (TotalReadoutTime or EffectiveEchoSpacing), "
                                      "which the field in Hz needs";
  if (image.sidecar->phaseEncodingAxis) {
    return json + " has PhaseEncodingAxis but no PhaseEncodingDirection: add the direction with its polarity (" +
           std::string(*image.sidecar->phaseEncodingAxis == 0 ? "i or i-" : "j or j-") + ")" + noReadout;
  }
  return json + " has no PhaseEncodingDirection" + noReadout;
}

std::string joined(const std::vector<const BidsImage*>& images) {
  std::string text;
  for (const BidsImage* image : images) text += (text.empty() ? "" : ", ") + image->path;
  return text;
}

class Planner {
 public:
  Planner(const std::string& label, const std::vector<BidsImage>& images) : images_(images) {
    plan_.label = label;
    for (const BidsImage& image : images) {
      if (!image.supplied.empty()) plan_.supplied[image.path] = image.supplied;
    }
  }

  SubjectPlan run() {
    planFieldmapPairs();
    planRunPairs();
    std::set<std::string> fields;
    for (const FieldPlan& field : plan_.fields) {
      if (!fields.insert(field.field).second) {
        plan_.problems.push_back("two pairs would both write " + field.field + ": give them distinct entities");
      }
    }
    return plan_;
  }

 private:
  void planFieldmapPairs() {
    std::map<std::string, std::vector<const BidsImage*>> groups;
    std::map<std::string, std::string> identifiers;
    for (const BidsImage& image : images_) {
      const std::optional<BidsName> name = parseBidsName(fileOf(image.path));
      if (datatypeOf(image.path) != "fmap" || !name || name->suffix != "epi") continue;
      const std::vector<std::string> id = stringList(image, "B0FieldIdentifier");
      const std::string key = id.empty() ? folderOf(image.path) + "/" + name->without("dir").text() : "id:" + id[0];
      groups[key].push_back(&image);
      if (!id.empty()) identifiers[key] = id[0];
    }
    for (const auto& [key, members] : groups) {
      if (members.size() == 1) {
        // An fmap image is there to correct runs: alone, the runs it is
        // meant for would stay uncorrected while the subject seemed done.
        plan_.problems.push_back(members[0]->path +
                                 " has no partner of opposite phase encoding (an image with the same entities but "
                                 "dir, or the same B0FieldIdentifier): no field can be estimated from it");
        continue;
      }
      const auto found = identifiers.find(key);
      const std::string identifier = found == identifiers.end() ? "" : found->second;
      std::vector<std::string> runs;
      for (const BidsImage* member : members) {
        for (const std::string& entry : stringList(*member, "IntendedFor")) {
          const std::string path = intendedPath(plan_.label, entry);
          if (!findImage(images_, path)) {
            plan_.problems.push_back(sidecarPathOf(member->path) + " names " + entry +
                                     " in IntendedFor, which is not an image of the dataset");
          } else if (std::find(runs.begin(), runs.end(), path) == runs.end()) {
            runs.push_back(path);
          }
        }
      }
      for (const BidsImage& image : images_) {
        const std::vector<std::string> sources = stringList(image, "B0FieldSource");
        if (!identifier.empty() && std::find(sources.begin(), sources.end(), identifier) != sources.end() &&
            std::find(runs.begin(), runs.end(), image.path) == runs.end()) {
          runs.push_back(image.path);
        }
      }
      addPair(members, fieldPathOf(*members[0]), runs);
    }
  }

  void planRunPairs() {
    std::map<std::string, std::vector<const BidsImage*>> groups;
    for (const BidsImage& image : images_) {
      const std::string datatype = datatypeOf(image.path);
      const std::optional<BidsName> name = parseBidsName(fileOf(image.path));
      if ((datatype != "dwi" && datatype != "func") || !name || name->entity("dir").empty()) continue;
      if (corrected_.count(image.path) != 0) continue;
      groups[folderOf(image.path) + "/" + name->without("dir").text()].push_back(&image);
    }
    for (const auto& [key, members] : groups) {
      if (members.size() == 1) {
        plan_.notes.push_back(members[0]->path + " has no partner of opposite phase encoding: left alone");
        continue;
      }
      std::vector<std::string> runs;
      for (const BidsImage* member : members) runs.push_back(member->path);
      addPair(members, fieldPathOf(*members[0]), runs);
    }
  }

  // The field of a pair: in the fmap folder beside the first image's folder,
  // named by its entities but dir, with the suffix fieldmap and desc-daxo
  // (fmap pairs) or desc-daxo and the runs' suffix (pairs of dwi or func runs,
  // "desc-daxodwi"), so that the fields of an fmap pair and of a dwi pair
  // with the same entities keep apart.
  static std::string fieldPathOf(const BidsImage& first) {
    const BidsName source = *parseBidsName(fileOf(first.path));
    const std::string datatype = datatypeOf(first.path);
    BidsName name = source.without("dir").withDesc(datatype == "fmap" ? "daxo" : "daxo" + source.suffix);
    name.suffix = "fieldmap";
    name.extension = ".nii.gz";
    return folderOf(folderOf(first.path)) + "/fmap/" + name.text();
  }

  void addPair(const std::vector<const BidsImage*>& members, const std::string& field, std::vector<std::string> runs) {
    const bool named = !runs.empty();
    // A run has one corrected copy: the first field meant for it makes it.
    runs.erase(std::remove_if(runs.begin(), runs.end(),
                              [&](const std::string& run) {
                                const auto taken = corrected_.find(run);
                                if (taken == corrected_.end()) return false;
                                plan_.notes.push_back(run + " is meant for " + taken->second + " and for " + field +
                                                      ": corrected with the first");
                                return true;
                              }),
               runs.end());
    if (members.size() != 2) {
      plan_.problems.push_back("cannot tell which of " + joined(members) + " pair up: more than two share " +
                               fileOf(field).substr(0, fileOf(field).find("_desc-")));
      return;
    }
    bool usable = true;
    for (const BidsImage* member : members) usable = checked(*member) && usable;
    for (const std::string& run : runs) usable = checked(*findImage(images_, run)) && usable;
    if (!usable) return;
    const PhaseEncodingDirection a = *members[0]->sidecar->phaseEncodingDirection;
    const PhaseEncodingDirection b = *members[1]->sidecar->phaseEncodingDirection;
    if (a.axis != b.axis || a.sign == b.sign || a.axis == 2) {
      plan_.problems.push_back(members[0]->path + " (" + phaseEncodingText(a) + ") and " + members[1]->path + " (" +
                               phaseEncodingText(b) +
                               ") do not form a pair: they must be encoded along i or j in opposite directions");
      return;
    }
    if (!named) {
      plan_.notes.push_back(members[0]->path + " and " + members[1]->path +
                            " are meant for no run (no IntendedFor, no B0FieldSource naming them): their field is "
                            "estimated all the same");
    }
    for (const std::string& run : runs) corrected_.emplace(run, field);
    plan_.fields.push_back({members[0]->path, members[1]->path, field, runs});
  }

  // Records why `image` is unusable, once; true when it is usable.
  bool checked(const BidsImage& image) {
    const std::string problem = unusable(image);
    if (problem.empty()) return true;
    if (std::find(plan_.problems.begin(), plan_.problems.end(), problem) == plan_.problems.end()) {
      plan_.problems.push_back(problem);
    }
    return false;
  }

  const std::vector<BidsImage>& images_;
  SubjectPlan plan_;
  std::map<std::string, std::string> corrected_;  // run -> the field that corrects it
};

}  // namespace

std::string BidsName::entity(const std::string& key) const {
  for (const auto& [k, v] : entities) {
    if (k == key) return v;
  }
  return "";
}

BidsName BidsName::without(const std::string& key) const {
  BidsName name = *this;
  name.entities.erase(std::remove_if(name.entities.begin(), name.entities.end(),
                                     [&](const auto& entity) { return entity.first == key; }),
                      name.entities.end());
  return name;
}

BidsName BidsName::withDesc(const std::string& desc) const {
  BidsName name = without("desc");
  name.entities.emplace_back("desc", desc);
  return name;
}

std::string BidsName::text() const {
  std::string text;
  for (const auto& [key, value] : entities) text += key + "-" + value + "_";
  return text + suffix + extension;
}

std::optional<BidsName> parseBidsName(const std::string& fileName) {
  const size_t dot = fileName.find('.');
  BidsName name;
  name.extension = dot == std::string::npos ? "" : fileName.substr(dot);
  const std::string stem = fileName.substr(0, dot);
  size_t start = 0;
  while (true) {
    const size_t end = stem.find('_', start);
    const std::string part = stem.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end == std::string::npos) {
      if (part.empty() || part.find('-') != std::string::npos || name.entities.empty()) return std::nullopt;
      name.suffix = part;
      return name;
    }
    const size_t dash = part.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == part.size()) return std::nullopt;
    name.entities.emplace_back(part.substr(0, dash), part.substr(dash + 1));
    start = end + 1;
  }
}

SubjectPlan planSubject(const std::string& label, const std::vector<BidsImage>& images) {
  return Planner(label, images).run();
}

std::string undistortedPath(const std::string& run) {
  BidsName name = parseBidsName(fileOf(run))->withDesc("undistorted");
  name.extension = ".nii.gz";
  return folderOf(run) + "/" + name.text();
}

std::string rawDatasetUri(const std::string& path) { return "bids:" + std::string(kRawDatasetName) + ":" + path; }

std::string derivativeUri(const std::string& path) { return "bids::" + path; }

std::string fieldIdentifierOf(const FieldPlan& field) {
  const std::string name = fileOf(field.field);
  return name.substr(0, name.rfind("_fieldmap"));
}

std::string fieldPagePath(const FieldPlan& field) {
  const std::string subject = field.field.substr(0, field.field.find('/'));
  std::string page = fileOf(field.field);
  page = page.substr(0, page.find('.'));
  return subject + "/figures/" + page + ".html";
}

}  // namespace daxo::pipeline
