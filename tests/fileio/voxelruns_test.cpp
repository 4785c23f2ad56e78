// Data files read and written a run of volumes at a time, as projects are
// corrected volume by volume.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "fileio/fileerrors.h"
#include "fileio/inputfile.h"
#include "fileio/projectfiles.h"
#include "fileio/stagedoutputfile.h"
#include "fileio/volumereader.h"
#include "fileio/voxeldata.h"
#include "tests/fileio/fileimages.h"
#include "testsupport/thrownmessage.h"

namespace daxo {
namespace {

using testing::readFile;
using testing::TempFolder;
using testing::thrownMessage;

// Volumes whose voxels all differ, with fractions (16-bit files truncate them)
// and one value beyond the 16-bit range in each.
std::vector<Volume> distinctVolumes(const DataLayout& l) {
  std::vector<Volume> volumes;
  for (int32_t t = 0; t < l.volumes; ++t) {
    Volume v(l.columns, l.rows, l.slices);
    for (size_t i = 0; i < v.voxelCount(); ++i) v.data()[i] = 100.0f * t + static_cast<float>(i) + 0.75f;
    v.data()[t % v.voxelCount()] = -50000.0f;
    volumes.push_back(std::move(v));
  }
  return volumes;
}

VolumeReader openReader(const std::string& path, const DataLayout& layout) {
  std::ifstream in;
  EXPECT_TRUE(openInputFile(in, path));
  return VolumeReader(std::move(in), layout, path);
}

// Both orders and both voxel types: runs written in order (by
// writeVoxelDataInRuns) and out of order (by writeVolumeRun, seeking back)
// give the bytes of writing the whole file at once, and runs read back are
// the volumes of reading the whole file.
TEST(VoxelRuns, RunsGiveTheBytesAndVolumesOfTheWholeFile) {
  for (const VoxelOrder order : {VoxelOrder::SliceMajor, VoxelOrder::VolumeMajor}) {
    for (const VoxelType type : {VoxelType::Int16, VoxelType::Float32}) {
      SCOPED_TRACE(std::string(order == VoxelOrder::SliceMajor ? "slice-major" : "volume-major") +
                   (type == VoxelType::Int16 ? " int16" : " float32"));
      const DataLayout layout{3, 2, 4, 7, type, order};
      const std::vector<Volume> volumes = distinctVolumes(layout);
      std::ostringstream whole;
      writeVoxelData(whole, layout, volumes);
      TempFolder folder;

      // Runs of three volumes: 0-2, 3-5 and 6.
      const size_t threeVolumes = 3 * layout.voxelsPerVolume() * sizeof(float);
      std::vector<std::pair<int32_t, size_t>> runs;
      {
        StagedOutputFile out(folder.file("inorder"));
        writeVoxelDataInRuns(
            out.stream(), layout,
            [&](int32_t first, std::vector<Volume>& run) {
              runs.emplace_back(first, run.size());
              for (size_t i = 0; i < run.size(); ++i) run[i] = volumes[static_cast<size_t>(first) + i];
            },
            threeVolumes);
        out.commit();
      }
      EXPECT_EQ(runs, (std::vector<std::pair<int32_t, size_t>>{{0, 3}, {3, 3}, {6, 1}}));
      EXPECT_EQ(readFile(folder.file("inorder")), whole.str());

      {
        StagedOutputFile out(folder.file("outoforder"));
        for (const auto& [first, count] : {std::pair<int32_t, int32_t>{4, 3}, {0, 2}, {2, 2}}) {
          writeVolumeRun(out.stream(), 0, layout, first, volumes.data() + first, count);
        }
        out.commit();
      }
      EXPECT_EQ(readFile(folder.file("outoforder")), whole.str());

      std::istringstream wholeIn(whole.str());
      const std::vector<Volume> expected = readVoxelData(wholeIn, layout, "whole");
      VolumeReader reader = openReader(folder.file("inorder"), layout);
      for (const auto& [first, count] : {std::pair<int32_t, int32_t>{5, 2}, {1, 4}, {0, 1}}) {
        std::vector<Volume> run(static_cast<size_t>(count));
        reader.read(first, run);
        for (int32_t i = 0; i < count; ++i) {
          ASSERT_EQ(run[i].dimensions(), expected[first + i].dimensions());
          EXPECT_TRUE(std::equal(run[i].data(), run[i].data() + run[i].voxelCount(), expected[first + i].data()))
              << "volume " << first + i;
        }
      }
      std::vector<Volume> beyond(3);
      EXPECT_THROW(reader.read(5, beyond), std::logic_error);
    }
  }
}

// The reader makes readVoxelData's size check before anything is read.
TEST(VoxelRuns, ShortDataFileIsRefusedWhenOpened) {
  TempFolder folder;
  const DataLayout layout{2, 2, 2, 3, VoxelType::Int16, VoxelOrder::SliceMajor};
  testing::writeFile(folder.file("run.stc"), std::string(47, '\0'));
  std::ifstream in;
  ASSERT_TRUE(openInputFile(in, folder.file("run.stc")));
  EXPECT_EQ(thrownMessage<ReadFileError>([&] { VolumeReader(std::move(in), layout, folder.file("run.stc")); }),
            "Data file too short: " + folder.file("run.stc") + " has 47 bytes, the header implies 48");
}

}  // namespace
}  // namespace daxo
