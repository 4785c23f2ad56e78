#include "pipeline/demofiles.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "fileio/paths.h"
#include "pipeline/requesterror.h"

namespace daxo::pipeline {

namespace fs = std::filesystem;

DemoFiles::DemoFiles(const std::string& folder) : folder_(folder) {
  if (folder_.empty()) throw RequestError("demo: an empty folder name was given");
}

namespace {

constexpr const char* kFirstScan = "func_ap.fmr";
constexpr const char* kSecondScan = "func_pa.fmr";
constexpr const char* kDiffusion = "dwi_ap.dmr";
constexpr const char* kTrueMap = "true_vdm.map";
constexpr const char* kReportPage = "report.html";

// The names the plugin gives what it makes of a project.
std::string mapOf(const std::string& project) { return withSuffix(withExtension(project, "map"), kMapSuffix); }
std::string correctedOf(const std::string& project) { return withSuffix(project, kCorrectedSuffix); }

// A project's header and its data file.
void addProject(std::vector<std::string>& names, const std::string& header) {
  names.push_back(header);
  names.push_back(withExtension(header, hasExtension(header, "fmr") ? "stc" : "dwi"));
}

}  // namespace

std::string DemoFiles::firstScan() const { return path(kFirstScan); }
std::string DemoFiles::secondScan() const { return path(kSecondScan); }
std::string DemoFiles::diffusion() const { return path(kDiffusion); }
std::string DemoFiles::trueMap() const { return path(kTrueMap); }
std::string DemoFiles::estimatedMap() const { return path(mapOf(kFirstScan)); }
std::string DemoFiles::correctedFirstScan() const { return path(correctedOf(kFirstScan)); }
std::string DemoFiles::correctedSecondScan() const { return path(correctedOf(kSecondScan)); }
std::string DemoFiles::correctedDiffusion() const { return path(correctedOf(kDiffusion)); }
std::string DemoFiles::reportPage() const { return path(kReportPage); }

const std::vector<std::string>& DemoFiles::names() {
  static const std::vector<std::string> all = [] {
    std::vector<std::string> names;
    for (const char* project : {kFirstScan, kSecondScan, kDiffusion}) addProject(names, project);
    names.push_back(kTrueMap);
    for (const char* project : {kFirstScan, kSecondScan}) names.push_back(mapOf(project));
    for (const char* project : {kFirstScan, kSecondScan, kDiffusion}) addProject(names, correctedOf(project));
    names.push_back(kReportPage);
    return names;
  }();
  return all;
}

std::vector<std::string> DemoFiles::allPaths() const {
  std::vector<std::string> paths;
  for (const std::string& name : names()) paths.push_back(path(name));
  return paths;
}

std::string DemoFiles::path(const std::string& name) const {
  return folder_.back() == '/' ? folder_ + name : folder_ + "/" + name;
}

namespace {

bool isDemoName(const std::string& name) {
  const std::vector<std::string>& names = DemoFiles::names();
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool isLogFile(const fs::path& entry, const std::optional<std::string>& logFile) {
  std::error_code ignored;
  return logFile && fs::equivalent(entry, *logFile, ignored);
}

// Throws RequestError for the first entry the demo did not write.
void refuseForeignEntries(const std::string& folder, const std::optional<std::string>& logFile) {
  std::error_code error;
  fs::directory_iterator entries(folder, error);
  for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
    const fs::directory_entry& entry = *entries;
    const std::string name = entry.path().filename().string();
    if (isLogFile(entry.path(), logFile)) continue;
    std::error_code typeError;
    const bool regular = entry.symlink_status(typeError).type() == fs::file_type::regular;
    if (regular && isDemoName(name)) continue;
    throw RequestError("demo: the folder " + folder + " holds '" + name +
                       "', which is not a file of the demo; give a new or empty folder (the demo replaces only its "
                       "own files)");
  }
  if (error) throw std::runtime_error("demo: cannot read the folder " + folder + ": " + error.message());
}

}  // namespace

void prepareDemoFolder(const std::string& folder, const std::optional<std::string>& logFile) {
  std::error_code error;
  const fs::file_status status = fs::status(folder, error);
  if (fs::is_directory(status)) {
    refuseForeignEntries(folder, logFile);
    return;
  }
  if (fs::exists(status)) throw RequestError("demo: " + folder + " exists and is not a folder");
  if (error && error != std::errc::no_such_file_or_directory) {
    throw std::runtime_error("demo: cannot use the folder " + folder + ": " + error.message());
  }
  fs::create_directories(folder, error);
  if (error) throw std::runtime_error("demo: cannot create the folder " + folder + ": " + error.message());
}

}  // namespace daxo::pipeline
