#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace daxo::testing {

// A fresh folder under the system's temporary directory, removed with its
// content when the object goes.
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

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);

// The lines joined with CR LF after each, after a first empty line, as
// headers are stored.
std::string headerText(const std::vector<std::string>& lines);

// Little-endian byte images of values, for building binary files.
std::string int16Bytes(const std::vector<int16_t>& values);
std::string uint16Bytes(const std::vector<uint16_t>& values);
std::string int32Bytes(const std::vector<int32_t>& values);
std::string floatBytes(const std::vector<float>& values);

}  // namespace daxo::testing
