#pragma once

#include <optional>
#include <string>
#include <vector>

// The files `daxo demo` writes in its folder, and the rule that keeps it from
// writing into a folder with anything else in it.

namespace daxo::pipeline {

// Paths of the demo's files in one folder. The folder must not be empty.
class DemoFiles {
 public:
  explicit DemoFiles(const std::string& folder);

  const std::string& folder() const { return folder_; }

  // What the demo writes as input.
  std::string firstScan() const;   // functional series, first direction
  std::string secondScan() const;  // the same, opposite direction
  std::string diffusion() const;   // diffusion series, first direction
  std::string trueMap() const;     // d, the first scan's displacement

  // What the estimate and apply steps write beside their inputs.
  std::string estimatedMap() const;
  std::string correctedFirstScan() const;
  std::string correctedSecondScan() const;
  std::string correctedDiffusion() const;
  std::string reportPage() const;  // the quality page of the pair

  // The names (without folder) of every file the demo writes, data files and
  // the second scan's map included.
  static const std::vector<std::string>& names();

  // Every path above and the data files beside them.
  std::vector<std::string> allPaths() const;

 private:
  std::string path(const std::string& name) const;

  std::string folder_;
};

// Makes `folder` ready for the demo, which replaces its own files of an
// earlier run and touches nothing else: creates the folder (and its parents)
// when it does not exist; accepts an existing folder that holds nothing but
// regular files named as the demo's (DemoFiles::names()) and the file
// `logFile`, when given (daxo's --log file may lie there). Throws RequestError
// naming the folder and the first other entry (another file, a subfolder, a
// symbolic link: writing through it would change a file elsewhere) or saying
// that the path is no folder; std::runtime_error naming the folder when it
// cannot be created or read. Changes nothing when it throws.
void prepareDemoFolder(const std::string& folder, const std::optional<std::string>& logFile);

}  // namespace daxo::pipeline
