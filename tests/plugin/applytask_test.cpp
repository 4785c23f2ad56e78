// The apply task through the plugin library, on projects and maps the tests
// write.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "host/hoststate.h"
#include "tests/plugin/loadedplugin.h"
#include "tests/plugin/testprojects.h"
#include "testsupport/testfiles.h"

namespace {

using daxo::Dimensions;
using daxo::DMRHeader;
using daxo::FMRHeader;
using daxo::Volume;
using daxo::host::hostState;
using daxo::testing::Entries;
using daxo::testing::logEntries;
using daxo::testing::messageBoxTexts;
using daxo::testing::namesIn;
using daxo::testing::patternVolumes;
using daxo::testing::readProject;
using daxo::testing::Voxels;
using daxo::testing::writeDmrProject;
using daxo::testing::writeFmrProject;
using daxo::testing::writeMapFile;

const char* const kFmrQuestion =
    "Dimensions of the datasets don't match!\nDo you want to resize the VDM to the FMR dimensions?\n\n"
    "(they need to have the same field of view)";
const char* const kDmrQuestion =
    "Dimensions of the datasets don't match!\nDo you want to resize the VDM to the DMR dimensions?\n\n"
    "(they need to have the same field of view)";

// With a zero map every output voxel is the cubic B-spline evaluated at its
// own voxel centre, which reproduces the sample up to rounding: prefilter and
// sums run in double, and the last three products are added in single
// precision. Measured on random data, the result is within one float ulp of
// the largest value; the tests allow two. The pattern's values are 50 .. 249.
constexpr float kSampleTolerance = 2 * 249.0f * std::numeric_limits<float>::epsilon();

// Largest |out(p) - in(p + shift)| over the voxels p in [from, to) (per
// axis) of a volume.
float maxShiftDifference(const Volume& out, const Volume& in, const Dimensions& shift, const Dimensions& from,
                         const Dimensions& to) {
  float worst = 0.0f;
  for (int32_t z = from.z; z < to.z; ++z)
    for (int32_t y = from.y; y < to.y; ++y)
      for (int32_t x = from.x; x < to.x; ++x)
        worst = std::max(worst, std::fabs(out(x, y, z) - in(x + shift.x, y + shift.y, z + shift.z)));
  return worst;
}

float maxDifference(const Volume& a, const Volume& b) {
  float worst = 0.0f;
  for (size_t i = 0; i < a.voxelCount(); ++i) worst = std::max(worst, std::fabs(a.data()[i] - b.data()[i]));
  return worst;
}

class ApplyTask : public daxo::testing::PluginTaskTest {
 protected:
  void SetUp() override {
    PluginTaskTest::SetUp();
    hostState().openDocument("current", {4, 4, 2});
  }

  void apply(const std::string& files, bool rllr = false) {
    hostState().parameters.setInt("rllr", rllr ? 1 : 0);
    hostState().parameters.setString("vdm", mapPath);
    hostState().parameters.setString("files", files);
    runTask("apply");
    EXPECT_EQ(hostState().busyCursor.depth(), 0);
  }

  static Entries shownMaps() { return hostState().document->shownMapFiles(); }

