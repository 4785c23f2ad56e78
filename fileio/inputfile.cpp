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

}  // namespace daxo
