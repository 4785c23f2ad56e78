#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "fileio/dmrheader.h"
#include "fileio/fileerrors.h"
#include "fileio/fmrheader.h"
#include "tests/fileio/fileimages.h"
#include "testsupport/faultinjection.h"
#include "testsupport/thrownmessage.h"

namespace daxo {
namespace {

using testing::thrownMessage;

namespace fs = std::filesystem;
using testing::floatBytes;
using testing::headerText;
using testing::namesIn;
using testing::readFile;
using testing::runWithFileSizeLimit;
using testing::TempFolder;
using testing::writeFile;

const char* const kFullDevice = "/dev/full";

class ProjectSave : public ::testing::Test {
 protected:
  void SetUp() override {
    header_ = headerText(
        {"NrOfVolumes: 1", "NrOfSlices: 1", "Prefix: \"run1\"", "DataType: 2", "ResolutionX: 2", "ResolutionY: 2"});
    writeFile(folder_.file("run1.fmr"), header_);
    writeFile(folder_.file("run1.stc"), floatBytes({1, 2, 3, 4}));
    project_.loadWithData(folder_.file("run1.fmr"));
  }
  void expectSourceIntact() {
    EXPECT_EQ(readFile(folder_.file("run1.fmr")), header_);
    EXPECT_EQ(readFile(folder_.file("run1.stc")), floatBytes({1, 2, 3, 4}));
  }
  TempFolder folder_;
  std::string header_;
  FMRHeader project_;
};

// Write errors after opening (a full disk) used to pass as success. The
// earlier file of the name stays, and no temporary is left beside it.
TEST_F(ProjectSave, RegressionFullDiskIsAWriteErrorNamingTheFile) {
  writeFile(folder_.file("copy.fmr"), "old header");
  const std::string message = runWithFileSizeLimit(0, [&] {
    try {
      project_.saveAs(folder_.file("copy.fmr"));
    } catch (const WriteFileError& e) {
      return std::string(e.what());
    }
    return std::string("saved");
  });
  EXPECT_EQ(message, "Failed writing to file: " + folder_.file("copy.fmr") + ": " + std::strerror(EFBIG));
  EXPECT_EQ(readFile(folder_.file("copy.fmr")), "old header");
  EXPECT_EQ(namesIn(folder_.path()), (std::vector<std::string>{"copy.fmr", "run1.fmr", "run1.stc"}));
  expectSourceIntact();
}

TEST_F(ProjectSave, RegressionFullDiskForTheDataFileLeavesTheHeaderAlone) {
  project_.resolutionX.value = 64;
  project_.resolutionY.value = 64;
  project_.volumes = {Volume(64, 64, 1)};
  writeFile(folder_.file("full.fmr"), "old header");
  const std::string message = runWithFileSizeLimit(4096, [&] {
    try {
      project_.saveAs(folder_.file("full.fmr"));
    } catch (const WriteFileError& e) {
      return std::string(e.what()) + "|" + project_.fileName + "|" + project_.prefix.value;
    }
    return std::string("saved");
  });
  // A failed saveAs leaves the project under its old name.
  EXPECT_EQ(message, "Failed writing to file: " + folder_.file("full.stc") + ": " + std::strerror(EFBIG) + "|" +
                         folder_.file("run1.fmr") + "|run1");
  EXPECT_EQ(readFile(folder_.file("full.fmr")), "old header");
  EXPECT_EQ(namesIn(folder_.path()), (std::vector<std::string>{"full.fmr", "run1.fmr", "run1.stc"}));
  expectSourceIntact();
}

TEST_F(ProjectSave, DataFileThatCannotBeCreatedChangesNothing) {
  fs::create_directory(folder_.file("copy.stc"));
  EXPECT_EQ(thrownMessage<WriteFileError>([&] { project_.saveAs(folder_.file("copy.fmr")); }),
            "Failed opening STC for writing: " + folder_.file("copy.stc") + ": it is a folder");
  EXPECT_FALSE(fs::exists(folder_.file("copy.fmr")));
  EXPECT_EQ(namesIn(folder_.path()), (std::vector<std::string>{"copy.stc", "run1.fmr", "run1.stc"}));
}

TEST_F(ProjectSave, HeaderThatCannotBeCreated) {
  const std::string path = folder_.file("no/such/folder/copy.fmr");
  EXPECT_EQ(thrownMessage<WriteFileError>([&] { project_.saveAs(path); }),
            "Cannot Create file: " + path + ": " + std::strerror(ENOENT));
  EXPECT_EQ(namesIn(folder_.path()), (std::vector<std::string>{"run1.fmr", "run1.stc"}));
}

TEST_F(ProjectSave, ReadOnlyTargetIsNotReplaced) {
  writeFile(folder_.file("copy.fmr"), "kept");
  fs::permissions(folder_.file("copy.fmr"), fs::perms::owner_read);
  if (std::ofstream(folder_.file("copy.fmr"), std::ios::app).is_open()) GTEST_SKIP() << "running with root rights";
  EXPECT_THROW(project_.saveAs(folder_.file("copy.fmr")), WriteFileError);
  EXPECT_EQ(readFile(folder_.file("copy.fmr")), "kept");
}

// A link at an output name used to be followed: the file it pointed to (a
// source, say) was replaced.
TEST_F(ProjectSave, RegressionSymbolicLinkAtAnOutputNameIsRefused) {
  writeFile(folder_.file("real.stc"), "old");
  fs::create_symlink("real.stc", folder_.file("copy.stc"));
  EXPECT_EQ(thrownMessage<WriteFileError>([&] { project_.saveAs(folder_.file("copy.fmr")); }),
            "Failed opening STC for writing: " + folder_.file("copy.stc") +
                ": it is a symbolic link (outputs are not written through links)");
  EXPECT_TRUE(fs::is_symlink(folder_.file("copy.stc")));
  EXPECT_EQ(readFile(folder_.file("real.stc")), "old");
  EXPECT_FALSE(fs::exists(folder_.file("copy.fmr")));
}

TEST_F(ProjectSave, ReplacedFilesKeepTheirPermissions) {
  writeFile(folder_.file("copy.fmr"), "old");
  fs::permissions(folder_.file("copy.fmr"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  project_.saveAs(folder_.file("copy.fmr"));
  EXPECT_EQ(fs::status(folder_.file("copy.fmr")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ProjectSave, HeaderNamedLikeItsDataFileIsRefused) {
  EXPECT_THROW(project_.saveAs(folder_.file("copy.stc")), WriteFileError);
  EXPECT_EQ(namesIn(folder_.path()), (std::vector<std::string>{"run1.fmr", "run1.stc"}));
}

TEST_F(ProjectSave, DiffusionProjectsAreSavedTheSameWay) {
  writeFile(folder_.file("dwi.dmr"),
            headerText({"NrOfVolumes: 1", "NrOfSlices: 1", "Prefix: \"dwi\"", "DataStorageFormat: 3", "DataType: 2",
                        "ResolutionX: 1", "ResolutionY: 1"}));
  writeFile(folder_.file("dwi.dwi"), floatBytes({9}));
  DMRHeader dwi;
  dwi.loadWithData(folder_.file("dwi.dmr"));
  fs::create_directory(folder_.file("dwi_undist.dwi"));
  EXPECT_EQ(thrownMessage<WriteFileError>([&] { dwi.saveAs(folder_.file("dwi_undist.dmr")); }),
            "Failed opening for writing: " + folder_.file("dwi_undist.dwi") + ": it is a folder");
  EXPECT_FALSE(fs::exists(folder_.file("dwi_undist.dmr")));
  if (!fs::exists(kFullDevice)) return;
  dwi.fileName = kFullDevice;
  dwi.volumes.clear();
  EXPECT_EQ(thrownMessage<WriteFileError>([&] { dwi.save(); }),
            std::string("Cannot Create file: ") + kFullDevice + ": it is a device");
}

}  // namespace
}  // namespace daxo
