#pragma once

#include <string>
#include <vector>

// Files and folders for tests that read and write real files.

namespace daxo::testing {

// A fresh folder under the system's temporary folder, removed with its
// content when the object goes (also when a test made files read-only).
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

// Writes (replaces) the file with exactly these bytes; throws
// std::runtime_error when that fails.
void writeFile(const std::string& path, const std::string& bytes);
// The file's bytes; throws std::runtime_error when it cannot be read.
std::string readFile(const std::string& path);
// The names of every entry of `folder` (files, folders, links), sorted.
std::vector<std::string> namesIn(const std::string& folder);

}  // namespace daxo::testing
