#include "fileio/nifti/acqparams.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include "fileio/fileerrors.h"

namespace daxo {

namespace {

[[noreturn]] void refuse(const std::string& path, int line, const std::string& problem) {
  throw ReadFileError(path + ", line " + std::to_string(line) + ": " + problem);
}

AcquisitionRow parseRow(const std::string& text, const std::string& path, int line) {
  std::istringstream in(text);
  std::vector<double> numbers;
  std::string word;
  while (in >> word) {
    size_t used = 0;
    double value = 0.0;
    try {
      value = std::stod(word, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used != word.size() || !std::isfinite(value)) refuse(path, line, "'" + word + "' is not a number");
    numbers.push_back(value);
  }
  if (numbers.size() != 4) {
    refuse(path, line,
           "expected 4 numbers (the phase-encoding vector x y z and the readout time), found " +
               std::to_string(numbers.size()));
  }
  AcquisitionRow row;
  int nonzero = 0;
  for (int i = 0; i < 3; ++i) {
    const double v = numbers[static_cast<size_t>(i)];
    if (v == 0.0) continue;
    if (std::fabs(std::fabs(v) - 1.0) > 1e-6)
      refuse(path, line, "the phase-encoding vector must be +-1 along one axis");
    row.vector[i] = v > 0 ? 1 : -1;
    ++nonzero;
  }
  if (nonzero == 0) refuse(path, line, "the phase-encoding vector is zero");
  if (nonzero > 1) refuse(path, line, "the phase-encoding vector must be +-1 along one axis");
  if (row.vector[2] != 0) refuse(path, line, "phase encoding along z (the slice axis) is not supported");
  row.readoutSeconds = numbers[3];
  if (!(row.readoutSeconds > 0.0 && row.readoutSeconds < 1.0)) {
    refuse(path, line,
           "the readout time must be above 0 and below 1 s (0 stands for a scan without distortion, from which no "
           "field can be estimated)");
  }
  return row;
}

}  // namespace

std::vector<AcquisitionRow> readAcquisitionParameters(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw OpenFileError("Cannot open " + path);
  std::vector<AcquisitionRow> rows;
  std::string text;
  int line = 0;
  while (std::getline(file, text)) {
    ++line;
    if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
    rows.push_back(parseRow(text, path, line));
  }
  if (file.bad()) throw ReadFileError(path + ": read error");
  if (rows.empty()) throw ReadFileError(path + " holds no row");
  return rows;
}

PhaseEncodingDirection phaseEncodingOf(const AcquisitionRow& row, int determinantSign) {
  if (row.vector[0] != 0) return {0, determinantSign > 0 ? -row.vector[0] : row.vector[0]};
  return {1, row.vector[1]};
}

}  // namespace daxo
