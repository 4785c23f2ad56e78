// The estimate task through the plugin library, on small projects the tests
// write. The maps it saves are compared with the estimation run directly in
// the test with the arguments the task must pass, bit for bit, which checks
// the wiring of every dialog parameter, the voxel size and the frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "correction/estimationschedule.h"
#include "correction/simplevdmestimate.h"
#include "correction/variationalestimate.h"
#include "correction/vdm.h"
#include "correction/vdmestimate.h"
#include "demodata/accuracy.h"
#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "fileio/mapfile.h"
#include "host/hoststate.h"
#include "tests/plugin/loadedplugin.h"
#include "tests/plugin/syntheticpair.h"
#include "tests/plugin/testprojects.h"
#include "testsupport/fft_for_tests.h"
#include "testsupport/testfiles.h"
#include "testsupport/volumes.h"
#include "volume/volumegauss.h"

namespace {

using daxo::Dimensions;
using daxo::DMRHeader;
using daxo::FMRHeader;
using daxo::MapFile;
using daxo::Volume;
using daxo::host::hostState;
using daxo::testing::Entries;
using daxo::testing::identicalBytes;
using daxo::testing::logEntries;
using daxo::testing::messageBoxTexts;
using daxo::testing::namesIn;
using daxo::testing::parameterChanges;
using daxo::testing::readMap;
using daxo::testing::readProject;
using daxo::testing::SyntheticPair;
using daxo::testing::syntheticPair;
using daxo::testing::Voxels;
using daxo::testing::writeDmrProject;
using daxo::testing::writeFmrProject;

const Dimensions kSize{24, 24, 12};

struct VoxelSize {
  float x, y, thickness, gap;
};

// Rewrites the voxel size of a project the tests wrote.
template <typename Header>
void setVoxelSize(const std::string& path, const VoxelSize& size) {
  Header project;
  project.loadWithData(path);
  project.inplaneResolutionX = {"InplaneResolutionX", size.x, 32, true};
  project.inplaneResolutionY = {"InplaneResolutionY", size.y, 32, true};
  project.sliceThickness = {"SliceThickness", size.thickness, 32, true};
  project.sliceGap = {"SliceGap", size.gap, 32, true};
  project.save();
}

bool exactlyNegated(const Volume& a, const Volume& b) {
  if (a.dimensions() != b.dimensions()) return false;
  for (size_t i = 0; i < a.voxelCount(); ++i) {
    if (b.data()[i] != -a.data()[i]) return false;
  }
  return true;
}

// The fast estimate as the task must make it: column sigma (0.5, 4 / dy, 0.5),
// then smoothing with sigma 1.5.
Volume fastReference(const Volume& first, const Volume& second, double dy, int order) {
  Volume v = daxo::estimateColumnWise(first, second, {0.5, 4.0 / dy, 0.5}, nullptr, order);
  daxo::smooth(v, {1.5, 1.5, 1.5}, {0, 0, 0}, true);
  return v;
}

Volume fullReference(const Volume& first, const Volume& second, const std::array<double, 3>& voxelSize, bool useSsd,
                     bool useIc, int order) {
  daxo::VdmEstimateSettings settings = daxo::standardVdmSettings(voxelSize);
  settings.columnSigma = {0.5, 4.0 / voxelSize[1], 0.5};
  settings.useSsd = useSsd;
  settings.useIc = useIc;
  settings.order = order;
  return daxo::estimateVdm(first, second, settings, nullptr).map;
}

struct Settings {
  std::string file0, file1;
  int32_t volume0 = 0, volume1 = 0;
  bool rllr = false, useIc = true, useSsd = false, apply = false, derivative = false, fast = true;
  int32_t order = 0;
};

class EstimateTask : public daxo::testing::PluginTaskTest {
 protected:
  void SetUp() override {
    PluginTaskTest::SetUp();
    daxo::testing::bindFftwForTests();
    hostState().parameters.setString("vdm", "earlier.map");
  }

