#include "fileio/inputfile.h"

#include <filesystem>
#include <locale>
#include <system_error>
#include <utility>
#include <vector>

#include "fileio/platformfile.h"

namespace daxo {

namespace {

// The tasks run on one thread at a time; the host calls the plugin from its
// user-interface thread.
struct TrackedInputs {
  int depth = 0;
  std::vector<std::pair<platform::FileIdentity, std::string>> files;
};

TrackedInputs& trackedInputs() {
  static TrackedInputs inputs;
  return inputs;
}

void rememberInput(const std::string& path) {
  TrackedInputs& t = trackedInputs();
  if (t.depth == 0) return;
  const platform::FileIdentity id = platform::identityOf(path);
  if (id.known) t.files.emplace_back(id, path);
}

}  // namespace

InputTracking::InputTracking() { ++trackedInputs().depth; }

InputTracking::~InputTracking() {
  TrackedInputs& t = trackedInputs();
  if (--t.depth == 0) t.files.clear();
}

std::string trackedInputSameAs(const std::string& path) {
  const TrackedInputs& t = trackedInputs();
  if (t.files.empty()) return "";
  const platform::FileIdentity id = platform::identityOf(path);
  for (const auto& [input, name] : t.files) {
    if (input == id) return name;
  }
  return "";
}

bool openInputFile(std::ifstream& in, const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return false;
  in.open(path, std::ios::binary);
  if (!in) return false;
  in.imbue(std::locale::classic());
  rememberInput(path);
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
