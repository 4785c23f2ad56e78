#include "fileio/paths.h"

namespace daxo {

namespace {

const char* const kSeparators = "/\\";

}  // namespace

std::string directoryOf(const std::string& path) {
  const size_t slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string fileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string stripExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  return dot == std::string::npos ? path : path.substr(0, dot);
}

std::string withExtension(const std::string& path, const std::string& extension) {
  return stripExtension(path) + "." + extension;
}

std::string withSuffix(const std::string& path, const std::string& suffix) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) return path + suffix;
  return path.substr(0, dot) + suffix + path.substr(dot);
}

bool hasExtension(const std::string& path, const std::string& extension) {
  const std::string ending = "." + extension;
  return path.size() >= ending.size() && path.compare(path.size() - ending.size(), ending.size(), ending) == 0;
}

}  // namespace daxo
