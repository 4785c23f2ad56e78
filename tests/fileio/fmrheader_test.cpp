#include "fileio/fmrheader.h"

#include <gtest/gtest.h>

#include "fileio/fileerrors.h"
#include "tests/fileio/fileimages.h"
#include "tests/fileio/headertext.h"
#include "testsupport/thrownmessage.h"

namespace daxo {
namespace {

using testing::headerText;
using testing::thrownMessage;

using FmrHeaderText = testing::HeaderTextTest<FMRHeader>;

// Every key the header knows, in writing order, with the block and a table.
std::string completeHeader() {
  return headerText({
      "FileVersion:                    7",
      "NrOfVolumes:                    2",
      "NrOfSlices:                     2",
      "NrOfSkippedVolumes:             0",
      "Prefix:                         \"run1\"",
      "DataStorageFormat:              2",
      "DataType:                       2",
      "TR:                             2000",
      "InterSliceTime:                 40",
      "TimeResolutionVerified:         1",
      "TE:                             30",
      "SliceAcquisitionOrder:          0",
      "SliceAcquisitionOrderVerified:  0",
      "ResolutionX:                    2",
      "ResolutionY:                    2",
      "LoadAMRFile:                    \"C:/anat/a b.amr\"",
      "ShowAMRFile:                    1",
      "ImageIndex:                     0",
      "LayoutNColumns:                 8",
      "LayoutNRows:                    6",
      "LayoutZoomLevel:                1",
      "SegmentSize:                    10",
      "SegmentOffset:                  0",
      "NrOfLinkedProtocols:            1",
      "ProtocolFile:                   \"C:/p/task.prt\"",
      "InplaneResolutionX:             3.125",
      "InplaneResolutionY:             3.125",
      "SliceThickness:                 3",
      "SliceGap:                       0.75",
      "VoxelResolutionVerified:        1",
      "",
      "",
      "PositionInformationFromImageHeaders",
      "",
      "PosInfosVerified:               1",
      "CoordinateSystem:               1",
      "Slice1CenterX:                  -0.5",
      "Slice1CenterY:                  12.25",
      "Slice1CenterZ:                  -40",
      "SliceNCenterX:                  -0.5",
      "SliceNCenterY:                  12.25",
      "SliceNCenterZ:                  74",
      "RowDirX:                        1",
      "RowDirY:                        0",
      "RowDirZ:                        0",
      "ColDirX:                        0",
      "ColDirY:                        0.996195",
      "ColDirZ:                        -0.0871557",
      "NRows:                          64",
      "NCols:                          64",
      "FoVRows:                        200",
      "FoVCols:                        200",
      "SliceThickness:                 2.5",
      "GapThickness:                   0.5",
      "",
      "",
      "NrOfPastSpatialTransformations: 0",
      "",
      "",
      "LeftRightConvention:            1",
      "",
      "",
      "FirstDataSourceFile:            \"C:/dicom/0001.dcm\"",
      "",
      "MultibandSequence:              1",
      "",
      "SliceTimingTableSize:           2",
      "0",
      "1000",
  });
}

TEST_F(FmrHeaderText, CompleteHeaderIsWrittenBackByteForByte) {
  const FMRHeader header = read(completeHeader());
  EXPECT_EQ(written(header), completeHeader());
  EXPECT_EQ(header.fileVersion.value, 7);
  EXPECT_EQ(header.prefix.value, "run1");
  EXPECT_TRUE(header.prefix.quoted);
  EXPECT_EQ(header.loadAMRFile.value, "C:/anat/a b.amr");
  EXPECT_TRUE(header.showAMRFile.value);
  EXPECT_EQ(header.sliceThickness.value, 3.0f);
  EXPECT_EQ(header.blockSliceThickness.value, 2.5f);
  EXPECT_EQ(header.sliceGap.value, 0.75f);
  EXPECT_EQ(header.colDirZ.value, -0.0871557f);
  EXPECT_EQ(header.sliceTimingTable, (std::vector<float>{0.0f, 1000.0f}));

  // Written, read and written again: the same.
  EXPECT_EQ(rewritten(header), completeHeader());
}

TEST_F(FmrHeaderText, AlignmentIsKeptAndTabsCountAsOneCharacter) {
  const FMRHeader header = read(headerText({"NrOfVolumes:    120", "TR:\t2000"}));
  EXPECT_EQ(header.nrOfVolumes.width, 16);
  EXPECT_EQ(header.nrOfVolumes.value, 120);
  EXPECT_EQ(header.tr.width, 4);
  EXPECT_EQ(written(header), headerText({"NrOfVolumes:    120", "TR: 2000"}));
}

TEST_F(FmrHeaderText, KeysComeOutInFixedOrderAndUnknownKeysAreDropped) {
  const FMRHeader header = read(
      headerText({"TR: 2000", "MyOwnKey: 5 words of value", "NrOfVolumes: 3", "DisplayVolume: 2", "FileVersion: 6"}));
  EXPECT_EQ(written(header), headerText({"FileVersion: 6", "NrOfVolumes: 3", "TR: 2000"}));
}

TEST_F(FmrHeaderText, QuotedAndUnquotedTextValues) {
  FMRHeader header = read(headerText({"Prefix: \"run 1\"", "ProtocolFile: run 2   \t"}));
  EXPECT_EQ(header.prefix.value, "run 1");
  EXPECT_TRUE(header.prefix.quoted);
  EXPECT_EQ(header.protocolFile.value, "run 2");
  EXPECT_FALSE(header.protocolFile.quoted);
  EXPECT_EQ(written(header), headerText({"Prefix: \"run 1\"", "ProtocolFile: run 2"}));

  // Text before the opening quote is lost; a lone quote keeps what follows.
  header = read(headerText({"Prefix: ab\"cd\"", "ProtocolFile: \"open end"}));
  EXPECT_EQ(header.prefix.value, "cd");
  EXPECT_TRUE(header.prefix.quoted);
  EXPECT_EQ(header.protocolFile.value, "open end");
  EXPECT_EQ(written(header), headerText({"Prefix: \"cd\"", "ProtocolFile: \"open end\""}));

  // Line feeds alone are accepted as line ends.
  header = read("\nPrefix: \"run1\"\nTR: 5\n");
  EXPECT_EQ(header.prefix.value, "run1");
  EXPECT_EQ(header.tr.value, 5);
}

TEST_F(FmrHeaderText, RepeatedKeyKeepsItsLastOccurrence) {
  const FMRHeader header = read(headerText(
      {"NrOfLinkedProtocols: 3", "ProtocolFile: \"a.prt\"", "ProtocolFile:  \"b.prt\"", "ProtocolFile: \"c.prt\""}));
  EXPECT_EQ(header.nrOfLinkedProtocols.value, 3);
  EXPECT_EQ(written(header), headerText({"NrOfLinkedProtocols: 3", "ProtocolFile: \"c.prt\""}));
}

TEST_F(FmrHeaderText, BlockHeadingOnlyWithPosInfosVerified) {
  FMRHeader header = read(headerText({"PositionInformationFromImageHeaders", "NRows: 64", "GapThickness: 0"}));
  EXPECT_TRUE(header.nRows.present);
  EXPECT_EQ(written(header), headerText({"NRows: 64", "GapThickness: 0", "", ""}));

  // Block keys before the heading are unknown keys.
  header = read(headerText({"NRows: 64", "TR: 1"}));
  EXPECT_FALSE(header.nRows.present);
  EXPECT_EQ(header.tr.value, 1);
}

TEST_F(FmrHeaderText, BlockWithoutGapThicknessSwallowsLaterKeys) {
  const FMRHeader header = read(headerText({"NrOfVolumes: 5", "PositionInformationFromImageHeaders", "NRows: 64",
                                            "NrOfSlices: 30", "ResolutionX: 64", "SliceThickness: 2"}));
  EXPECT_EQ(header.nrOfVolumes.value, 5);
  EXPECT_EQ(header.nRows.value, 64);
  EXPECT_FALSE(header.nrOfSlices.present);
  EXPECT_FALSE(header.resolutionX.present);
  EXPECT_FALSE(header.sliceThickness.present);
  EXPECT_EQ(header.blockSliceThickness.value, 2.0f);
}

TEST_F(FmrHeaderText, TokenAfterTheSliceTimingTableIsDiscarded) {
  FMRHeader header = read(headerText({"SliceTimingTableSize: 3", "0", "40", "80", "TR: 2000", "TE: 30"}));
  EXPECT_EQ(header.sliceTimingTable, (std::vector<float>{0.0f, 40.0f, 80.0f}));
  EXPECT_FALSE(header.tr.present);  // "TR:" was the discarded token; "2000" an unknown one
  EXPECT_TRUE(header.te.present);

  header = read(headerText({"SliceTimingTableSize: 0", "TR: 2000", "TE: 30"}));
  EXPECT_TRUE(header.sliceTimingTable.empty());
  EXPECT_FALSE(header.tr.present);
  EXPECT_EQ(header.te.value, 30);
  EXPECT_EQ(written(header), headerText({"TE: 30", "SliceTimingTableSize: 0"}));
}

TEST_F(FmrHeaderText, WriterWritesTheTableListNotTheAnnouncedCount) {
  FMRHeader header = read(headerText({"SliceTimingTableSize: 2", "0", "40"}));
  header.sliceTimingTable.push_back(80.5f);
  EXPECT_EQ(written(header), headerText({"SliceTimingTableSize: 2", "0", "40", "80.5"}));
}

TEST_F(FmrHeaderText, GluedKeyIsNotRecognised) {
  const FMRHeader header = read(headerText({"NrOfVolumes:120", "TR: 1"}));
  EXPECT_FALSE(header.nrOfVolumes.present);
  EXPECT_EQ(header.tr.value, 1);
}

TEST_F(FmrHeaderText, ValueOnTheNextLine) {
  const FMRHeader header = read(headerText({"NrOfVolumes:", "120", "Prefix:", "\"run1\"", "TE: 3"}));
  EXPECT_EQ(header.nrOfVolumes.value, 120);
  EXPECT_EQ(header.nrOfVolumes.width, 12);
  EXPECT_TRUE(header.prefix.present);
  EXPECT_EQ(header.prefix.value, "");
  EXPECT_EQ(header.te.value, 3);
}

// The writer used to pad a key only to its width, gluing the value to a key
// that was read with its value on the next line; the file then lost the key
// when read back.
TEST_F(FmrHeaderText, RegressionKeyWithoutBlankIsWrittenWithOne) {
  const FMRHeader header = read(headerText({"NrOfVolumes:", "120", "Prefix:", "\"run1\""}));
  EXPECT_EQ(written(header), headerText({"NrOfVolumes: 120", "Prefix:"}));
  EXPECT_EQ(read(written(header)).nrOfVolumes.value, 120);
}

// Absent keys used to leave their values unset.
TEST_F(FmrHeaderText, RegressionAbsentKeysHoldZeroAndFileVersionMinusOne) {
  const FMRHeader header = read(headerText({"TR: 2000"}));
  EXPECT_EQ(header.fileVersion.value, -1);
  EXPECT_FALSE(header.fileVersion.present);
  EXPECT_EQ(header.nrOfVolumes.value, 0);
  EXPECT_EQ(header.dataType.value, 0);
  EXPECT_EQ(header.inplaneResolutionX.value, 0.0f);
  EXPECT_FALSE(header.showAMRFile.value);
  EXPECT_EQ(header.prefix.value, "");
  EXPECT_EQ(header.nrOfVolumes.name, "");
  EXPECT_EQ(written(read("")), "\r\n");
}

// One malformed value used to end the reading silently: every key after it was
// lost, and a corrected copy went without its voxel sizes.
TEST_F(FmrHeaderText, RegressionMalformedValueIsAnErrorNamingTheKey) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"NrOfVolumes: 4", "LayoutNColumns: eight", "InplaneResolutionX: 2"},
       "LayoutNColumns has the value 'eight', which is not a 32-bit integer"},
      {{"TR: fast", "TE: 30"}, "TR has the value 'fast', which is not a 32-bit integer"},
      {{"ShowAMRFile: 2", "TE: 30"}, "ShowAMRFile has the value '2', which is not 0 or 1"},
      {{"SliceThickness: thick"}, "SliceThickness has the value 'thick', which is not a number"},
      {{"TR: 2000", "TR: x"}, "TR has the value 'x', which is not a 32-bit integer"},
  };
  for (const auto& [lines, problem] : cases) {
    testing::writeFile(folder_.file("bad.fmr"), headerText(lines));
    FMRHeader header;
    EXPECT_EQ(thrownMessage<ReadFileError>([&] { header.loadHeader(folder_.file("bad.fmr")); }),
              "Bad value in header " + folder_.file("bad.fmr") + ": " + problem);
  }
  // A key at the very end of the file has no value and is not present.
  const FMRHeader header = read("\r\nTR: 2000\r\nTE:");
  EXPECT_EQ(header.tr.value, 2000);
  EXPECT_FALSE(header.te.present);
}

