#include "tests/fuzz/fuzzinput.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace daxo::fuzzing {

const std::string& scratchFolder() {
  static const std::string folder = [] {
    const std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    const std::string path = base + "/daxo-fuzz-" + std::to_string(getpid()) + "/";
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

std::string writeScratchFile(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = scratchFolder() + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);
  return path;
}

}  // namespace daxo::fuzzing
