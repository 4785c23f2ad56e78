// The reference tool's acquisition parameters: rows read, their directions
// in BIDS terms, and each kind of bad file refused naming the file and line.
#include "fileio/nifti/acqparams.h"

#include <gtest/gtest.h>

#include "fileio/fileerrors.h"
#include "testsupport/testfiles.h"
#include "testsupport/thrownmessage.h"

namespace daxo {
namespace {

using testing::thrownMessage;

TEST(AcquisitionParameters, RowsAndTheirDirections) {
  testing::TempFolder folder;
  const std::string path = folder.file("acqparams.txt");
  testing::writeFile(path, "0 -1 0 0.0475693\n\n0 1 0 0.0475693\r\n 1 0 0   0.05\n-1 0 0 0.05");
  const std::vector<AcquisitionRow> rows = readAcquisitionParameters(path);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_DOUBLE_EQ(rows[0].readoutSeconds, 0.0475693);
  EXPECT_EQ(phaseEncodingOf(rows[0], -1), (PhaseEncodingDirection{1, -1}));
  EXPECT_EQ(phaseEncodingOf(rows[1], 1), (PhaseEncodingDirection{1, 1}));
  // x is i for a radiological (negative) affine, i- for a neurological one.
  EXPECT_EQ(phaseEncodingOf(rows[2], -1), (PhaseEncodingDirection{0, 1}));
  EXPECT_EQ(phaseEncodingOf(rows[2], 1), (PhaseEncodingDirection{0, -1}));
  EXPECT_EQ(phaseEncodingOf(rows[3], -1), (PhaseEncodingDirection{0, -1}));
}

TEST(AcquisitionParameters, BadFilesAreRefusedWithTheLine) {
  testing::TempFolder folder;
  const struct {
    const char* text;
    const char* problem;  // after "<path>, line N: "
    int line;
  } cases[] = {
      {"0 1 0\n", "expected 4 numbers (the phase-encoding vector x y z and the readout time), found 3", 1},
      {"0 1 0 0.05\n0 -1 0 0.05 7\n",
       "expected 4 numbers (the phase-encoding vector x y z and the readout time), found 5", 2},
      {"0 0 0 0.05\n", "the phase-encoding vector is zero", 1},
      {"0 0 1 0.05\n", "phase encoding along z (the slice axis) is not supported", 1},
      {"0.7 0.7 0 0.05\n", "the phase-encoding vector must be +-1 along one axis", 1},
      {"1 1 0 0.05\n", "the phase-encoding vector must be +-1 along one axis", 1},
      {"0 1 0 0\n",
       "the readout time must be above 0 and below 1 s (0 stands for a scan without distortion, from which no field "
       "can be estimated)",
       1},
      {"0 1 0 nan\n", "'nan' is not a number", 1},
      {"0 1 0 0.05x\n", "'0.05x' is not a number", 1},
  };
  const std::string path = folder.file("bad.txt");
  for (const auto& c : cases) {
    testing::writeFile(path, c.text);
    EXPECT_EQ(thrownMessage<ReadFileError>([&] { readAcquisitionParameters(path); }),
              path + ", line " + std::to_string(c.line) + ": " + c.problem);
  }
  testing::writeFile(path, "\n  \n");
  EXPECT_EQ(thrownMessage<ReadFileError>([&] { readAcquisitionParameters(path); }), path + " holds no row");
  EXPECT_THROW(readAcquisitionParameters(folder.file("missing.txt")), OpenFileError);
}

}  // namespace
}  // namespace daxo