TEST_F(FmrHeaderText, TruncatedHeadersKeepWhatWasRead) {
  const std::string text = completeHeader();
  for (size_t cut = 0; cut <= text.size(); cut += 7) {
    const FMRHeader header = read(text.substr(0, cut));
    // Whatever was read is written as a header that reads back the same.
    EXPECT_EQ(rewritten(header), written(header)) << "cut at " << cut;
  }
}

// A slice-timing table cut short used to leave its missing entries unset.
TEST_F(FmrHeaderText, RegressionShortSliceTimingTableGetsZeros) {
  const FMRHeader header = read(headerText({"SliceTimingTableSize: 4", "10", "20"}));
  EXPECT_EQ(header.sliceTimingTable, (std::vector<float>{10.0f, 20.0f, 0.0f, 0.0f}));
  const FMRHeader absurd = read(headerText({"SliceTimingTableSize: 2000000000", "10"}));
  EXPECT_EQ(absurd.sliceTimingTable.size(), 65536u);
}

TEST_F(FmrHeaderText, MissingHeaderIsAnOpenError) {
  FMRHeader header;
  EXPECT_EQ(thrownMessage<OpenFileError>([&] { header.loadHeader(folder_.file("none.fmr")); }),
            "Failed opening for reading: " + folder_.file("none.fmr"));
  EXPECT_THROW(header.loadHeader(folder_.path()), OpenFileError);
}

}  // namespace
}  // namespace daxo
