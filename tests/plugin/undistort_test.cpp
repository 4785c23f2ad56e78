// Correcting and writing whole projects, as the apply and estimate tasks do.
#include "plugin/undistort.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/plugin/testprojects.h"
#include "tests/support/testfiles.h"
#include "tests/support/thrownmessage.h"

namespace {

using daxo::Dimensions;
using daxo::Volume;
using daxo::testing::namesIn;
using daxo::testing::patternVolumes;
using daxo::testing::thrownMessage;
using daxo::testing::Voxels;
using Names = std::vector<std::string>;

TEST(WriteUndistorted, RegressionProjectWithoutVolumesWritesNothing) {
  daxo::testing::TempFolder dir;
  const Volume map(4, 4, 2, 0.0f);
  daxo::FMRHeader fmr = daxo::testing::writeFmrProject(dir.file("f.fmr"), {4, 4, 2}, {}, Voxels::Int16);
  daxo::DMRHeader dmr = daxo::testing::writeDmrProject(dir.file("d.dmr"), {4, 4, 2}, {}, Voxels::Int16);
  EXPECT_THROW(daxo::writeUndistortedFmr(map, fmr, false), std::runtime_error);
  EXPECT_EQ(thrownMessage<std::runtime_error>([&] { daxo::writeUndistortedDmr(map, dir.file("d.dmr"), dmr, false); }),
            "Project has no volumes to correct: " + dir.file("d.dmr"));
  EXPECT_EQ(namesIn(dir.path()), (Names{"d.dmr", "f.fmr"}));
}

TEST(WriteUndistorted, TransposedMapsAreInTheTransposedFrame) {
  daxo::testing::TempFolder dir;
  const Dimensions d{6, 4, 2};
  daxo::DMRHeader project =
      daxo::testing::writeDmrProject(dir.file("lr.dmr"), d, patternVolumes(d, 2), Voxels::Float32);

  EXPECT_THROW(daxo::writeUndistortedDmr(Volume(d, 0.0f), dir.file("lr.dmr"), project, true), std::logic_error);
  EXPECT_EQ(namesIn(dir.path()), (Names{"lr.dmr", "lr.dwi"}));

  daxo::writeUndistortedDmr(Volume(4, 6, 2, 0.0f), dir.file("lr.dmr"), project, true);
  EXPECT_EQ(project.fileName, dir.file("lr_undist.dmr"));
  EXPECT_EQ(project.prefix.value, "lr_undist");
  ASSERT_EQ(project.volumes.size(), 2u);
  EXPECT_EQ(project.volumes[0].dimensions(), d);
  EXPECT_EQ(namesIn(dir.path()), (Names{"lr.dmr", "lr.dwi", "lr_undist.dmr", "lr_undist.dwi"}));
}

// run1.fmr whose Prefix is "run1_undist" (a renamed copy) keeps its data in
// run1_undist.stc, the very file its corrected copy would be written to.
TEST(WriteUndistorted, RegressionSourceWhoseDataFileIsTheCopysKeepsItsData) {
  daxo::testing::TempFolder dir;
  const Dimensions d{4, 4, 2};
  daxo::FMRHeader project =
      daxo::testing::writeFmrProject(dir.file("run1_undist.fmr"), d, patternVolumes(d, 1), Voxels::Int16);
  std::filesystem::rename(dir.file("run1_undist.fmr"), dir.file("run1.fmr"));
  const std::string data = daxo::testing::readFile(dir.file("run1_undist.stc"));
  project.load(dir.file("run1.fmr"), true);
  ASSERT_EQ(project.dataFileName(), dir.file("run1_undist.stc"));

  EXPECT_EQ(thrownMessage<std::runtime_error>([&] { daxo::writeUndistortedFmr(Volume(d, 1.0f), project, false); }),
            "The corrected copy " + dir.file("run1_undist.fmr") + " would replace the data file " +
                dir.file("run1_undist.stc") + " of its source " + dir.file("run1.fmr"));
  EXPECT_EQ(daxo::testing::readFile(dir.file("run1_undist.stc")), data);
  EXPECT_EQ(namesIn(dir.path()), (Names{"run1.fmr", "run1_undist.stc"}));
}

}  // namespace
