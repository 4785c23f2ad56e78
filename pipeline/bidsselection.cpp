#include "pipeline/bidsselection.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

#include "fileio/nifti/bidssidecar.h"
#include "pipeline/bidsplan.h"

namespace daxo::pipeline {

namespace {

// pybids' entity names and BIDS's short keys, to the short keys file names use.
const std::map<std::string, std::string>& entityKeys() {
  static const std::map<std::string, std::string> keys{
      {"subject", "sub"}, {"sub", "sub"},         {"session", "ses"},       {"ses", "ses"},
      {"task", "task"},   {"acquisition", "acq"}, {"acq", "acq"},           {"ceagent", "ce"},
      {"ce", "ce"},       {"direction", "dir"},   {"dir", "dir"},           {"reconstruction", "rec"},
      {"rec", "rec"},     {"run", "run"},         {"echo", "echo"},         {"part", "part"},
      {"space", "space"}, {"suffix", "suffix"},   {"datatype", "datatype"}, {"extension", "extension"}};
  return keys;
}

nlohmann::json readJson(const std::string& path, const char* what) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open the " + std::string(what) + " " + path);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  try {
    return nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& e) {
    throw std::runtime_error(path + ": not valid JSON (" + e.what() + ")");
  }
}

// Checks a set of constraints and returns it with short keys.
nlohmann::json checkedConstraints(const nlohmann::json& constraints, const std::string& path,
                                  const std::string& where) {
  if (!constraints.is_object()) throw std::runtime_error(path + ": " + where + " is not an object of entities");
  nlohmann::json checked = nlohmann::json::object();
  for (const auto& [name, value] : constraints.items()) {
    const auto key = entityKeys().find(name);
    if (key == entityKeys().end()) {
      throw std::runtime_error(path + ": " + where + " names '" + name +
                               "', which is not a BIDS entity (subject, session, task, acquisition, run, "
                               "direction, ...)");
    }
    const auto valueOk = [](const nlohmann::json& v) { return v.is_string() || v.is_number_integer(); };
    bool ok = value.is_null() || valueOk(value);
    if (value.is_array()) {
      ok = !value.empty();
      for (const auto& v : value) ok = ok && valueOk(v);
    }
    if (!ok) {
      throw std::runtime_error(path + ": " + where + "." + name + " is " + value.dump() +
                               "; expected a value, a list of values, null or \"*\"");
    }
    checked[key->second] = value;
  }
  return checked;
}

std::string valueText(const nlohmann::json& v) { return v.is_string() ? v.get<std::string>() : v.dump(); }

// Labels compare as text, except that numbers match any zero padding
// ("01" and 1 are the same run).
bool sameLabel(const std::string& label, const nlohmann::json& wanted) {
  const std::string text = valueText(wanted);
  if (label == text) return true;
  const auto digits = [](const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
  };
  return digits(label) && digits(text) && std::stoull(label) == std::stoull(text);
}

// The value of `key` for the image at `path`; "" when it has none.
std::string labelOf(const BidsName& name, const std::string& path, const std::string& key) {
  if (key == "suffix") return name.suffix;
  if (key == "extension") return name.extension;
  if (key == "datatype") return std::filesystem::path(path).parent_path().filename().string();
  return name.entity(key);
}

bool matches(const nlohmann::json& constraints, const std::string& path) {
  const std::optional<BidsName> name = parseBidsName(std::filesystem::path(path).filename().string());
  if (!name) return false;
  for (const auto& [key, wanted] : constraints.items()) {
    const std::string label = labelOf(*name, path, key);
    if (wanted.is_null()) {
      if (!label.empty()) return false;
    } else if (wanted.is_string() && wanted.get<std::string>() == "*") {
      if (label.empty()) return false;
    } else if (wanted.is_array()) {
      bool any = false;
      for (const auto& v : wanted) any = any || sameLabel(label, v);
      if (!any) return false;
    } else if (!sameLabel(label, wanted)) {
      return false;
    }
  }
  return true;
}

// The filter file's query for an image: fmap (fmap/*_epi), dwi, bold or
// sbref (func/); "" for others.
std::string queryOf(const std::string& path) {
  const std::optional<BidsName> name = parseBidsName(std::filesystem::path(path).filename().string());
  if (!name) return "";
  const std::string datatype = std::filesystem::path(path).parent_path().filename().string();
  if (datatype == "fmap") return name->suffix == "epi" ? "fmap" : "";
  if (datatype == "dwi") return "dwi";
  if (datatype == "func" && (name->suffix == "bold" || name->suffix == "sbref")) return name->suffix;
  return "";
}

