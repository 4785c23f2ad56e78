#include "tests/fileio/fileio_test_files.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace daxo::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::random_device random;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const fs::path candidate = base / ("daxo-fileio-" + std::to_string(random()) + std::to_string(random()));
    if (fs::create_directory(candidate)) {
      path_ = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempFolder::~TempFolder() {
  std::error_code ec;
  // Restore write permission first: some tests make files read-only.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::string TempFolder::file(const std::string& name) const { return path_ + "/" + name; }

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write test file " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read test file " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string headerText(const std::vector<std::string>& lines) {
  std::string text = "\r\n";
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

namespace {

// Each value's bit pattern, lowest byte first, whatever the host's order.
template <typename Bits, typename T>
std::string littleEndianBytes(const std::vector<T>& values) {
  static_assert(sizeof(Bits) == sizeof(T), "bit pattern of the same size");
  std::string bytes;
  for (T v : values) {
    Bits bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    for (size_t i = 0; i < sizeof bits; ++i) bytes.push_back(static_cast<char>((bits >> (8 * i)) & 0xffu));
  }
  return bytes;
}

}  // namespace

std::string int16Bytes(const std::vector<int16_t>& values) { return littleEndianBytes<uint16_t>(values); }
std::string uint16Bytes(const std::vector<uint16_t>& values) { return littleEndianBytes<uint16_t>(values); }
std::string int32Bytes(const std::vector<int32_t>& values) { return littleEndianBytes<uint32_t>(values); }
std::string floatBytes(const std::vector<float>& values) { return littleEndianBytes<uint32_t>(values); }

}  // namespace daxo::testing
