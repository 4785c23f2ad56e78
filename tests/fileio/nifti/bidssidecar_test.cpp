#include "fileio/nifti/bidssidecar.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "fileio/fileerrors.h"
#include "fileio/nifti/niftiimage.h"
#include "testsupport/testfiles.h"
#include "testsupport/thrownmessage.h"

namespace daxo {
namespace {

using testing::TempFolder;
using testing::thrownMessage;

TEST(PhaseEncodingDirection, EveryBidsSpellingAndNothingElse) {
  const struct {
    const char* text;
    int axis, sign;
  } valid[] = {{"i", 0, 1}, {"i-", 0, -1}, {"j", 1, 1}, {"j-", 1, -1}, {"k", 2, 1}, {"k-", 2, -1}};
  for (const auto& c : valid) {
    const auto d = parsePhaseEncodingDirection(c.text);
    ASSERT_TRUE(d) << c.text;
    EXPECT_EQ(*d, (PhaseEncodingDirection{c.axis, c.sign}));
    EXPECT_EQ(phaseEncodingText(*d), c.text);
  }
  for (const char* text : {"", "y", "j+", "-j", "jj", "J", "i--"}) EXPECT_FALSE(parsePhaseEncodingDirection(text));
}

TEST(BidsSidecar, ReadoutTimeFromEachSourceInTurn) {
  TempFolder folder;
  const struct {
    const char* json;
    int peExtent;
    double seconds;
    const char* source;
  } cases[] = {
      {R"({"TotalReadoutTime": 0.0475693, "EffectiveEchoSpacing": 1})", 72, 0.0475693, "TotalReadoutTime"},
      {R"({"EffectiveEchoSpacing": 0.0005, "ReconMatrixPE": 81})", 72, 0.04,
       "EffectiveEchoSpacing x (ReconMatrixPE - 1)"},
      {R"({"EffectiveEchoSpacing": 0.0005})", 101, 0.05,
       "EffectiveEchoSpacing x (image extent along the phase-encoding axis - 1)"},
  };
  for (const auto& c : cases) {
    const std::string path = folder.file("s.json");
    testing::writeFile(path, c.json);
    const auto readout = readoutTimeOf(readBidsSidecar(path), c.peExtent);
    ASSERT_TRUE(readout) << c.json;
    EXPECT_DOUBLE_EQ(readout->seconds, c.seconds);
    EXPECT_EQ(readout->source, c.source);
  }
  testing::writeFile(folder.file("none.json"), R"({"PhaseEncodingAxis": "j"})");
  const BidsSidecar axisOnly = readBidsSidecar(folder.file("none.json"));
  EXPECT_FALSE(readoutTimeOf(axisOnly, 80));
  EXPECT_EQ(axisOnly.phaseEncodingAxis, 1);
  EXPECT_FALSE(axisOnly.phaseEncodingDirection);
}

TEST(BidsSidecar, BadContentIsNamedWithTheFileAndTheKey) {
  TempFolder folder;
  const std::string path = folder.file("bad.json");
  const struct {
    const char* json;
    const char* problem;
  } cases[] = {
      {R"({"PhaseEncodingDirection": "y"})", ": PhaseEncodingDirection is \"y\"; expected one of i, i-, j, j-, k, k-"},
      {R"({"PhaseEncodingDirection": 1})", ": PhaseEncodingDirection is 1; expected one of i, i-, j, j-, k, k-"},
      {R"({"PhaseEncodingAxis": "j-"})", ": PhaseEncodingAxis is \"j-\"; expected one of i, j, k"},
      {R"({"TotalReadoutTime": "fast"})", ": TotalReadoutTime is \"fast\"; expected a positive number"},
      {R"({"TotalReadoutTime": -0.05})", ": TotalReadoutTime is -0.05; expected a positive number"},
      {R"({"ReconMatrixPE": 80.5, "EffectiveEchoSpacing": 0.001})",
       ": ReconMatrixPE is 80.5; expected a whole number of at least 2"},
      {R"([1, 2])", ": not a JSON object"},
  };
  for (const auto& c : cases) {
    testing::writeFile(path, c.json);
    EXPECT_EQ(thrownMessage<ReadFileError>([&] { readBidsSidecar(path); }), path + c.problem) << c.json;
  }
  // The second is a regression: a number beyond double's range escaped as an uncaught library exception.
  for (const char* broken : {R"({"TotalReadoutTime": 0.04,)", R"({"TotalReadoutTime": 27e0480484110})"}) {
    testing::writeFile(path, broken);
    EXPECT_EQ(thrownMessage<ReadFileError>([&] { readBidsSidecar(path); }).rfind(path + ": not valid JSON (", 0), 0u)
        << broken;
  }
  EXPECT_EQ(thrownMessage<OpenFileError>([&] { readBidsSidecar(folder.file("absent.json")); }),
            "Cannot open " + folder.file("absent.json"));
}

TEST(BValues, NumbersPerVolumeOrANamedError) {
  TempFolder folder;
  const std::string path = folder.file("dwi.bval");
  testing::writeFile(path, "0 5 1000\n2500.0   0\n");
  EXPECT_EQ(readBValues(path), (std::vector<double>{0, 5, 1000, 2500, 0}));
  for (const char* bad : {"0 1000 x", "0 -5", "", "0 1e999"}) {
    testing::writeFile(path, bad);
    EXPECT_EQ(thrownMessage<ReadFileError>([&] { readBValues(path); }).rfind(path + ": ", 0), 0u) << bad;
  }
  EXPECT_EQ(sidecarPathOf("d/sub-01_dir-AP_dwi.nii.gz"), "d/sub-01_dir-AP_dwi.json");
  EXPECT_EQ(bvalPathOf("d/sub-01_dir-AP_dwi.nii"), "d/sub-01_dir-AP_dwi.bval");
}

// The real pairs as the converter wrote them; skipped when they are absent.
TEST(SharedBidsData, HeadersSidecarsAndBValuesOfBothSubjects) {
  const std::string bids = std::string(DAXO_SHARED_DATA_DIR) + "/bids";
  if (!std::filesystem::exists(bids)) GTEST_SKIP() << "no shared data at " << bids;
  const std::string xa30 = bids + "/sub-xa30/dwi/sub-xa30_dir-AP_dwi.nii.gz";
  const NiftiImage image = NiftiImage::open(xa30);
  EXPECT_EQ(image.extents(), (Dimensions{72, 72, 39}));
  EXPECT_EQ(image.volumeCount(), 21);
  EXPECT_EQ(image.datatypeName(), "INT16");
  const BidsSidecar sidecar = readBidsSidecar(sidecarPathOf(xa30));
  EXPECT_EQ(sidecar.phaseEncodingDirection, (PhaseEncodingDirection{1, -1}));
  EXPECT_DOUBLE_EQ(readoutTimeOf(sidecar, 72)->seconds, 0.0475693);
  EXPECT_EQ(readBValues(bvalPathOf(xa30)).size(), 21u);
  const Volume b0 = image.readVolume(0);
  float brightest = 0.0f;
  for (size_t i = 0; i < b0.voxelCount(); ++i) brightest = std::max(brightest, b0.data()[i]);
  EXPECT_GT(brightest, 100.0f);

  const std::string canon = bids + "/sub-canon/dwi/sub-canon_dir-PA_dwi.nii.gz";
  const BidsSidecar canonSidecar = readBidsSidecar(sidecarPathOf(canon));
  EXPECT_EQ(canonSidecar.phaseEncodingAxis, 1);
  EXPECT_FALSE(canonSidecar.phaseEncodingDirection);
  EXPECT_FALSE(readoutTimeOf(canonSidecar, NiftiImage::open(canon).extents().y));
}

}  // namespace
}  // namespace daxo
