#include "fileio/filesummary.h"

#include <gtest/gtest.h>

#include "fileio/fileerrors.h"
#include "tests/fileio/fileimages.h"
#include "testsupport/thrownmessage.h"

namespace daxo {
namespace {

using testing::floatBytes;
using testing::headerText;
using testing::int16Bytes;
using testing::TempFolder;
using testing::thrownMessage;
using testing::uint16Bytes;
using testing::writeFile;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string fmrText(const std::string& volumes, const std::string& slices) {
  return headerText({"NrOfVolumes: " + volumes, "NrOfSlices: " + slices, "Prefix: \"run1\"", "DataType: 2",
                     "ResolutionX: 2", "ResolutionY: 3", "InplaneResolutionX: 3.5", "InplaneResolutionY: 3.5",
                     "SliceThickness: 3", "SliceGap: 0.5"});
}

TEST(FileSummary, FunctionalProjectWithCompleteShortOrLongData) {
  TempFolder folder;
  writeFile(folder.file("run1.fmr"), fmrText("2", "4"));
  writeFile(folder.file("run1.stc"), floatBytes(std::vector<float>(48)));
  std::string summary = summarizeFile(folder.file("run1.fmr"));
  EXPECT_TRUE(contains(summary, "FMR")) << summary;
  EXPECT_TRUE(contains(summary, "Extents (x, y, z): 2 x 3 x 4\n")) << summary;
  EXPECT_TRUE(contains(summary, "Volumes: 2\n")) << summary;
  EXPECT_TRUE(contains(summary, "Voxel size (mm): 3.5 x 3.5 x 3.5\n")) << summary;
  EXPECT_TRUE(contains(summary, "Data type: 32-bit float\n")) << summary;
  EXPECT_TRUE(contains(summary, folder.file("run1.stc") + " (complete, 192 bytes)")) << summary;
  EXPECT_FALSE(contains(summary, "Problem")) << summary;

  writeFile(folder.file("run1.stc"), floatBytes(std::vector<float>(47)));
  summary = summarizeFile(folder.file("run1.fmr"));
  EXPECT_TRUE(contains(summary, "(incomplete: 188 bytes of 192)")) << summary;

  // Regression: a header whose data type or extents are not its data's (the
  // file longer than it implies) was described without a problem.
  writeFile(folder.file("run1.stc"), floatBytes(std::vector<float>(96)));
  summary = summarizeFile(folder.file("run1.fmr"));
  EXPECT_TRUE(contains(summary, "Problem: the data file " + folder.file("run1.stc") +
                                    " is larger than its header implies (a wrong data type or extents)\n"))
      << summary;
}

TEST(FileSummary, NonsenseHeaderValuesAreNamed) {
  TempFolder folder;
  writeFile(folder.file("run1.fmr"), fmrText("2", "-4"));
  const std::string summary = summarizeFile(folder.file("run1.fmr"));
  EXPECT_TRUE(contains(summary, "Problem: NrOfSlices is -4\n")) << summary;
  EXPECT_TRUE(contains(summary, "(missing)")) << summary;

  writeFile(folder.file("empty.fmr"), "");
  const std::string empty = summarizeFile(folder.file("empty.fmr"));
  EXPECT_TRUE(contains(empty, "Problem: key NrOfVolumes: is missing\n")) << empty;
  EXPECT_TRUE(contains(empty, "Problem: InplaneResolutionX is 0\n")) << empty;
  EXPECT_TRUE(contains(empty, "Data type: 16-bit integer\n")) << empty;
}

TEST(FileSummary, DiffusionProjectWithUnreadableStorageFormat) {
  TempFolder folder;
  writeFile(folder.file("dwi.dmr"),
            headerText({"NrOfVolumes: 1", "NrOfSlices: 1", "Prefix: \"dwi\"", "DataStorageFormat: 2", "ResolutionX: 2",
                        "ResolutionY: 2", "InplaneResolutionX: 2", "InplaneResolutionY: 2", "SliceThickness: 2"}));
  writeFile(folder.file("dwi.dwi"), int16Bytes({1, 2, 3, 4}));
  const std::string summary = summarizeFile(folder.file("dwi.dmr"));
  EXPECT_TRUE(contains(summary, "DMR")) << summary;
  EXPECT_TRUE(contains(summary, "(complete, 8 bytes)")) << summary;
  EXPECT_TRUE(contains(summary, "Problem: DataStorageFormat is 2; only 3 can be read\n")) << summary;
}

TEST(FileSummary, MapFiles) {
  TempFolder folder;
  const std::string header =
      uint16Bytes({10000, 1, 2, 3, 1}) + floatBytes({0, 0}) + uint16Bytes({0, 2}) + "m" + std::string(1, '\0');
  const std::string slice = uint16Bytes({0}) + floatBytes(std::vector<float>(6));
  writeFile(folder.file("a.map"), header + slice);
  std::string summary = summarizeFile(folder.file("a.map"));
  EXPECT_TRUE(contains(summary, "Extents (x, y, z): 3 x 2 x 1\n")) << summary;
  EXPECT_TRUE(contains(summary, "(complete, ")) << summary;

  writeFile(folder.file("a.map"), header + slice.substr(0, 5));
  summary = summarizeFile(folder.file("a.map"));
  EXPECT_TRUE(contains(summary, "(incomplete: ")) << summary;

  writeFile(folder.file("a.map"), header.substr(0, 9));
  const std::string message = thrownMessage<IOError>([&] { summarizeFile(folder.file("a.map")); });
  EXPECT_TRUE(contains(message, folder.file("a.map"))) << message;
}

TEST(FileSummary, UnreadableFilesAreErrorsNamingThem) {
  TempFolder folder;
  writeFile(folder.file("notes.txt"), "text");
  for (const std::string& path : {folder.file("none.fmr"), folder.file("notes.txt"), folder.path()}) {
    const std::string message = thrownMessage<IOError>([&] { summarizeFile(path); });
    EXPECT_TRUE(contains(message, path)) << message;
  }
}

}  // namespace
}  // namespace daxo
