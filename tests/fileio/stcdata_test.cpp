#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <stdexcept>

#include "fileio/fileerrors.h"
#include "fileio/fmrheader.h"
#include "fileio/voxeldata.h"
#include "tests/fileio/fileimages.h"
#include "testsupport/thrownmessage.h"

namespace daxo {
namespace {

using testing::thrownMessage;

namespace fs = std::filesystem;
using testing::floatBytes;
using testing::headerText;
using testing::int16Bytes;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

std::vector<std::string> projectLines(int volumes, int slices, int columns, int rows, const std::string& dataType,
                                      const std::string& prefix = "\"run1\"") {
  std::vector<std::string> lines = {
      "FileVersion: 7",    "NrOfVolumes: " + std::to_string(volumes), "NrOfSlices: " + std::to_string(slices),
      "Prefix: " + prefix, "ResolutionX: " + std::to_string(columns), "ResolutionY: " + std::to_string(rows)};
  if (!dataType.empty()) lines.push_back("DataType: " + dataType);
  return lines;
}

std::vector<float> counting(int n) {
  std::vector<float> values;
  for (int i = 0; i < n; ++i) values.push_back(static_cast<float>(i));
  return values;
}

TEST(StcData, SliceMajorOrderOfTwoVolumesOfTwoSlices) {
  TempFolder folder;
  writeFile(folder.file("run1.fmr"), headerText(projectLines(2, 2, 2, 2, "2")));
  const std::string data = floatBytes(counting(16));
  writeFile(folder.file("run1.stc"), data);

  FMRHeader header;
  header.loadWithData(folder.file("run1.fmr"));
  ASSERT_EQ(header.volumes.size(), 2u);
  // Slice 0 of volume 0, slice 0 of volume 1, slice 1 of volume 0, slice 1 of
  // volume 1, each four voxels in row order.
  for (int t = 0; t < 2; ++t) {
    EXPECT_EQ(header.volumes[t].dimensions(), (Dimensions{2, 2, 2}));
    for (int z = 0; z < 2; ++z)
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(header.volumes[t](x, y, z), ((z * 2 + t) * 2 + y) * 2 + x);
  }
  header.saveAs(folder.file("copy.fmr"));
  EXPECT_EQ(readFile(folder.file("copy.stc")), data);
}

TEST(StcData, SixteenBitUnlessDataTypeIsTwo) {
  TempFolder folder;
  for (const std::string dataType : {"1", ""}) {
    writeFile(folder.file("run1.fmr"), headerText(projectLines(1, 1, 2, 1, dataType)));
    writeFile(folder.file("run1.stc"), std::string("\xff\xff\x00\x80", 4));
    FMRHeader header;
    header.loadWithData(folder.file("run1.fmr"));
    EXPECT_EQ(header.volumes[0](0, 0, 0), -1.0f) << "DataType " << dataType;
    EXPECT_EQ(header.volumes[0](1, 0, 0), -32768.0f);
    header.volumes[0](0, 0, 0) = 300.9f;
    header.saveAs(folder.file("copy.fmr"));
    EXPECT_EQ(readFile(folder.file("copy.stc")), int16Bytes({300, -32768}));
  }
}

// Out-of-range values used to wrap when written as 16-bit integers: 40000.7
// became -25536.
TEST(StcData, RegressionSixteenBitValuesSaturate) {
  EXPECT_EQ(toStoredInt16(40000.7f), 32767);
  EXPECT_EQ(toStoredInt16(-40000.7f), -32768);
  EXPECT_EQ(toStoredInt16(32767.9f), 32767);
  EXPECT_EQ(toStoredInt16(-32768.9f), -32768);
  EXPECT_EQ(toStoredInt16(123.9f), 123);
  EXPECT_EQ(toStoredInt16(-123.9f), -123);
  EXPECT_EQ(toStoredInt16(std::numeric_limits<float>::infinity()), 32767);
  EXPECT_EQ(toStoredInt16(-std::numeric_limits<float>::infinity()), -32768);
  EXPECT_EQ(toStoredInt16(std::nanf("")), 0);

  TempFolder folder;
  writeFile(folder.file("run1.fmr"), headerText(projectLines(1, 1, 2, 1, "1")));
  FMRHeader header;
  header.loadHeader(folder.file("run1.fmr"));
  header.volumes.emplace_back(2, 1, 1);
  header.volumes[0](0, 0, 0) = 40000.7f;
  header.volumes[0](1, 0, 0) = -1e9f;
  header.save();
  header.loadWithData(folder.file("run1.fmr"));
  EXPECT_EQ(header.volumes[0](0, 0, 0), 32767.0f);
  EXPECT_EQ(header.volumes[0](1, 0, 0), -32768.0f);
}

TEST(StcData, NoVolumesMeansNoDataFileWritten) {
  TempFolder folder;
  writeFile(folder.file("run1.fmr"), headerText(projectLines(0, 2, 2, 2, "2")));
  writeFile(folder.file("run1.stc"), "");
  FMRHeader header;
  header.loadWithData(folder.file("run1.fmr"));
  EXPECT_TRUE(header.volumes.empty());
  header.saveAs(folder.file("copy.fmr"));
  EXPECT_TRUE(fs::exists(folder.file("copy.fmr")));
  EXPECT_FALSE(fs::exists(folder.file("copy.stc")));
}

TEST(StcData, EmptyPrefixNamesADataFileOfOnlyTheExtension) {
  TempFolder folder;
  writeFile(folder.file("run1.fmr"), headerText(projectLines(1, 1, 1, 1, "2", "\"\"")));
  writeFile(folder.file(".stc"), floatBytes({5.0f}));
  FMRHeader header;
  header.loadWithData(folder.file("run1.fmr"));
  EXPECT_EQ(header.dataFileName(), folder.path() + "/.stc");
  EXPECT_EQ(header.volumes[0](0, 0, 0), 5.0f);
}

TEST(StcData, SaveAsRenamesPrefixAndDataFile) {
  TempFolder folder;
  writeFile(folder.file("run1.fmr"), headerText(projectLines(1, 1, 1, 1, "2")));
  writeFile(folder.file("run1.stc"), floatBytes({5.0f}));
  FMRHeader header;
  header.loadWithData(folder.file("run1.fmr"));
  header.saveAs(folder.file("run1_undist.fmr"));
  EXPECT_EQ(header.prefix.value, "run1_undist");
  EXPECT_EQ(header.fileName, folder.file("run1_undist.fmr"));
  EXPECT_EQ(readFile(folder.file("run1_undist.stc")), floatBytes({5.0f}));
  FMRHeader copy;
  copy.loadWithData(folder.file("run1_undist.fmr"));
  EXPECT_EQ(copy.prefix.value, "run1_undist");
  EXPECT_TRUE(copy.prefix.quoted);
  EXPECT_EQ(copy.volumes[0](0, 0, 0), 5.0f);
}

// A header without Prefix gave a copy whose header named no data file, so
// readers took the source's data for the copy's and the corrected data were
// orphaned.
TEST(StcData, RegressionSaveAsWithoutPrefixKeyNamesTheCopysDataFile) {
  TempFolder folder;
  writeFile(folder.file("run1.fmr"),
            headerText({"NrOfVolumes: 1", "NrOfSlices: 1", "ResolutionX: 1", "ResolutionY: 1"}));
  writeFile(folder.file(".stc"), int16Bytes({7}));
  FMRHeader header;
  header.loadWithData(folder.file("run1.fmr"));
  header.volumes[0](0, 0, 0) = 8.0f;
  header.saveAs(folder.file("run1_undist.fmr"));
  EXPECT_NE(readFile(folder.file("run1_undist.fmr")).find("Prefix: \"run1_undist\"\r\n"), std::string::npos);
  FMRHeader copy;
  copy.loadWithData(folder.file("run1_undist.fmr"));
  EXPECT_EQ(copy.dataFileName(), folder.file("run1_undist.stc"));
  EXPECT_EQ(copy.volumes[0](0, 0, 0), 8.0f);
  EXPECT_EQ(readFile(folder.file(".stc")), int16Bytes({7}));
}

TEST(StcData, SaveAsOverTheSourceKeepsItWhole) {
  TempFolder folder;
  writeFile(folder.file("run1.fmr"), headerText(projectLines(2, 2, 2, 2, "2")));
  writeFile(folder.file("run1.stc"), floatBytes(counting(16)));
  FMRHeader header;
  header.loadHeader(folder.file("run1.fmr"));
  header.saveAs(folder.file("run1.fmr"));  // loads the data before writing
  EXPECT_EQ(readFile(folder.file("run1.stc")), floatBytes(counting(16)));
  header.volumes[1](0, 0, 0) = -3.0f;
  header.saveAs(folder.file("run1.fmr"));
  FMRHeader again;
  again.loadWithData(folder.file("run1.fmr"));
  EXPECT_EQ(again.volumes[1](0, 0, 0), -3.0f);
  EXPECT_EQ(again.volumes[1](1, 1, 1), 15.0f);
}

// A data file shorter than its header implies used to be read past its end.
TEST(StcData, RegressionShortDataFileIsReportedWithBothSizes) {
  TempFolder folder;
  writeFile(folder.file("run1.fmr"), headerText(projectLines(2, 2, 2, 2, "2")));
  writeFile(folder.file("run1.stc"), floatBytes(counting(15)));
  FMRHeader header;
  header.loadHeader(folder.file("run1.fmr"));
  EXPECT_EQ(thrownMessage<ReadFileError>([&] { header.loadData(); }),
            "Data file too short: " + folder.file("run1.stc") + " has 60 bytes, the header implies 64");
  EXPECT_TRUE(header.volumes.empty());
  // A longer file is read; the extra bytes are ignored.
  writeFile(folder.file("run1.stc"), floatBytes(counting(17)));
  header.loadData();
  EXPECT_EQ(header.volumes[1](1, 1, 1), 15.0f);
}

// Header counts that cannot describe data used to reach the allocation.
TEST(StcData, RegressionNonsenseCountsAreRefusedBeforeAllocating) {
  TempFolder folder;
  writeFile(folder.file("run1.stc"), floatBytes(counting(16)));
  const std::vector<std::vector<std::string>> headers = {
      projectLines(-1, 2, 2, 2, "2"),         projectLines(2, -2, 2, 2, "2"),
      projectLines(2, 2, -2, 2, "2"),         projectLines(2, 2, 2, -2, "2"),
      projectLines(1, 2000, 2000, 2000, "2"), projectLines(2147483647, 1, 46340, 46340, "2"),
      projectLines(3, 0, 2, 2, "2"),
  };
  for (const auto& lines : headers) {
    writeFile(folder.file("run1.fmr"), headerText(lines));
    FMRHeader header;
    header.loadHeader(folder.file("run1.fmr"));  // a header alone is never refused
    const std::string message = thrownMessage<ReadFileError>([&] { header.loadData(); });
    EXPECT_NE(message.find(folder.file("run1.fmr")), std::string::npos) << message;
  }
}

TEST(StcData, MissingDataFileIsAnOpenError) {
  TempFolder folder;
  writeFile(folder.file("run1.fmr"), headerText(projectLines(1, 1, 1, 1, "2")));
  FMRHeader header;
  header.loadHeader(folder.file("run1.fmr"));  // the selection task reads no data
  EXPECT_EQ(thrownMessage<OpenFileError>([&] { header.loadWithData(folder.file("run1.fmr")); }),
            "Failed opening STC for reading: " + folder.file("run1.stc"));
  EXPECT_EQ(header.fileName, folder.file("run1.fmr"));
}

TEST(StcData, VolumesOfOtherExtentsAreRefusedBeforeWriting) {
  TempFolder folder;
  writeFile(folder.file("run1.fmr"), headerText(projectLines(1, 1, 1, 1, "2")));
  FMRHeader header;
  header.loadHeader(folder.file("run1.fmr"));
  header.volumes.emplace_back(2, 1, 1, 0.0f);
  EXPECT_THROW(header.saveAs(folder.file("copy.fmr")), std::logic_error);
  EXPECT_FALSE(fs::exists(folder.file("copy.fmr")));
  EXPECT_FALSE(fs::exists(folder.file("copy.stc")));
}

}  // namespace
// A 1 x 1 x 1 header claiming 2147483647 volumes beside a sparse 4 GiB file
// passed the size check, and loading then asked for tens of gigabytes of
// volume records: the user saw "std::bad_alloc". The memory needed is now
// compared with the computer's before anything is allocated.
TEST(StcData, RegressionHugeVolumeCountIsRefusedBeforeAllocating) {
  TempFolder folder;
  writeFile(folder.file("run1.fmr"), headerText({"NrOfVolumes: 2147483647", "NrOfSlices: 1", "Prefix: \"run1\"",
                                                 "ResolutionX: 1", "ResolutionY: 1"}));
  writeFile(folder.file("run1.stc"), "");
  std::error_code ec;
  std::filesystem::resize_file(folder.file("run1.stc"), uint64_t{2} * 2147483647u, ec);
  if (ec) GTEST_SKIP() << "no sparse 4 GiB file here: " << ec.message();
  FMRHeader header;
  const std::string message = thrownMessage<ReadFileError>([&] { header.loadWithData(folder.file("run1.fmr")); });
  EXPECT_EQ(
      message.rfind("Cannot load " + folder.file("run1.stc") + ": 2147483647 volumes of 1 x 1 x 1 voxels need ", 0), 0u)
      << message;
  EXPECT_NE(message.find(" of memory, more than this computer has ("), std::string::npos) << message;
}

// Found by fuzzing: no volumes of 2^31 - 1 empty slices made the slice-major
// reader count through every slice (seconds under the sanitizers); no volumes
// of float slices of 1.6 x 2.0 billion voxels overflowed the slice's byte
// count (64-bit signed) in the run reader.
TEST(StcData, RegressionNoVolumesOfManySlicesReadsNothing) {
  const char* const extents[][3] = {{"ResolutionX: 1", "ResolutionY: 1", "DataType: 1"},
                                    {"ResolutionX: 1596993870", "ResolutionY: 2021155679", "DataType: 2"}};
  for (const auto& e : extents) {
    SCOPED_TRACE(e[0]);
    TempFolder folder;
    writeFile(folder.file("run1.fmr"),
              headerText({"NrOfVolumes: 0", "NrOfSlices: 2147483647", "Prefix: \"run1\"", e[0], e[1], e[2]}));
    writeFile(folder.file("run1.stc"), "");
    FMRHeader header;
    header.loadWithData(folder.file("run1.fmr"));
    EXPECT_TRUE(header.volumes.empty());
  }
}

}  // namespace daxo