  std::string mapPath = dir.file("run_vdm.map");
};

TEST_F(ApplyTask, ZeroMapCopiesFloatDataAndDropsTheAnatomicalReference) {
  const Dimensions d{6, 5, 4};
  const std::vector<Volume> volumes = patternVolumes(d, 3);
  writeFmrProject(file("run1.fmr"), d, volumes, Voxels::Float32);
  writeMapFile(mapPath, Volume(d, 0.0f));
  const std::string originalHeader = daxo::testing::readFile(file("run1.fmr"));
  const std::string originalData = daxo::testing::readFile(file("run1.stc"));

  apply(file("run1.fmr"));

  EXPECT_EQ(messageBoxTexts(), Entries{});
  const FMRHeader corrected = readProject<FMRHeader>(file("run1_undist.fmr"));
  EXPECT_EQ(corrected.prefix.value, "run1_undist");
  EXPECT_EQ(corrected.loadAMRFile.value, "");
  EXPECT_TRUE(corrected.loadAMRFile.present);
  EXPECT_FALSE(corrected.showAMRFile.value);
  ASSERT_EQ(corrected.volumes.size(), 3u);
  for (size_t t = 0; t < volumes.size(); ++t) {
    EXPECT_LE(maxDifference(corrected.volumes[t], volumes[t]), kSampleTolerance) << "volume " << t;
  }
  // The input is left as it was.
  EXPECT_EQ(daxo::testing::readFile(file("run1.fmr")), originalHeader);
  EXPECT_EQ(daxo::testing::readFile(file("run1.stc")), originalData);
}

TEST_F(ApplyTask, ConstantMapMovesDmrContentByOneRow) {
  const Dimensions d{5, 7, 3};
  const std::vector<Volume> volumes = patternVolumes(d, 2);
  writeDmrProject(file("dwi.dmr"), d, volumes, Voxels::Float32);
  writeMapFile(mapPath, Volume(d, 1.0f));

  apply(file("dwi.dmr"));

  EXPECT_EQ(messageBoxTexts(), Entries{});
  const DMRHeader corrected = readProject<DMRHeader>(file("dwi_undist.dmr"));
  EXPECT_EQ(corrected.loadAMRFile.value, "");
  EXPECT_FALSE(corrected.showAMRFile.value);
  ASSERT_EQ(corrected.volumes.size(), 2u);
  for (size_t t = 0; t < volumes.size(); ++t) {
    // Every row but the last samples the source at a voxel centre one row on.
    EXPECT_LE(maxShiftDifference(corrected.volumes[t], volumes[t], {0, 1, 0}, {0, 0, 0}, {d.x, d.y - 1, d.z}),
              kSampleTolerance);
    // The last row samples beyond the edge, where only the decaying spline
    // contributions of the last row remain.
    for (int32_t x = 0; x < d.x; ++x) EXPECT_LT(std::fabs(corrected.volumes[t](x, d.y - 1, 0)), 0.5f * 249.0f);
  }
}

// 16-bit files store voxels truncated toward zero; a value that the spline
// reproduces one ulp below its integer is stored one lower.
TEST_F(ApplyTask, ZeroMapKeepsSixteenBitDataWithinOneUnit) {
  const Dimensions d{9, 8, 5};
  const std::vector<Volume> volumes = patternVolumes(d, 2);
  writeDmrProject(file("dwi.dmr"), d, volumes, Voxels::Int16);
  writeMapFile(mapPath, Volume(d, 0.0f));

  apply(file("dwi.dmr"));

  const DMRHeader corrected = readProject<DMRHeader>(file("dwi_undist.dmr"));
  ASSERT_EQ(corrected.volumes.size(), 2u);
  for (size_t t = 0; t < volumes.size(); ++t) {
    for (size_t i = 0; i < volumes[t].voxelCount(); ++i) {
      const float difference = volumes[t].data()[i] - corrected.volumes[t].data()[i];
      ASSERT_TRUE(difference == 0.0f || difference == 1.0f) << "voxel " << i << " differs by " << difference;
    }
  }
}

TEST_F(ApplyTask, TwoProjectsAreWrittenAndTheMapIsShownOnce) {
  const Dimensions d{4, 4, 2};
  writeFmrProject(file("a.fmr"), d, patternVolumes(d, 2), Voxels::Int16);
  writeFmrProject(file("b.fmr"), d, patternVolumes(d, 1), Voxels::Float32);
  writeMapFile(mapPath, Volume(d, 0.5f));

  apply(file("a.fmr") + "\n" + file("b.fmr") + "\n");

  EXPECT_EQ(messageBoxTexts(), Entries{});
  EXPECT_EQ(logEntries(),
            (Entries{"Loading VDM...", "Applying VDM...", "Undistorted data saved as: " + file("a_undist.fmr"),
                     "Undistorted data saved as: " + file("b_undist.fmr"), "Done."}));
  EXPECT_EQ(shownMaps(), Entries{mapPath});
  EXPECT_EQ(namesIn(dir.path()), (Entries{"a.fmr", "a.stc", "a_undist.fmr", "a_undist.stc", "b.fmr", "b.stc",
                                          "b_undist.fmr", "b_undist.stc", "run_vdm.map"}));
}

TEST_F(ApplyTask, FirstPathThatIsADmrProjectStillShowsTheMap) {
  const Dimensions d{4, 4, 2};
  writeDmrProject(file("c.dmr"), d, patternVolumes(d, 1), Voxels::Int16);
  writeFmrProject(file("a.fmr"), d, patternVolumes(d, 1), Voxels::Int16);
  writeMapFile(mapPath, Volume(d, 0.0f));

  apply(file("c.dmr") + "\n" + file("a.fmr"));

  EXPECT_EQ(messageBoxTexts(), Entries{});
  EXPECT_EQ(shownMaps(), Entries{mapPath});
  EXPECT_EQ(logEntries().size(), 5u);
}

// Paths without a lower-case ".fmr" or ".dmr" are passed over without a word.
// Lines ending in CR LF leave a carriage return on every path but the last,
// so those paths have neither extension. Only a path equal to the list's
// first one shows the map.
TEST_F(ApplyTask, PathsWithoutALowerCaseExtensionAreSkipped) {
  const Dimensions d{4, 4, 2};
  for (const char* name : {"upper.FMR", "a.fmr", "b.fmr", "c.fmr"})
    writeFmrProject(file(name), d, patternVolumes(d, 1), Voxels::Int16);
  writeMapFile(mapPath, Volume(d, 0.0f));
  const struct {
    std::string files, corrected, skipped;
  } cases[] = {
      {file("notes.txt") + "\n" + file("upper.FMR") + "\n" + file("a.fmr"), "a_undist.fmr", "upper_undist.FMR"},
      {file("b.fmr") + "\r\n" + file("c.fmr"), "c_undist.fmr", "b_undist.fmr"},
  };
  for (const auto& c : cases) {
    hostState().log = {};
    apply(c.files);
    EXPECT_EQ(messageBoxTexts(), Entries{});
    EXPECT_EQ(logEntries(), (Entries{"Loading VDM...", "Applying VDM...",
                                     "Undistorted data saved as: " + file(c.corrected), "Done."}));
    EXPECT_EQ(shownMaps(), Entries{});
    EXPECT_FALSE(std::filesystem::exists(file(c.skipped)));
  }
}

TEST_F(ApplyTask, EmptyListStillLoadsTheMap) {
  writeMapFile(mapPath, Volume(4, 4, 2, 0.0f));
  for (const std::string files : {"", "\n\n"}) {
    hostState().log = {};
    apply(files);
    EXPECT_EQ(messageBoxTexts(), Entries{});
    EXPECT_EQ(logEntries(), (Entries{"Loading VDM...", "Applying VDM...", "Done."}));
  }
  std::filesystem::remove(mapPath);
  hostState().log = {};
  apply("");
  EXPECT_EQ(messageBoxTexts(), Entries{"Error: could not open file " + mapPath});
  EXPECT_EQ(logEntries(), Entries{"Loading VDM..."});
}

TEST_F(ApplyTask, MismatchedProjectWithYesIsCorrectedWithTheResizedMap) {
  hostState().yesNo.setPolicy(daxo::host::YesNoPolicy::alwaysYes);
  const Dimensions d{16, 16, 4};
  const std::vector<Volume> volumes = patternVolumes(d, 1);
  writeFmrProject(file("fine.fmr"), d, volumes, Voxels::Float32);
  writeMapFile(mapPath, Volume(8, 8, 4, 1.0f));

  apply(file("fine.fmr"));

  EXPECT_EQ(messageBoxTexts(), Entries{});
  EXPECT_EQ(hostState().yesNo.questions(), Entries{kFmrQuestion});
  EXPECT_EQ(shownMaps(), Entries{});  // a resized map is not the file's
  const FMRHeader corrected = readProject<FMRHeader>(file("fine_undist.fmr"));
  ASSERT_EQ(corrected.volumes.size(), 1u);
  // The stretched constant map is exactly 1 away from the border voxels,
  // which sample the map partly outside.
  EXPECT_LE(maxShiftDifference(corrected.volumes[0], volumes[0], {0, 1, 0}, {1, 1, 0}, {15, 14, 4}), kSampleTolerance);
}

TEST_F(ApplyTask, MismatchedProjectWithNoStopsTheRunAndWritesNothingForIt) {
  const Dimensions d{8, 8, 4};
  writeFmrProject(file("good.fmr"), d, patternVolumes(d, 1), Voxels::Int16);
  writeDmrProject(file("small.dmr"), {4, 4, 4}, patternVolumes({4, 4, 4}, 1), Voxels::Int16);
  writeFmrProject(file("later.fmr"), d, patternVolumes(d, 1), Voxels::Int16);
  writeMapFile(mapPath, Volume(d, 0.0f));

  apply(file("good.fmr") + "\n" + file("small.dmr") + "\n" + file("later.fmr"));

  EXPECT_EQ(hostState().yesNo.questions(), Entries{kDmrQuestion});
  // The error used to name neither the files nor the extents.
  EXPECT_EQ(messageBoxTexts(), Entries{"Error: All datasets must have the same dimensions! The map " + mapPath +
                                       " has 8 x 8 x 4 voxels, " + file("small.dmr") + " has 4 x 4 x 4."});
  EXPECT_EQ(logEntries(),
            (Entries{"Loading VDM...", "Applying VDM...", "Undistorted data saved as: " + file("good_undist.fmr")}));
  EXPECT_TRUE(std::filesystem::exists(file("good_undist.stc")));
  EXPECT_FALSE(std::filesystem::exists(file("small_undist.dmr")));
  EXPECT_FALSE(std::filesystem::exists(file("later_undist.fmr")));
}

// Projects are read while their copies are written; a data file shorter than
// its header says is still refused before anything of its copy is written.
TEST_F(ApplyTask, ShortDataFileIsRefusedBeforeItsCopyIsStarted) {
  const Dimensions d{8, 8, 4};
  writeFmrProject(file("good.fmr"), d, patternVolumes(d, 2), Voxels::Int16);
  writeDmrProject(file("short.dmr"), d, patternVolumes(d, 2), Voxels::Int16);
  std::filesystem::resize_file(file("short.dwi"), 2 * 8 * 8 * 4 * 2 - 1);
  writeMapFile(mapPath, Volume(d, 0.0f));

  apply(file("good.fmr") + "\n" + file("short.dmr"));

  EXPECT_EQ(messageBoxTexts(),
            Entries{"Error: Data file too short: " + file("short.dwi") + " has 1023 bytes, the header implies 1024"});
  EXPECT_EQ(logEntries(),
            (Entries{"Loading VDM...", "Applying VDM...", "Undistorted data saved as: " + file("good_undist.fmr")}));
  EXPECT_EQ(namesIn(dir.path()), (Entries{"good.fmr", "good.stc", "good_undist.fmr", "good_undist.stc", "run_vdm.map",
                                          "short.dmr", "short.dwi"}));
}

// A map holding values that are not numbers used to give an all-zero
// corrected copy and success; it is refused before any project is read.
TEST_F(ApplyTask, RegressionMapWithNonFiniteValuesIsRefusedBeforeAnyProject) {
  const Dimensions d{8, 8, 4};
  writeFmrProject(file("good.fmr"), d, patternVolumes(d, 1), Voxels::Int16);
  for (const float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    Volume map(d, 0.5f);
    map(3, 4, 2) = bad;
    writeMapFile(mapPath, map);
    hostState().messageBoxes = {};
    hostState().log = {};
    apply(file("good.fmr"));
    EXPECT_EQ(messageBoxTexts(), Entries{"Error: Not a usable displacement map: " + mapPath +
                                         " holds values that are not finite numbers"});
    EXPECT_EQ(logEntries(), Entries{"Loading VDM..."});
    EXPECT_FALSE(std::filesystem::exists(file("good_undist.fmr")));
  }
  EXPECT_EQ(namesIn(dir.path()), (Entries{"good.fmr", "good.stc", "run_vdm.map"}));
}

// Left-right projects: the stored map is in the project's frame and is
// compared with the project as stored; it used to be compared after
// transposition, which failed for every map whose x and y extents differ.
TEST_F(ApplyTask, RegressionLeftRightProjectWithNonSquareMapIsCorrected) {
  const Dimensions d{12, 8, 3};
  const std::vector<Volume> volumes = patternVolumes(d, 2);
  writeFmrProject(file("lr.fmr"), d, volumes, Voxels::Float32);
  writeMapFile(mapPath, Volume(d, 1.0f));

  apply(file("lr.fmr"), true);

  EXPECT_EQ(messageBoxTexts(), Entries{});
  EXPECT_EQ(hostState().yesNo.questions(), Entries{});
  EXPECT_EQ(shownMaps(), Entries{mapPath});
  const FMRHeader corrected = readProject<FMRHeader>(file("lr_undist.fmr"));
  ASSERT_EQ(corrected.volumes.size(), 2u);
  for (size_t t = 0; t < volumes.size(); ++t) {
    ASSERT_EQ(corrected.volumes[t].dimensions(), d);
    // The displacement runs along x.
    EXPECT_LE(maxShiftDifference(corrected.volumes[t], volumes[t], {1, 0, 0}, {0, 0, 0}, {d.x - 1, d.y, d.z}),
              kSampleTolerance);
  }
}

// A resized map is made in the project's frame, then transposed; it used to
// be made in the transposed frame and then fail the correction's check.
TEST_F(ApplyTask, RegressionLeftRightProjectWithResizedNonSquareMapIsCorrected) {
  hostState().yesNo.setPolicy(daxo::host::YesNoPolicy::alwaysYes);
  const Dimensions d{12, 8, 3};
  const std::vector<Volume> volumes = patternVolumes(d, 1);
  writeDmrProject(file("lr.dmr"), d, volumes, Voxels::Float32);
  writeMapFile(mapPath, Volume(6, 4, 3, 1.0f));

  apply(file("lr.dmr"), true);

  EXPECT_EQ(messageBoxTexts(), Entries{});
  EXPECT_EQ(hostState().yesNo.questions(), Entries{kDmrQuestion});
  const DMRHeader corrected = readProject<DMRHeader>(file("lr_undist.dmr"));
  ASSERT_EQ(corrected.volumes.size(), 1u);
  EXPECT_LE(maxShiftDifference(corrected.volumes[0], volumes[0], {1, 0, 0}, {1, 1, 0}, {d.x - 2, d.y - 1, d.z}),
            kSampleTolerance);
}

TEST_F(ApplyTask, RegressionProjectWithoutVolumesIsReportedAndNothingIsWritten) {
  const Dimensions d{4, 4, 2};
  writeFmrProject(file("empty.fmr"), d, {}, Voxels::Int16);
  writeDmrProject(file("empty.dmr"), d, {}, Voxels::Int16);
  daxo::testing::writeFile(file("empty.stc"), "");
  daxo::testing::writeFile(file("empty.dwi"), "");
  writeMapFile(mapPath, Volume(d, 0.0f));

  for (const std::string name : {"empty.fmr", "empty.dmr"}) {
    hostState().messageBoxes = {};
    apply(file(name));
    EXPECT_EQ(messageBoxTexts(), Entries{"Error: Project has no volumes to correct: " + file(name)});
  }
  EXPECT_EQ(namesIn(dir.path()), (Entries{"empty.dmr", "empty.dwi", "empty.fmr", "empty.stc", "run_vdm.map"}));
}

// A map file whose header announces no voxels (slice count 0) is refused
// before any project is touched.
TEST_F(ApplyTask, MapWithoutVoxelsIsRefused) {
  const Dimensions d{4, 4, 2};
  writeFmrProject(file("a.fmr"), d, patternVolumes(d, 1), Voxels::Int16);
  writeMapFile(mapPath, Volume(4, 4, 1, 0.0f));
  std::string bytes = daxo::testing::readFile(mapPath);
  bytes[2] = 0;  // slices: 0 means "typeCode % 10000", which is 0 for 10000
  bytes[3] = 0;
  daxo::testing::writeFile(mapPath, bytes);

  apply(file("a.fmr"));

  EXPECT_EQ(messageBoxTexts(), Entries{"Error: Not a usable displacement map: " + mapPath + " has extents 4 x 4 x 0"});
  EXPECT_EQ(logEntries(), Entries{"Loading VDM..."});
  EXPECT_FALSE(std::filesystem::exists(file("a_undist.fmr")));
}

}  // namespace
