#include "fileio/nifti/bidssidecar.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include "fileio/fileerrors.h"
#include "fileio/nifti/niftiimage.h"

namespace daxo {

namespace {

// `word` as a finite number; nothing when it is not one as a whole.
std::optional<double> finiteNumber(const std::string& word) {
  size_t used = 0;
  double v = 0.0;
  try {
    v = std::stod(word, &used);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (used != word.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw OpenFileError("Cannot open " + path);
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw ReadFileError(path + ": read error");
  return text.str();
}

// A positive, finite number under `key`, or nothing when the key is absent.
std::optional<double> positiveNumber(const nlohmann::json& doc, const char* key, const std::string& path) {
  const auto it = doc.find(key);
  if (it == doc.end() || it->is_null()) return std::nullopt;
  if (!it->is_number() || !std::isfinite(it->get<double>()) || it->get<double>() <= 0.0) {
    throw ReadFileError(path + ": " + key + " is " + it->dump() + "; expected a positive number");
  }
  return it->get<double>();
}

}  // namespace

std::optional<PhaseEncodingDirection> parsePhaseEncodingDirection(const std::string& text) {
  if (text.empty() || text.size() > 2 || (text.size() == 2 && text[1] != '-')) return std::nullopt;
  const std::string axes = "ijk";
  const size_t axis = axes.find(text[0]);
  if (axis == std::string::npos) return std::nullopt;
  return PhaseEncodingDirection{static_cast<int>(axis), text.size() == 2 ? -1 : 1};
}

std::string phaseEncodingText(const PhaseEncodingDirection& direction) {
  return std::string(1, "ijk"[direction.axis]) + (direction.sign < 0 ? "-" : "");
}

BidsSidecar readBidsSidecar(const std::string& path) {
  BidsSidecar s;
  s.path = path;
  try {
    s.document = nlohmann::json::parse(readText(path));
  } catch (const nlohmann::json::exception& e) {
    // Syntax errors and numbers beyond double's range (out_of_range) alike.
    throw ReadFileError(path + ": not valid JSON (" + e.what() + ")");
  }
  if (!s.document.is_object()) throw ReadFileError(path + ": not a JSON object");
  const nlohmann::json& doc = s.document;
  if (const auto it = doc.find("PhaseEncodingDirection"); it != doc.end()) {
    const auto direction = it->is_string() ? parsePhaseEncodingDirection(it->get<std::string>()) : std::nullopt;
    if (!direction) {
      throw ReadFileError(path + ": PhaseEncodingDirection is " + it->dump() + "; expected one of i, i-, j, j-, k, k-");
    }
    s.phaseEncodingDirection = direction;
  }
  if (const auto it = doc.find("PhaseEncodingAxis"); it != doc.end()) {
    const auto axis = it->is_string() ? parsePhaseEncodingDirection(it->get<std::string>()) : std::nullopt;
    if (!axis || axis->sign < 0) {
      throw ReadFileError(path + ": PhaseEncodingAxis is " + it->dump() + "; expected one of i, j, k");
    }
    s.phaseEncodingAxis = axis->axis;
  }
  s.totalReadoutTime = positiveNumber(doc, "TotalReadoutTime", path);
  s.effectiveEchoSpacing = positiveNumber(doc, "EffectiveEchoSpacing", path);
  if (const auto matrix = positiveNumber(doc, "ReconMatrixPE", path)) {
    if (*matrix != std::floor(*matrix) || *matrix < 2.0 || *matrix > 65536.0) {
      throw ReadFileError(path + ": ReconMatrixPE is " + doc["ReconMatrixPE"].dump() +
                          "; expected a whole number of at least 2");
    }
    s.reconMatrixPE = static_cast<int>(*matrix);
  }
  return s;
}

std::optional<ReadoutTime> readoutTimeOf(const BidsSidecar& sidecar, int peExtent) {
  if (sidecar.totalReadoutTime) return ReadoutTime{*sidecar.totalReadoutTime, "TotalReadoutTime"};
  if (!sidecar.effectiveEchoSpacing) return std::nullopt;
  if (sidecar.reconMatrixPE) {
    return ReadoutTime{*sidecar.effectiveEchoSpacing * (*sidecar.reconMatrixPE - 1),
                       "EffectiveEchoSpacing x (ReconMatrixPE - 1)"};
  }
  if (peExtent < 2) return std::nullopt;
  return ReadoutTime{*sidecar.effectiveEchoSpacing * (peExtent - 1),
                     "EffectiveEchoSpacing x (image extent along the phase-encoding axis - 1)"};
}

std::string sidecarPathOf(const std::string& niftiPath) { return niftiStem(niftiPath) + ".json"; }
std::string bvalPathOf(const std::string& niftiPath) { return niftiStem(niftiPath) + ".bval"; }
std::string bvecPathOf(const std::string& niftiPath) { return niftiStem(niftiPath) + ".bvec"; }

std::vector<double> readBValues(const std::string& path) {
  std::istringstream in(readText(path));
  std::vector<double> values;
  std::string word;
  while (in >> word) {
    const std::optional<double> v = finiteNumber(word);
    if (!v || *v < 0.0) throw ReadFileError(path + ": \"" + word + "\" is not a b-value");
    values.push_back(*v);
  }
  if (values.empty()) throw ReadFileError(path + ": no b-values");
  return values;
}

}  // namespace daxo

namespace daxo {

std::array<std::vector<double>, 3> readBVectors(const std::string& path) {
  std::istringstream in(readText(path));
  std::vector<std::vector<double>> rows;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::vector<double> row;
    std::string word;
    while (words >> word) {
      const std::optional<double> v = finiteNumber(word);
      if (!v) throw ReadFileError(path + ": \"" + word + "\" is not a number");
      row.push_back(*v);
    }
    if (!row.empty()) rows.push_back(std::move(row));
  }
  if (rows.size() != 3) {
    throw ReadFileError(path + ": " + std::to_string(rows.size()) + " rows of gradient directions, not 3 (x, y, z)");
  }
  if (rows[1].size() != rows[0].size() || rows[2].size() != rows[0].size())
    throw ReadFileError(path + ": the rows of gradient directions differ in length");
  return {std::move(rows[0]), std::move(rows[1]), std::move(rows[2])};
}

}  // namespace daxo