  // Runs the task with every parameter set, as the dialog does.
  void estimate(const Settings& s) {
    auto& parameters = hostState().parameters;
    parameters.setString("file0", s.file0);
    parameters.setString("file1", s.file1);
    parameters.setInt("volume0", s.volume0);
    parameters.setInt("volume1", s.volume1);
    parameters.setInt("rllr", s.rllr);
    parameters.setInt("use_ic", s.useIc);
    parameters.setInt("use_ssd", s.useSsd);
    parameters.setInt("apply_to_input", s.apply);
    parameters.setInt("save_derivative", s.derivative);
    parameters.setInt("fast_algorithm", s.fast);
    parameters.setInt("order", s.order);
    runTask("estimate");
    EXPECT_EQ(hostState().busyCursor.depth(), 0);
  }
};

// Checks that the entries start with the given prefixes, in order.
void expectLogStartsWith(const Entries& log, const Entries& prefixes) {
  ASSERT_EQ(log.size(), prefixes.size()) << ::testing::PrintToString(log);
  for (size_t i = 0; i < prefixes.size(); ++i) {
    EXPECT_EQ(log[i].compare(0, prefixes[i].size(), prefixes[i]), 0) << "entry " << i << ": " << log[i];
  }
}

TEST_F(EstimateTask, MixedPairFullEstimationSavesNegatedMapsAndNamesTheFirst) {
  const SyntheticPair pair = syntheticPair(kSize, 2.0);
  writeFmrProject(file("a.fmr"), kSize, {pair.first}, Voxels::Float32);
  writeDmrProject(file("b.dmr"), kSize, {pair.second}, Voxels::Float32);
  // Unequal sizes show which one goes where: (2, 3, 2.5 + 0.5) mm.
  setVoxelSize<FMRHeader>(file("a.fmr"), {2.0f, 3.0f, 2.5f, 0.5f});
  hostState().openDocument("a", kSize);

  Settings s{file("a.fmr"), file("b.dmr")};
  s.fast = false;
  s.useSsd = true;
  s.useIc = false;
  estimate(s);

  EXPECT_EQ(messageBoxTexts(), Entries{});
  expectLogStartsWith(
      logEntries(),
      {"Estimating voxel displacement maps...", "Column-wise optimisation, sigma: x: 0.5, y: 1.33333, sigma.z: 0.5",
       "SSD of original AP and PA volumes: ", "SSD after applying column wise VDM: ",
       "SSD after applying smoothed VDM: ", "\nStarting local optimizations", "Smoothed (14.1421) and needed ",
       "Finished iteration with SSD: ", "Smoothed (8.48528) and needed ", "Finished iteration with SSD: ",
       "Smoothed (4.24264) and needed ", "Finished iteration with SSD: ", "Smoothed (1.41421) and needed ",
       "Finished iteration with SSD: ", "Other distance measure NCC: ", "\nTime taken: ",
       "Inverse consistency check VDM: ", "Saving voxel displacement maps to .map files...", "Done."});
  EXPECT_EQ(namesIn(dir.path()), (Entries{"a.fmr", "a.stc", "a_vdm.map", "b.dmr", "b.dwi", "b_vdm.map"}));
  EXPECT_EQ(parameterChanges(), Entries{"vdm=" + file("a_vdm.map")});

  const MapFile first = readMap(file("a_vdm.map"));
  const MapFile second = readMap(file("b_vdm.map"));
  EXPECT_TRUE(identicalBytes(first.volume, fullReference(pair.first, pair.second, {2.0, 3.0, 3.0}, true, false, 0)));
  EXPECT_TRUE(exactlyNegated(first.volume, second.volume));
  for (const MapFile* map : {&first, &second}) {
    EXPECT_EQ(map->firstFloat, 1.0f);
    EXPECT_EQ(map->secondFloat, 5.0f);
  }
  ASSERT_EQ(hostState().document->maps().size(), 2u);
  for (const auto& map : hostState().document->maps()) {
    EXPECT_EQ(map->kind, 1);
    EXPECT_EQ(map->word28, 0);
  }
}

TEST_F(EstimateTask, FastPathSmoothsTheColumnWiseEstimateWithoutStages) {
  const SyntheticPair pair = syntheticPair(kSize, 2.0);
  const std::vector<Volume> second{Volume(kSize, 0.0f), pair.second};
  writeFmrProject(file("a.fmr"), kSize, {pair.first}, Voxels::Float32);
  writeFmrProject(file("b.fmr"), kSize, second, Voxels::Float32);
  setVoxelSize<FMRHeader>(file("a.fmr"), {3.0f, 2.0f, 3.0f, 0.0f});
  hostState().openDocument("a", kSize);

  Settings s{file("a.fmr"), file("b.fmr")};
  s.volume1 = 1;
  s.order = 2;
  estimate(s);

  EXPECT_EQ(messageBoxTexts(), Entries{});
  expectLogStartsWith(logEntries(), {"Estimating voxel displacement maps...",
                                     "Column-wise optimisation, sigma: x: 0.5, y: 2, sigma.z: 0.5",
                                     "SSD of original AP and PA volumes: ", "SSD after applying column wise VDM: ",
                                     "Saving voxel displacement maps to .map files...", "Done."});
  const MapFile first = readMap(file("a_vdm.map"));
  EXPECT_TRUE(identicalBytes(first.volume, fastReference(pair.first, pair.second, 2.0, 2)));
  EXPECT_TRUE(exactlyNegated(first.volume, readMap(file("b_vdm.map")).volume));
}

// The phase-encoding axis is x in the stored projects, which are not square.
// The task works on transposed volumes with x and y voxel sizes swapped; maps
// and derivatives reach the disk in the projects' frame, and the corrected
// copies come from the maps in the working frame.
TEST_F(EstimateTask, LeftRightPairIsTransposedAndMapsAreSavedInTheProjectsFrame) {
  const Dimensions working{20, 26, 10};
  const Dimensions stored{26, 20, 10};
  const SyntheticPair pair = syntheticPair(working, 2.0);
  const std::vector<Volume> firstVolumes{daxo::transposeXY(pair.first), daxo::transposeXY(pair.second)};
  writeFmrProject(file("lr.fmr"), stored, firstVolumes, Voxels::Float32);
  writeDmrProject(file("rl.dmr"), stored, {daxo::transposeXY(pair.second)}, Voxels::Float32);
  // Along the stored x (the phase-encoding axis) 2 mm: after the swap dy = 2.
  setVoxelSize<FMRHeader>(file("lr.fmr"), {2.0f, 3.0f, 3.0f, 0.0f});
  hostState().openDocument("lr", stored);

  Settings s{file("lr.fmr"), file("rl.dmr")};
  s.rllr = true;
  s.derivative = true;
  s.apply = true;
  estimate(s);

  EXPECT_EQ(messageBoxTexts(), Entries{});
  ASSERT_GE(logEntries().size(), 2u);
  EXPECT_EQ(logEntries()[1].rfind("Column-wise optimisation, sigma: x: 0.5, y: 2, sigma.z: 0.5", 0), 0u)
      << logEntries()[1];
  EXPECT_EQ(logEntries()[logEntries().size() - 2], "Applying voxel displacement maps...");
  EXPECT_EQ(logEntries().back(), "Done.");
  EXPECT_EQ(namesIn(dir.path()),
            (Entries{"lr.fmr", "lr.stc", "lr_undist.fmr", "lr_undist.stc", "lr_vdm.map", "lr_vdmderiv.map", "rl.dmr",
                     "rl.dwi", "rl_undist.dmr", "rl_undist.dwi", "rl_vdm.map", "rl_vdmderiv.map"}));

  const Volume v = fastReference(pair.first, pair.second, 2.0, 0);
  const MapFile map = readMap(file("lr_vdm.map"));
  EXPECT_TRUE(identicalBytes(map.volume, daxo::transposeXY(v)));
  EXPECT_TRUE(exactlyNegated(map.volume, readMap(file("rl_vdm.map")).volume));

  const MapFile deriv = readMap(file("lr_vdmderiv.map"));
  const MapFile secondDeriv = readMap(file("rl_vdmderiv.map"));
  EXPECT_TRUE(identicalBytes(deriv.volume, daxo::transposeXY(daxo::derivativeY(v))));
  EXPECT_TRUE(exactlyNegated(deriv.volume, secondDeriv.volume));
  for (const MapFile* m : {&deriv, &secondDeriv}) {
    EXPECT_EQ(m->firstFloat, 0.1f);
    EXPECT_EQ(m->secondFloat, 1.0f);
  }

  const FMRHeader corrected = readProject<FMRHeader>(file("lr_undist.fmr"));
  ASSERT_EQ(corrected.volumes.size(), 2u);
  for (size_t t = 0; t < 2; ++t) {
    EXPECT_TRUE(identicalBytes(corrected.volumes[t], daxo::correctVolume(v, firstVolumes[t], true))) << "volume " << t;
  }
  const DMRHeader correctedSecond = readProject<DMRHeader>(file("rl_undist.dmr"));
  ASSERT_EQ(correctedSecond.volumes.size(), 1u);
  EXPECT_TRUE(
      identicalBytes(correctedSecond.volumes[0], daxo::correctVolume(v * -1.0f, daxo::transposeXY(pair.second), true)));
}

// Only a name ending in ".fmr" in lower case is an FMR project.
TEST_F(EstimateTask, UpperCaseFmrIsReadAsDmr) {
  const SyntheticPair pair = syntheticPair(kSize, 2.0);
  writeDmrProject(file("A.FMR"), kSize, {pair.first}, Voxels::Int16);
  writeDmrProject(file("b.dmr"), kSize, {pair.second}, Voxels::Int16);
  hostState().openDocument("A", kSize);

  estimate({file("A.FMR"), file("b.dmr")});

  EXPECT_EQ(messageBoxTexts(), Entries{});
  EXPECT_TRUE(std::filesystem::exists(file("A_vdm.map")));
  EXPECT_EQ(parameterChanges(), Entries{"vdm=" + file("A_vdm.map")});

  // An FMR project under such a name is read as DMR and fails.
  writeFmrProject(file("C.FMR"), kSize, {pair.first}, Voxels::Int16);
  estimate({file("C.FMR"), file("b.dmr")});
  EXPECT_EQ(messageBoxTexts(), Entries{"Error: Failed opening for reading: " + file("C.dwi")});
}

TEST_F(EstimateTask, BadPairsAreRefusedBeforeAnythingIsLoggedOrWritten) {
  const std::vector<Volume> three = daxo::testing::patternVolumes(kSize, 3);
  writeFmrProject(file("a.fmr"), kSize, three, Voxels::Int16);
  writeFmrProject(file("b.fmr"), kSize, three, Voxels::Int16);
  writeFmrProject(file("small.fmr"), {24, 24, 11}, daxo::testing::patternVolumes({24, 24, 11}, 1), Voxels::Int16);
  hostState().openDocument("a", kSize);
  const Entries before = namesIn(dir.path());

  struct Case {
    Settings settings;
    std::string box;
  };
  Settings index3{file("a.fmr"), file("b.fmr")};
  index3.volume0 = 3;
  Settings indexMinus1{file("a.fmr"), file("b.fmr")};
  indexMinus1.volume1 = -1;
  indexMinus1.apply = true;
  const Case cases[] = {
      {{file("a.fmr"), file("small.fmr")},
       "Error: All datasets must have the same dimensions! " + file("a.fmr") + " has 24 x 24 x 12 voxels, " +
           file("small.fmr") + " has 24 x 24 x 11."},
      {index3, "Error: Cannot use volume 3 of file " + file("a.fmr") + ", which has only 3 volumes."},
      {indexMinus1, "Error: Cannot use volume 4294967295 of file " + file("b.fmr") + ", which has only 3 volumes."},
      {{file("a.fmr"), file("gone.fmr")}, "Error: Failed opening for reading: " + file("gone.fmr")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box);
    hostState().messageBoxes = {};
    hostState().log = {};
    estimate(c.settings);
    EXPECT_EQ(messageBoxTexts(), Entries{c.box});
    EXPECT_EQ(logEntries(), Entries{});
  }
  EXPECT_EQ(namesIn(dir.path()), before);
  EXPECT_EQ(parameterChanges(), Entries{});
  EXPECT_TRUE(hostState().document->maps().empty());
}

// Regression: a project without volumes has no first volume to compare; it is
// refused naming the file before anything is estimated or written.
TEST_F(EstimateTask, RegressionProjectWithoutVolumesIsRefusedNamingIt) {
  writeFmrProject(file("a.fmr"), kSize, daxo::testing::patternVolumes(kSize, 1), Voxels::Int16);
  writeDmrProject(file("empty.dmr"), kSize, {}, Voxels::Int16);
  daxo::testing::writeFile(file("empty.dwi"), "");
  hostState().openDocument("a", kSize);
  const Entries before = namesIn(dir.path());

  estimate({file("a.fmr"), file("empty.dmr")});
  EXPECT_EQ(messageBoxTexts(), Entries{"Error: Project has no volumes to correct: " + file("empty.dmr")});
  estimate({file("empty.dmr"), file("a.fmr")});
  EXPECT_EQ(messageBoxTexts().back(), "Error: Project has no volumes to correct: " + file("empty.dmr"));

  EXPECT_EQ(logEntries(), Entries{});
  EXPECT_EQ(namesIn(dir.path()), before);
}

// Regression: two projects whose maps get the same name (the same project
// twice, a.fmr with a.dmr, or two files in a folder whose "." cuts both
// names) would have the second map replace the first, leaving "vdm" naming
// the negated map. Refused before anything is estimated.
TEST_F(EstimateTask, RegressionPairWhoseMapsWouldShareANameIsRefused) {
  const std::vector<Volume> volumes = daxo::testing::patternVolumes(kSize, 2);
  std::filesystem::create_directory(file("my.data"));
  writeFmrProject(file("a.fmr"), kSize, volumes, Voxels::Int16);
  writeDmrProject(file("a.dmr"), kSize, volumes, Voxels::Int16);
  writeDmrProject(file("my.data/run1"), kSize, volumes, Voxels::Int16);
  writeDmrProject(file("my.data/run2"), kSize, volumes, Voxels::Int16);
  hostState().openDocument("a", kSize);

  const std::pair<Settings, std::string> cases[] = {
      {{file("a.fmr"), file("a.fmr"), 0, 1}, file("a_vdm.map")},
      {{file("a.fmr"), file("a.dmr")}, file("a_vdm.map")},
      {{file("my.data/run1"), file("my.data/run2")}, file("my_vdm.map")},
  };
  for (const auto& [settings, name] : cases) {
    hostState().messageBoxes = {};
    estimate(settings);
    EXPECT_EQ(messageBoxTexts(),
              Entries{"Error: The maps of " + settings.file0 + " and " + settings.file1 + " would both be saved as " +
                      name + "; give two projects with different names."});
  }
  EXPECT_EQ(logEntries(), Entries{});
  EXPECT_FALSE(std::filesystem::exists(file("a_vdm.map")));
  EXPECT_FALSE(std::filesystem::exists(file("my_vdm.map")));
}

// Regression: the filter widths are divided by the voxel size; a header
// without a usable size gave a map of zeros (or NaN) reported as success.
TEST_F(EstimateTask, RegressionVoxelSizeThatIsNotPositiveIsRefused) {
  const std::vector<Volume> volumes = daxo::testing::patternVolumes(kSize, 1);
  writeFmrProject(file("a.fmr"), kSize, volumes, Voxels::Int16);
  writeFmrProject(file("b.fmr"), kSize, volumes, Voxels::Int16);
  hostState().openDocument("a", kSize);

  const std::pair<VoxelSize, std::string> cases[] = {
      {{3.0f, 0.0f, 3.0f, 0.0f}, "3 x 0 x 3"},
      {{-2.0f, 3.0f, 3.0f, 0.0f}, "-2 x 3 x 3"},
      {{3.0f, 3.0f, 2.0f, -2.0f}, "3 x 3 x 0"},
  };
  for (const auto& [size, text] : cases) {
    setVoxelSize<FMRHeader>(file("a.fmr"), size);
    hostState().messageBoxes = {};
    estimate({file("a.fmr"), file("b.fmr")});
    EXPECT_EQ(messageBoxTexts(),
              Entries{"Error: Cannot estimate from " + file("a.fmr") + ": its voxel size must be positive, not " +
                      text + " mm (InplaneResolutionX, InplaneResolutionY, SliceThickness + SliceGap)."});
  }
  EXPECT_EQ(logEntries(), Entries{});
  EXPECT_FALSE(std::filesystem::exists(file("a_vdm.map")));
}

// A single NaN voxel used to spread through the smoothed scans and stop the
// full estimation on its NaN cost ("try higher order", which cannot help).
// Voxels that are not finite are now estimated from as 0: the maps are those
// of the same scans with 0 there, bit for bit, and the log says how many.
TEST_F(EstimateTask, RegressionNonFiniteVoxelsAreEstimatedFromAsZero) {
  SyntheticPair pair = syntheticPair(kSize, 2.0);
  pair.first(5, 5, 5) = 0.0f;
  pair.first(6, 5, 5) = 0.0f;
  pair.second(7, 7, 7) = 0.0f;
  writeFmrProject(file("zero0.fmr"), kSize, {pair.first}, Voxels::Float32);
  writeFmrProject(file("zero1.fmr"), kSize, {pair.second}, Voxels::Float32);
  pair.first(5, 5, 5) = std::numeric_limits<float>::quiet_NaN();
  pair.first(6, 5, 5) = std::numeric_limits<float>::infinity();
  pair.second(7, 7, 7) = -std::numeric_limits<float>::infinity();
  writeFmrProject(file("a.fmr"), kSize, {pair.first}, Voxels::Float32);
  writeFmrProject(file("b.fmr"), kSize, {pair.second}, Voxels::Float32);
  hostState().openDocument("a", kSize);

  Settings s{file("a.fmr"), file("b.fmr")};
  s.fast = false;
  estimate(s);
  EXPECT_EQ(messageBoxTexts(), Entries{});
  const Entries entries = logEntries();
  EXPECT_NE(std::find(entries.begin(), entries.end(),
                      "2 voxels of " + file("a.fmr") + " that are not finite numbers are estimated from as 0."),
            entries.end());
  EXPECT_EQ(entries.back(), "Done.");
  estimate(Settings{file("zero0.fmr"), file("zero1.fmr"), 0, 0, false, true, false, false, false, false});
  EXPECT_TRUE(identicalBytes(readMap(file("a_vdm.map")).volume, readMap(file("zero0_vdm.map")).volume));
  EXPECT_TRUE(identicalBytes(readMap(file("b_vdm.map")).volume, readMap(file("zero1_vdm.map")).volume));
}

// Regression: a bright column that is flat in both scans but differs between
// them makes the column fit divide by zero, and the smoothing spreads its NaN
// over the whole map. The fast path must stop as the full estimation does,
// rather than save that map and correct every voxel to NaN.
TEST_F(EstimateTask, RegressionFastPathStopsOnNotANumberMap) {
  SyntheticPair pair = syntheticPair(kSize, 2.0);
  for (int32_t z = 0; z < kSize.z; ++z) {
    for (int32_t y = 0; y < kSize.y; ++y) {
      pair.first(3, y, z) = 700.0f;
      pair.second(3, y, z) = 900.0f;
    }
  }
  writeFmrProject(file("a.fmr"), kSize, {pair.first}, Voxels::Float32);
  writeFmrProject(file("b.fmr"), kSize, {pair.second}, Voxels::Float32);
  hostState().openDocument("a", kSize);
  const Entries before = namesIn(dir.path());

  Settings s{file("a.fmr"), file("b.fmr")};
  s.apply = true;
  estimate(s);

  EXPECT_EQ(messageBoxTexts(), Entries{});
  const Entries entries = logEntries();
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[entries.size() - 2], "Not-a-number values detected. Please start again trying higher order.");
  EXPECT_EQ(entries.back(), "Done.");
  EXPECT_EQ(namesIn(dir.path()), before);
  EXPECT_EQ(hostState().parameters.getString("vdm"), "earlier.map");
}

