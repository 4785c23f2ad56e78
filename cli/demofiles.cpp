#include "cli/demofiles.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "cli/command.h"

namespace daxo::cli {

namespace fs = std::filesystem;

DemoFiles::DemoFiles(const std::string& folder) : folder_(folder) {
  if (folder_.empty()) throw UsageError("demo: an empty folder name was given");
}

const std::vector<std::string>& DemoFiles::names() {
  static const std::vector<std::string> all = {
      "func_ap.fmr",        "func_ap.stc",        "func_pa.fmr",        "func_pa.stc",
      "dwi_ap.dmr",         "dwi_ap.dwi",         "true_vdm.map",       "func_ap_vdm.map",
      "func_pa_vdm.map",    "func_ap_undist.fmr", "func_ap_undist.stc", "func_pa_undist.fmr",
      "func_pa_undist.stc", "dwi_ap_undist.dmr",  "dwi_ap_undist.dwi",  "report.html"};
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

// Throws UsageError for the first entry the demo did not write.
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
    throw UsageError("demo: the folder " + folder + " holds '" + name +
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
  if (fs::exists(status)) throw UsageError("demo: " + folder + " exists and is not a folder");
  if (error && error != std::errc::no_such_file_or_directory) {
    throw std::runtime_error("demo: cannot use the folder " + folder + ": " + error.message());
  }
  fs::create_directories(folder, error);
  if (error) throw std::runtime_error("demo: cannot create the folder " + folder + ": " + error.message());
}

}  // namespace daxo::cli
