#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "fileio/paths.h"
#include "tests/fileio/fileimages.h"

namespace daxo {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempFolder;

// The folder of real scans shipped beside the project; the environment
// variable DAXO_SHARED_DATA_DIR points elsewhere (a build outside the usual
// checkout).
std::string sharedDataFolder() {
  const char* fromEnvironment = std::getenv("DAXO_SHARED_DATA_DIR");
  return fromEnvironment && *fromEnvironment ? fromEnvironment : DAXO_SHARED_DATA_DIR;
}

// The headers of the real scans.
std::vector<std::string> sharedProjects() {
  std::vector<std::string> paths;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(sharedDataFolder(), ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string path = it->path().string();
    if (hasExtension(path, "fmr") || hasExtension(path, "dmr")) paths.push_back(path);
  }
  return paths;
}

// The stored files end with an empty line that the writer does not add.
std::string withoutTrailingLineEnds(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

template <typename Header>
void expectRoundTrip(const std::string& path) {
  Header header;
  header.loadWithData(path);
  ASSERT_EQ(header.volumes.size(), static_cast<size_t>(header.nrOfVolumes.value)) << path;
  ASSERT_GT(header.volumes.size(), 0u) << path;
  EXPECT_EQ(header.volumes[0].dimensions(),
            (Dimensions{header.resolutionX.value, header.resolutionY.value, header.nrOfSlices.value}));

  std::ostringstream text;
  header.writeHeader(text);
  EXPECT_EQ(withoutTrailingLineEnds(text.str()), withoutTrailingLineEnds(readFile(path))) << path;

  TempFolder folder;
  const std::string copyPath = folder.file(fileNameOf(withSuffix(path, "_undist")));
  header.saveAs(copyPath);
  EXPECT_EQ(readFile(header.dataFileName()), readFile(withExtension(path, hasExtension(path, "fmr") ? "stc" : "dwi")))
      << path;
}

TEST(SharedData, RealHeadersAndDataRoundTrip) {
  const std::vector<std::string> paths = sharedProjects();
  if (paths.empty()) GTEST_SKIP() << "no shared data in " << sharedDataFolder();
  for (const std::string& path : paths) {
    if (hasExtension(path, "fmr")) {
      expectRoundTrip<FMRHeader>(path);
    } else {
      expectRoundTrip<DMRHeader>(path);
    }
  }
}

}  // namespace
}  // namespace daxo