// The extension starts at the last "." of the whole path: a file without one
// in a folder with one is read as DMR and its map is named after the folder.
TEST_F(EstimateTask, MapNameIsCutAtAFoldersDot) {
  const SyntheticPair pair = syntheticPair(kSize, 2.0);
  std::filesystem::create_directory(file("my.data"));
  writeDmrProject(file("my.data/run1"), kSize, {pair.first}, Voxels::Float32);
  writeDmrProject(file("b.dmr"), kSize, {pair.second}, Voxels::Float32);
  hostState().openDocument("run1", kSize);

  estimate({file("my.data/run1"), file("b.dmr")});

  EXPECT_EQ(messageBoxTexts(), Entries{});
  EXPECT_TRUE(std::filesystem::exists(file("my_vdm.map")));
  EXPECT_TRUE(std::filesystem::exists(file("b_vdm.map")));
  EXPECT_EQ(parameterChanges(), Entries{"vdm=" + file("my_vdm.map")});
}

// The map is written into the host's newest map, which must exist and have
// the extents of the map in the projects' frame; the checks run in the order
// z, y, x.
TEST_F(EstimateTask, MapSavingChecksTheHostsMap) {
  const SyntheticPair pair = syntheticPair(kSize, 2.0);
  writeFmrProject(file("a.fmr"), kSize, {pair.first}, Voxels::Float32);
  writeFmrProject(file("b.fmr"), kSize, {pair.second}, Voxels::Float32);

  const std::pair<Dimensions, std::string> cases[] = {
      {{23, 25, 11}, "Error: assertion failure (distcor:120): dim.z == header.DimZ"},
      {{23, 25, 12}, "Error: assertion failure (distcor:121): dim.y == header.DimY"},
      {{23, 24, 12}, "Error: assertion failure (distcor:122): dim.x == header.DimX"},
  };
  for (const auto& [extents, box] : cases) {
    hostState().messageBoxes = {};
    hostState().openDocument("a", extents);
    estimate({file("a.fmr"), file("b.fmr")});
    EXPECT_EQ(messageBoxTexts(), Entries{box});
  }
  hostState().document.reset();
  hostState().messageBoxes = {};
  estimate({file("a.fmr"), file("b.fmr")});
  EXPECT_EQ(messageBoxTexts(), Entries{"Error: assertion failure (distcor:119): slices != nullptr"});
  EXPECT_FALSE(std::filesystem::exists(file("a_vdm.map")));
}

