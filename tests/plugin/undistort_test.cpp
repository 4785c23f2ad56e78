// Correcting and writing whole projects, as the apply and estimate tasks do.
#include "plugin/undistort.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "correction/vdm.h"
#include "fileio/fileerrors.h"
#include "tests/plugin/testprojects.h"
#include "testsupport/faultinjection.h"
#include "testsupport/testfiles.h"
#include "testsupport/thrownmessage.h"

namespace {

using daxo::Dimensions;
using daxo::Volume;
using daxo::testing::namesIn;
using daxo::testing::patternVolumes;
using daxo::testing::thrownMessage;
using daxo::testing::Voxels;
using Names = std::vector<std::string>;

// The project's header, loaded without data, as the tasks load it.
template <typename Header>
Header headerOf(const std::string& path) {
  Header project;
  project.loadHeader(path);
  return project;
}

TEST(WriteUndistorted, RegressionProjectWithoutVolumesWritesNothing) {
  daxo::testing::TempFolder dir;
  const Volume map(4, 4, 2, 0.0f);
  daxo::testing::writeFmrProject(dir.file("f.fmr"), {4, 4, 2}, {}, Voxels::Int16);
  daxo::testing::writeDmrProject(dir.file("d.dmr"), {4, 4, 2}, {}, Voxels::Int16);
  daxo::testing::writeFile(dir.file("f.stc"), "");
  daxo::testing::writeFile(dir.file("d.dwi"), "");
  auto fmr = headerOf<daxo::FMRHeader>(dir.file("f.fmr"));
  auto dmr = headerOf<daxo::DMRHeader>(dir.file("d.dmr"));
  daxo::VolumeReader fmrData = fmr.openVolumes();
  daxo::VolumeReader dmrData = dmr.openVolumes();
  EXPECT_THROW(daxo::writeUndistortedFmr(map, fmr, fmrData, false), std::runtime_error);
  EXPECT_EQ(thrownMessage<std::runtime_error>(
                [&] { daxo::writeUndistortedDmr(map, dir.file("d.dmr"), dmr, dmrData, false); }),
            "Project has no volumes to correct: " + dir.file("d.dmr"));
  EXPECT_EQ(namesIn(dir.path()), (Names{"d.dmr", "d.dwi", "f.fmr", "f.stc"}));
}

TEST(WriteUndistorted, TransposedMapsAreInTheTransposedFrame) {
  daxo::testing::TempFolder dir;
  const Dimensions d{6, 4, 2};
  daxo::testing::writeDmrProject(dir.file("lr.dmr"), d, patternVolumes(d, 2), Voxels::Float32);
  auto project = headerOf<daxo::DMRHeader>(dir.file("lr.dmr"));
  daxo::VolumeReader data = project.openVolumes();

  EXPECT_THROW(daxo::writeUndistortedDmr(Volume(d, 0.0f), dir.file("lr.dmr"), project, data, true), std::logic_error);
  EXPECT_EQ(namesIn(dir.path()), (Names{"lr.dmr", "lr.dwi"}));

  daxo::writeUndistortedDmr(Volume(4, 6, 2, 0.0f), dir.file("lr.dmr"), project, data, true);
  EXPECT_EQ(project.fileName, dir.file("lr_undist.dmr"));
  EXPECT_EQ(project.prefix.value, "lr_undist");
  const auto copy = daxo::testing::readProject<daxo::DMRHeader>(dir.file("lr_undist.dmr"));
  ASSERT_EQ(copy.volumes.size(), 2u);
  EXPECT_EQ(copy.volumes[0].dimensions(), d);
  EXPECT_EQ(namesIn(dir.path()), (Names{"lr.dmr", "lr.dwi", "lr_undist.dmr", "lr_undist.dwi"}));
}

// A smooth map of `d` with displacements of up to about two voxels, different
// in every voxel, so that every volume is resampled in earnest.
Volume wavyMap(const Dimensions& d) {
  Volume map(d);
  for (int32_t z = 0; z < d.z; ++z)
    for (int32_t y = 0; y < d.y; ++y)
      for (int32_t x = 0; x < d.x; ++x) map(x, y, z) = 2.0f * std::sin(0.9f * x + 0.5f * y - 0.7f * z);
  return map;
}

// The copy written volume by volume is byte for byte the copy of correcting
// the loaded project whole and saving it (header and data file), for both
// project kinds, both voxel types and both phase-encoding axes. The volumes'
// values reach beyond the 16-bit range, so saturation is compared too.
TEST(WriteUndistorted, VolumeByVolumeCopyIsTheWholeProjectsCopyByteForByte) {
  const Dimensions d{7, 5, 3};
  const int volumes = 4;
  std::vector<Volume> series = patternVolumes(d, volumes);
  for (Volume& v : series) v(1, 2, 1) = 40000.0f, v(3, 1, 0) = -40000.0f;
  for (const bool dmr : {false, true}) {
    for (const Voxels voxels : {Voxels::Int16, Voxels::Float32}) {
      for (const bool transposed : {false, true}) {
        SCOPED_TRACE(std::string(dmr ? "DMR" : "FMR") + (voxels == Voxels::Int16 ? " int16" : " float32") +
                     (transposed ? " transposed" : ""));
        daxo::testing::TempFolder streamed, whole;
        const std::string name = dmr ? "run.dmr" : "run.fmr";
        const char* data = dmr ? "run_undist.dwi" : "run_undist.stc";
        const Volume map = wavyMap(transposed ? Dimensions{d.y, d.x, d.z} : d);
        for (const auto* dir : {&streamed, &whole}) {
          if (dmr) {
            daxo::testing::writeDmrProject(dir->file(name), d, series, voxels, 2);
          } else {
            daxo::testing::writeFmrProject(dir->file(name), d, series, voxels);
          }
        }
        if (dmr) {
          auto project = headerOf<daxo::DMRHeader>(streamed.file(name));
          daxo::VolumeReader source = project.openVolumes();
          daxo::writeUndistortedDmr(map, streamed.file(name), project, source, transposed);
          auto reference = daxo::testing::readProject<daxo::DMRHeader>(whole.file(name));
          reference.loadAMRFile.value.clear();
          reference.showAMRFile.value = false;
          daxo::correctVolumes(map, reference.volumes, transposed);
          reference.saveAs(whole.file("run_undist.dmr"));
        } else {
          auto project = headerOf<daxo::FMRHeader>(streamed.file(name));
          daxo::VolumeReader source = project.openVolumes();
          daxo::writeUndistortedFmr(map, project, source, transposed);
          auto reference = daxo::testing::readProject<daxo::FMRHeader>(whole.file(name));
          reference.loadAMRFile.value.clear();
          reference.showAMRFile.value = false;
          daxo::correctVolumes(map, reference.volumes, transposed);
          reference.saveAs(whole.file("run_undist.fmr"));
        }
        const std::string header = dmr ? "run_undist.dmr" : "run_undist.fmr";
        EXPECT_EQ(daxo::testing::readFile(streamed.file(header)), daxo::testing::readFile(whole.file(header)));
        EXPECT_EQ(daxo::testing::readFile(streamed.file(data)), daxo::testing::readFile(whole.file(data)));
        EXPECT_EQ(namesIn(streamed.path()), namesIn(whole.path()));
      }
    }
  }
}

// Reading and writing now overlap: a disk that fills up while the data file
// is written, and a source data file that is cut short after it was opened
// (its size was checked then), each fail the copy, and nothing is left under
// the copy's names: an earlier copy stays as it was, no temporary remains.
TEST(WriteUndistorted, FailureWhileStreamingLeavesNoCopy) {
  const Dimensions d{64, 32, 4};
  const struct {
    const char* what;
    uint64_t fileSizeLimit;  // 0: none
    bool cutSource;
    std::string expected;  // the message after the folder
  } cases[] = {
      {"full disk", 40000, false, "Failed writing to file: %/run_undist.stc: " + std::string(std::strerror(EFBIG))},
      {"source cut short", 0, true, "Failed reading voxel data from %/run.stc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    daxo::testing::TempFolder dir;
    daxo::testing::writeFmrProject(dir.file("run.fmr"), d, patternVolumes(d, 3), Voxels::Float32);
    daxo::testing::writeFile(dir.file("run_undist.fmr"), "earlier copy");
    auto project = headerOf<daxo::FMRHeader>(dir.file("run.fmr"));
    daxo::VolumeReader source = project.openVolumes();
    if (c.cutSource) std::filesystem::resize_file(dir.file("run.stc"), 3 * d.x * d.y * d.z * sizeof(float) / 2);
    const auto write = [&] {
      try {
        daxo::writeUndistortedFmr(Volume(d, 0.5f), project, source, false);
      } catch (const daxo::IOError& e) {
        return std::string(e.what());
      }
      return std::string("written");
    };
    const std::string message =
        c.fileSizeLimit > 0 ? daxo::testing::runWithFileSizeLimit(c.fileSizeLimit, write) : write();
    std::string expected = c.expected;
    expected.replace(expected.find('%'), 1, dir.path());
    EXPECT_EQ(message, expected);
    EXPECT_EQ(daxo::testing::readFile(dir.file("run_undist.fmr")), "earlier copy");
    EXPECT_EQ(namesIn(dir.path()), (Names{"run.fmr", "run.stc", "run_undist.fmr"}));
  }
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
  project.loadHeader(dir.file("run1.fmr"));
  ASSERT_EQ(project.dataFileName(), dir.file("run1_undist.stc"));
  daxo::VolumeReader source = project.openVolumes();

  EXPECT_EQ(
      thrownMessage<std::runtime_error>([&] { daxo::writeUndistortedFmr(Volume(d, 1.0f), project, source, false); }),
      "The corrected copy " + dir.file("run1_undist.fmr") + " would replace the data file " +
          dir.file("run1_undist.stc") + " of its source " + dir.file("run1.fmr"));
  EXPECT_EQ(daxo::testing::readFile(dir.file("run1_undist.stc")), data);
  EXPECT_EQ(namesIn(dir.path()), (Names{"run1.fmr", "run1_undist.stc"}));
}

}  // namespace