// The queries a filter file may hold: those queryOf gives, and those other
// BIDS apps' filter files hold for images this program does not read (a
// shared file keeps them). Any other name is a typo that would select nothing.
bool knownQuery(const std::string& query) {
  static const char* const names[] = {"fmap",  "dwi", "bold",   "sbref", "t1w", "t2w",
                                      "flair", "roi", "t2star", "epi",   "asl", "m0scan"};
  for (const char* name : names) {
    if (query == name) return true;
  }
  return false;
}

nlohmann::json checkedMetadata(const nlohmann::json& metadata, const std::string& path, const std::string& where) {
  if (!metadata.is_object() || metadata.empty()) {
    throw std::runtime_error(path + ": " + where +
                             " must be an object giving PhaseEncodingDirection or "
                             "TotalReadoutTime");
  }
  for (const auto& [key, value] : metadata.items()) {
    if (key == "PhaseEncodingDirection") {
      const auto direction = value.is_string() ? parsePhaseEncodingDirection(value.get<std::string>()) : std::nullopt;
      if (!direction || direction->axis == 2) {
        throw std::runtime_error(path + ": " + where + ".PhaseEncodingDirection is " + value.dump() +
                                 "; expected one of i, i-, j, j-");
      }
    } else if (key == "TotalReadoutTime") {
      if (!value.is_number() || !(value.get<double>() > 0.0) || value.get<double>() > 1.0) {
        throw std::runtime_error(path + ": " + where + ".TotalReadoutTime is " + value.dump() +
                                 "; expected seconds, above 0 and at most 1");
      }
    } else {
      throw std::runtime_error(path + ": " + where + " supplies " + key +
                               "; only PhaseEncodingDirection and TotalReadoutTime can be supplied");
    }
  }
  return metadata;
}

}  // namespace

BidsSelection readBidsSelection(const std::string& filterPath, const std::string& metadataPath) {
  BidsSelection selection;
  if (!filterPath.empty()) {
    selection.filterPath = filterPath;
    const nlohmann::json filters = readJson(filterPath, "filter file");
    if (!filters.is_object()) throw std::runtime_error(filterPath + ": not an object of queries (\"dwi\": {...})");
    for (const auto& [query, constraints] : filters.items()) {
      if (!knownQuery(query)) {
        throw std::runtime_error(filterPath + ": '" + query +
                                 "' is no query; the images are selected by fmap, dwi, bold and sbref (t1w, t2w, "
                                 "flair, roi and the like are taken and select nothing here)");
      }
      selection.filters[query] = checkedConstraints(constraints, filterPath, query);
    }
  }
  if (!metadataPath.empty()) {
    selection.metadataPath = metadataPath;
    const nlohmann::json rules = readJson(metadataPath, "metadata file");
    if (!rules.is_array()) {
      throw std::runtime_error(metadataPath + ": not a list of rules ([{\"match\": {...}, \"metadata\": {...}}])");
    }
    for (size_t k = 0; k < rules.size(); ++k) {
      const std::string where = "rule " + std::to_string(k + 1);
      const nlohmann::json& rule = rules[k];
      if (!rule.is_object() || !rule.contains("match") || !rule.contains("metadata")) {
        throw std::runtime_error(metadataPath + ": " + where + " needs \"match\" and \"metadata\"");
      }
      selection.rules.push_back({checkedConstraints(rule["match"], metadataPath, where + ".match"),
                                 checkedMetadata(rule["metadata"], metadataPath, where + ".metadata")});
    }
  }
  return selection;
}

bool keptByFilter(const BidsSelection& selection, const std::string& path) {
  const auto query = selection.filters.find(queryOf(path));
  return query == selection.filters.end() || matches(*query, path);
}

nlohmann::json suppliedMetadata(const BidsSelection& selection, const std::string& path) {
  nlohmann::json supplied = nlohmann::json::object();
  for (const BidsSelection::Rule& rule : selection.rules) {
    if (matches(rule.match, path)) supplied.update(rule.metadata);
  }
  return supplied;
}

}  // namespace daxo::pipeline