// FNV-1a over the map's voxel bytes.
uint64_t checksum(const Volume& v) {
  uint64_t h = 1469598103934665603ull;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(v.data());
  for (size_t i = 0; i < v.voxelCount() * sizeof(float); ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

// The dialog's estimation is the classic algorithm, kept bit for bit: the
// checksums of the maps it saves on a fixed pair were recorded before the
// variational estimator was added beside it. A change here changes what
// every dialog user gets.
TEST_F(EstimateTask, ClassicMapsAreUnchangedBitForBit) {
  const SyntheticPair pair = syntheticPair(kSize, 2.0);
  writeFmrProject(file("a.fmr"), kSize, {pair.first}, Voxels::Float32);
  writeFmrProject(file("b.fmr"), kSize, {pair.second}, Voxels::Float32);
  hostState().openDocument("a", kSize);
  struct Case {
    bool fast, useSsd, useIc;
    int32_t order;
    uint64_t expected;
  };
  const Case cases[] = {{false, false, true, 0, 0xcfc2e28bb38c2f6bull},
                        {false, true, false, 0, 0x664db58584ec3eb8ull},
                        {true, false, true, 0, 0xe3ed05285f3bb96bull}};
  for (const Case& c : cases) {
    Settings s{file("a.fmr"), file("b.fmr")};
    s.fast = c.fast;
    s.useSsd = c.useSsd;
    s.useIc = c.useIc;
    s.order = c.order;
    std::filesystem::remove(file("a_vdm.map"));
    estimate(s);
    ASSERT_TRUE(std::filesystem::exists(file("a_vdm.map")));
    const uint64_t sum = checksum(readMap(file("a_vdm.map")).volume);
    EXPECT_EQ(sum, c.expected) << "fast " << c.fast << " ssd " << c.useSsd << " ic " << c.useIc << " order " << c.order
                               << ": 0x" << std::hex << sum;
  }
}

// The variational task shares the estimate task's parameters, files and
// framing; with phase encoding along x (rllr) its maps are the estimator's on
// the transposed scans, saved in the projects' frame, and they recover the
// pair's field.
TEST_F(EstimateTask, VariationalTaskWithPhaseEncodingAlongX) {
  const Dimensions working{24, 30, 10};
  const Dimensions stored{30, 24, 10};
  const SyntheticPair pair = syntheticPair(working, 2.5);
  writeFmrProject(file("lr.fmr"), stored, {daxo::transposeXY(pair.first)}, Voxels::Float32);
  writeFmrProject(file("rl.fmr"), stored, {daxo::transposeXY(pair.second)}, Voxels::Float32);
  hostState().openDocument("lr", stored);

  const Settings s{file("lr.fmr"), file("rl.fmr")};
  auto& parameters = hostState().parameters;
  for (const auto& [name, value] : {std::pair<const char*, int32_t>{"volume0", 0},
                                    {"volume1", 0},
                                    {"rllr", 1},
                                    {"use_ic", 1},
                                    {"use_ssd", 0},
                                    {"apply_to_input", 1},
                                    {"save_derivative", 0},
                                    {"fast_algorithm", 0},
                                    {"order", 0}})
    parameters.setInt(name, value);
  parameters.setString("file0", s.file0);
  parameters.setString("file1", s.file1);
  runTask("estimate_variational");
  EXPECT_EQ(hostState().busyCursor.depth(), 0);

  EXPECT_EQ(messageBoxTexts(), Entries{});
  expectLogStartsWith(
      logEntries(),
      {"Estimating voxel displacement maps...", "Variational estimation, 3 levels", "Noise floor removed: deviation ",
       "Level 1 of 3 (", "Level 2 of 3 (", "Level 3 of 3 (24 x 30 x 10): cost ",
       "\nTime taken: ", "Inverse consistency check VDM: PASSED", "Saving voxel displacement maps to .map files...",
       "Applying voxel displacement maps...", "Done."});
  EXPECT_EQ(parameterChanges(), Entries{"vdm=" + file("lr_vdm.map")});
  const Volume v = daxo::estimateVariational(pair.first, pair.second, {}, nullptr);
  const MapFile map = readMap(file("lr_vdm.map"));
  EXPECT_TRUE(identicalBytes(map.volume, daxo::transposeXY(v)));
  EXPECT_TRUE(exactlyNegated(map.volume, readMap(file("rl_vdm.map")).volume));
  EXPECT_LT(daxo::displacementError(v, pair.truth, pair.mask).rms, 0.05);
  const FMRHeader corrected = readProject<FMRHeader>(file("lr_undist.fmr"));
  ASSERT_EQ(corrected.volumes.size(), 1u);
  EXPECT_TRUE(identicalBytes(corrected.volumes[0], daxo::correctVolume(v, daxo::transposeXY(pair.first), true)));
}

}  // namespace
