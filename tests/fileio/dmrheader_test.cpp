#include "fileio/dmrheader.h"

#include <gtest/gtest.h>

#include "fileio/fileerrors.h"
#include "tests/fileio/fileimages.h"
#include "tests/fileio/headertext.h"
#include "testsupport/thrownmessage.h"

namespace daxo {
namespace {

using testing::headerText;
using testing::int16Bytes;
using testing::readFile;
using testing::TempFolder;
using testing::thrownMessage;
using testing::writeFile;

using DmrHeaderText = testing::HeaderTextTest<DMRHeader>;

TEST_F(DmrHeaderText, GradientTableIsWrittenBackUnchanged) {
  const std::string text = headerText({
      "NrOfVolumes:                    2",
      "SegmentOffset:                  0",
      "DisplayVolume:                  1",
      "ProtocolFile:                   \"\"",
      "FirstDataSourceFile:            \"a.dcm\"",
      "",
      "GradientDirectionsVerified:     YES",
      "GradientXDirInterpretation:     2",
      "GradientYDirInterpretation:     3",
      "GradientZDirInterpretation:     1",
      "GradientInformationAvailable:   YES",
      "0 0 0 0",
      "0.5 0.5 0.7071 1000",
  });
  const DMRHeader header = read(text);
  EXPECT_EQ(written(header), text);
  EXPECT_EQ(header.displayVolume.value, 1);
  ASSERT_EQ(header.gradientDirections.size(), 2u);
  EXPECT_EQ(header.gradientDirections[1].z, 0.7071f);
  EXPECT_EQ(header.bValues, (std::vector<float>{0.0f, 1000.0f}));
}

TEST_F(DmrHeaderText, NoMeansNoTableButTheNextTokenIsStillDiscarded) {
  const DMRHeader header = read(headerText({"NrOfVolumes: 2", "GradientInformationAvailable: NO", "TR: 5", "TE: 6"}));
  EXPECT_FALSE(header.gradientInformationAvailable.value);
  EXPECT_TRUE(header.gradientDirections.empty());
  EXPECT_FALSE(header.tr.present);
  EXPECT_EQ(header.te.value, 6);
  EXPECT_EQ(written(header), headerText({"NrOfVolumes: 2", "TE: 6", "GradientInformationAvailable: NO"}));
}

TEST_F(DmrHeaderText, YesNoLooksOnlyAtTheFirstCharacter) {
  const struct {
    std::string value;
    bool yes;
  } cases[] = {{"NO", false}, {"no", false}, {"Nonsense 12", false}, {"nah", false}, {"YES", true}, {"yes", true},
               {"X", true},   {"", true}};
  for (const auto& c : cases) {
    const DMRHeader header = read(headerText({"GradientDirectionsVerified: " + c.value, "TE: 6"}));
    EXPECT_EQ(header.gradientDirectionsVerified.value, c.yes) << c.value;
    EXPECT_EQ(header.te.value, 6) << c.value;  // the rest of the line is skipped
  }
}

TEST_F(DmrHeaderText, TableNeedsNrOfVolumesBeforeIt) {
  const DMRHeader header = read(headerText({"GradientInformationAvailable: YES", "0 0 0 0", "NrOfVolumes: 1"}));
  EXPECT_TRUE(header.gradientDirections.empty());
}

TEST_F(DmrHeaderText, TableIsAStreamOfNumbersNotOfLines) {
  const DMRHeader header =
      read(headerText({"NrOfVolumes: 2", "GradientInformationAvailable: YES", "1 2 3 4 5", "6 7 8", "TE: 9"}));
  ASSERT_EQ(header.gradientDirections.size(), 2u);
  EXPECT_EQ(header.gradientDirections[1].x, 5.0f);
  EXPECT_EQ(header.bValues[1], 8.0f);
  EXPECT_FALSE(header.te.present);  // "TE:" is the discarded token
}

// The entry during which a short gradient table ended used to be kept with
// undefined contents.
TEST_F(DmrHeaderText, RegressionShortGradientTableKeepsOnlyCompleteEntries) {
  DMRHeader header = read(headerText({"NrOfVolumes: 3", "GradientInformationAvailable: YES", "1 0 0 1000", "0 1"}));
  ASSERT_EQ(header.gradientDirections.size(), 1u);
  EXPECT_EQ(header.bValues, (std::vector<float>{1000.0f}));
  // The last complete entry at the very end of the file counts.
  header = read("\r\nNrOfVolumes: 2\r\nGradientInformationAvailable: YES\r\n1 0 0 1000\r\n0 1 0 500");
  EXPECT_EQ(header.bValues, (std::vector<float>{1000.0f, 500.0f}));
}

TEST_F(DmrHeaderText, KeysOfTheOtherProjectKindAreDropped) {
  const DMRHeader header = read(headerText({"NrOfLinkedProtocols: 1", "MultibandSequence: 2", "TE: 6"}));
  EXPECT_EQ(written(header), headerText({"TE: 6"}));
}

std::vector<std::string> dwiLines(const std::string& storageFormat) {
  return {"NrOfVolumes: 2", "NrOfSlices: 2",  "Prefix: \"dwi\"",  "DataType: 1",
          "ResolutionX: 2", "ResolutionY: 2", "DisplayVolume: 0", "DataStorageFormat: " + storageFormat};
}

std::vector<int16_t> counting16(int n) {
  std::vector<int16_t> values;
  for (int i = 0; i < n; ++i) values.push_back(static_cast<int16_t>(i - 3));
  return values;
}

TEST(DwiData, VolumeMajorOrderRoundTrip) {
  TempFolder folder;
  writeFile(folder.file("dwi.dmr"), headerText(dwiLines("3")));
  writeFile(folder.file("dwi.dwi"), int16Bytes(counting16(16)));
  DMRHeader header;
  header.loadWithData(folder.file("dwi.dmr"));
  ASSERT_EQ(header.volumes.size(), 2u);
  for (int t = 0; t < 2; ++t)
    for (int z = 0; z < 2; ++z)
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(header.volumes[t](x, y, z), ((t * 2 + z) * 2 + y) * 2 + x - 3);
  header.saveAs(folder.file("dwi_undist.dmr"));
  EXPECT_EQ(readFile(folder.file("dwi_undist.dwi")), int16Bytes(counting16(16)));
  EXPECT_EQ(readFile(folder.file("dwi_undist.dmr")), headerText({
                                                         "NrOfVolumes: 2",
                                                         "NrOfSlices: 2",
                                                         "Prefix: \"dwi_undist\"",
                                                         "DataStorageFormat: 3",
                                                         "DataType: 1",
                                                         "ResolutionX: 2",
                                                         "ResolutionY: 2",
                                                         "DisplayVolume: 0",
                                                     }));
}

TEST(DwiData, OtherStorageFormatsFailOnlyWhenDataAreNeeded) {
  TempFolder folder;
  writeFile(folder.file("dwi.dmr"), headerText(dwiLines("2")));
  writeFile(folder.file("dwi.dwi"), int16Bytes(counting16(16)));
  DMRHeader header;
  header.loadHeader(folder.file("dwi.dmr"));
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(thrownMessage<ReadFileError>([&] {
                if (attempt == 0) header.loadData();
                if (attempt == 1) header.saveAs(folder.file("copy.dmr"));
              }),
              "Can only read DataStorageFormat 3, Not 2");
  }
  EXPECT_TRUE(header.volumes.empty());
  EXPECT_EQ(header.fileName, folder.file("dwi.dmr"));
}

TEST(DwiData, MissingOrShortDataFile) {
  TempFolder folder;
  writeFile(folder.file("dwi.dmr"), headerText(dwiLines("3")));
  DMRHeader header;
  EXPECT_EQ(thrownMessage<OpenFileError>([&] { header.loadWithData(folder.file("dwi.dmr")); }),
            "Failed opening for reading: " + folder.file("dwi.dwi"));
  writeFile(folder.file("dwi.dwi"), int16Bytes(counting16(15)));
  const std::string shortData = thrownMessage<ReadFileError>([&] { header.loadWithData(folder.file("dwi.dmr")); });
  EXPECT_NE(shortData.find(folder.file("dwi.dwi")), std::string::npos) << shortData;
}

}  // namespace
}  // namespace daxo
