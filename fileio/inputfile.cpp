#include "fileio/inputfile.h"

#include <filesystem>
#include <locale>
#include <system_error>

namespace daxo {

bool openInputFile(std::ifstream& in, const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return false;
  in.open(path, std::ios::binary);
  if (!in) return false;
  in.imbue(std::locale::classic());
  return true;
}

int64_t bytesLeft(std::istream& in) {
  const std::streampos here = in.tellg();
  if (here == std::streampos(-1)) return -1;
  in.seekg(0, std::ios::end);
  const std::streampos end = in.tellg();
  in.clear();
  in.seekg(here);
  if (end == std::streampos(-1)) return -1;
  return static_cast<int64_t>(end - here);
}

}  // namespace daxo
