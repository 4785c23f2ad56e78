// What the daxo program leaves on disk when writing fails or its output names
// are taken by something else: the inputs unchanged bit for bit, no partial
// file under a final name, exit status 1 and a message naming the file.
#include "testsupport/faultinjection.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/cli/daxorun.h"
#include "tests/plugin/syntheticpair.h"
#include "tests/plugin/testprojects.h"
#include "testsupport/testfiles.h"

namespace {

namespace fs = std::filesystem;
using daxo::Dimensions;
using daxo::Volume;
using daxo::testing::DaxoRun;
using daxo::testing::readFile;
using daxo::testing::runDaxo;
using daxo::testing::shellQuoted;
using daxo::testing::Voxels;

const Dimensions kSize{24, 24, 12};

// Every regular file of a folder with its bytes.
std::map<std::string, std::string> contentsOf(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file() && !entry.is_symlink())
      files[entry.path().filename().string()] = readFile(entry.path());
  }
  return files;
}

// Names a run must never leave: the temporaries of unfinished outputs.
bool holdsTemporaries(const std::string& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().find(".daxo-partial") != std::string::npos) return true;
  }
  return false;
}

class SafeOutputs : public ::testing::Test {
 protected:
  // A scan pair a.fmr, b.fmr and a map run_vdm.map in `folder`.
  static void writeInputs(const std::string& folder) {
    const daxo::testing::SyntheticPair pair = daxo::testing::syntheticPair(kSize, 2.0);
    daxo::testing::writeFmrProject(folder + "/a.fmr", kSize, {pair.first}, Voxels::Float32);
    daxo::testing::writeFmrProject(folder + "/b.fmr", kSize, {pair.second}, Voxels::Float32);
    daxo::testing::writeMapFile(folder + "/run_vdm.map", Volume(kSize, 0.5f));
  }
  static std::string estimateIn(const std::string& folder) {
    return "estimate --method classic --fast --apply " + shellQuoted(folder + "/a.fmr") + " " +
           shellQuoted(folder + "/b.fmr");
  }
  static std::string applyIn(const std::string& folder) {
    return "apply --vdm " + shellQuoted(folder + "/run_vdm.map") + " " + shellQuoted(folder + "/a.fmr");
  }
  // The failed run's promises: exit 1, the file and `reason` named, no
  // "Done.", the earlier files unchanged, no temporaries.
  static void expectCleanFailure(const DaxoRun& run, const std::string& name, const std::string& reason,
                                 const std::map<std::string, std::string>& before, const std::string& folder) {
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(name + ": " + reason), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("Done."), std::string::npos) << run.out;
    const std::map<std::string, std::string> after = contentsOf(folder);
    for (const auto& [file, bytes] : before) {
      ASSERT_TRUE(after.count(file)) << file;
      EXPECT_TRUE(after.at(file) == bytes) << file << " changed";
    }
    EXPECT_FALSE(holdsTemporaries(folder));
  }
};

// A link at an output name used to be written through (the source replaced,
// or the output thrown away into /dev/null with exit 0), a hard link to an
// input replaced it, and a FIFO blocked the run forever.
TEST_F(SafeOutputs, RegressionLinksPipesDevicesAndInputsAtOutputNamesAreRefused) {
  enum class Put { LinkToSource, LinkToDevNull, Fifo, HardLinkToSource };
  struct Case {
    bool estimate;
    std::string output;  // the name taken
    Put put;
    std::string source;  // the input linked to
    std::string reason;
  };
  const std::string linkReason = "it is a symbolic link (outputs are not written through links)";
  const Case cases[] = {
      {false, "a_undist.fmr", Put::LinkToSource, "a.fmr", linkReason},
      {false, "a_undist.stc", Put::LinkToDevNull, "", linkReason},
      {false, "a_undist.stc", Put::Fifo, "", "it is a named pipe (FIFO)"},
      {false, "a_undist.fmr", Put::HardLinkToSource, "a.fmr", "it is the same file as the input "},
      {true, "a_vdm.map", Put::LinkToSource, "a.stc", linkReason},
      {true, "b_vdm.map", Put::LinkToDevNull, "", linkReason},
      {true, "a_vdm.map", Put::Fifo, "", "it is a named pipe (FIFO)"},
      {true, "b_undist.fmr", Put::HardLinkToSource, "b.fmr", "it is the same file as the input "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    daxo::testing::TempFolder dir;
    writeInputs(dir.path());
    const std::string output = dir.file(c.output);
    switch (c.put) {
      case Put::LinkToSource:
        fs::create_symlink(dir.file(c.source), output);
        break;
      case Put::LinkToDevNull:
        fs::create_symlink("/dev/null", output);
        break;
      case Put::Fifo:
        ASSERT_EQ(mkfifo(output.c_str(), 0600), 0);
        break;
      case Put::HardLinkToSource:
        fs::create_hard_link(dir.file(c.source), output);
        break;
    }
    const std::map<std::string, std::string> before = contentsOf(dir.path());
    // A run blocked on the FIFO would be ended here rather than hang the suite.
    const DaxoRun run = runDaxo(c.estimate ? estimateIn(dir.path()) : applyIn(dir.path()), "timeout 120");
    expectCleanFailure(run, output, c.reason, before, dir.path());
    if (c.put != Put::HardLinkToSource) {
      EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(output)));
    }
  }
}

// The disk filled up while the maps were saved: the first map used to be
// left truncated, the second empty, the earlier good map destroyed, and the
// run went on to correct the projects and said "Done.". A small file system
// of its own when the tests may mount one, else a limit on file sizes.
TEST_F(SafeOutputs, RegressionFullDiskStopsTheRunAtTheFirstFailedWrite) {
  daxo::testing::SmallFileSystem small(1 << 20);
  daxo::testing::TempFolder plain;
  const std::string folder = small.mounted() ? small.path() : plain.path();
  writeInputs(folder);
  daxo::testing::writeMapFile(folder + "/a_vdm.map", Volume(kSize, 0.25f));  // an earlier good map
  std::string prefix;
  std::string reason;
  if (small.mounted()) {
    small.fill(8192);
    reason = std::strerror(ENOSPC);
  } else {
    prefix = daxo::testing::fileSizeLimitPrefix(8192);
    reason = std::strerror(EFBIG);
  }
  std::map<std::string, std::string> before = contentsOf(folder);
  before.erase("filler");
  const DaxoRun run = runDaxo(estimateIn(folder), prefix);
  expectCleanFailure(run, folder + "/a_vdm.map", reason, before, folder);
  EXPECT_NE(run.err.find("Error: The host did not save the map file " + folder + "/a_vdm.map"), std::string::npos)
      << run.err;
  EXPECT_FALSE(fs::exists(folder + "/b_vdm.map"));
  EXPECT_FALSE(fs::exists(folder + "/a_undist.fmr"));
}

// A folder that cannot be written: nothing is created, the reason is named.
TEST_F(SafeOutputs, UnwritableFolderIsAnErrorNamingTheFile) {
  daxo::testing::SmallFileSystem small(1 << 20);
  daxo::testing::TempFolder plain;
  std::string folder = plain.path();
  std::string reason = std::strerror(EACCES);
  if (geteuid() == 0) {
    // Permissions do not bind root; a read-only file system does.
    if (!small.mounted()) GTEST_SKIP() << "running as root without a file system to mount read-only";
    folder = small.path();
    reason = std::strerror(EROFS);
  }
  writeInputs(folder);
  if (geteuid() == 0) {
    ASSERT_EQ(mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
  } else {
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  }
  const std::map<std::string, std::string> before = contentsOf(folder);
  const DaxoRun run = runDaxo(applyIn(folder));
  expectCleanFailure(run, folder + "/a_undist.fmr", reason, before, folder);
  EXPECT_EQ(contentsOf(folder).size(), before.size());
  if (geteuid() != 0) fs::permissions(folder, fs::perms::owner_all);
}

// Two runs writing the same outputs used to share one temporary: one failed
// with "Cannot replace file" and the file left could come from the run that
// failed. Both now succeed, and what is left is one run's output, whole.
TEST_F(SafeOutputs, RegressionConcurrentWritersLeaveOneWholeOutput) {
  daxo::testing::TempFolder dir;
  writeInputs(dir.path());
  daxo::testing::writeMapFile(dir.file("other_vdm.map"), Volume(kSize, -1.5f));
  const std::string applyOther =
      "apply --vdm " + shellQuoted(dir.file("other_vdm.map")) + " " + shellQuoted(dir.file("a.fmr"));
  ASSERT_EQ(runDaxo(applyIn(dir.path())).status, 0);
  const std::string first = readFile(dir.file("a_undist.stc"));
  ASSERT_EQ(runDaxo(applyOther).status, 0);
  const std::string second = readFile(dir.file("a_undist.stc"));
  ASSERT_NE(first, second);

  const std::string daxo = std::string("'") + DAXO_PROGRAM_PATH + "' --quiet ";
  for (int round = 0; round < 5; ++round) {
    const std::string both = "(" + daxo + applyIn(dir.path()) + " > /dev/null 2> " + shellQuoted(dir.file("e1")) +
                             "; echo $? > " + shellQuoted(dir.file("s1")) + ") & (" + daxo + applyOther +
                             " > /dev/null 2> " + shellQuoted(dir.file("e2")) + "; echo $? > " +
                             shellQuoted(dir.file("s2")) + ") & wait";
    ASSERT_EQ(std::system(both.c_str()), 0);
    EXPECT_EQ(readFile(dir.file("s1")), "0\n") << readFile(dir.file("e1"));
    EXPECT_EQ(readFile(dir.file("s2")), "0\n") << readFile(dir.file("e2"));
    const std::string left = readFile(dir.file("a_undist.stc"));
    EXPECT_TRUE(left == first || left == second) << "round " << round;
    EXPECT_FALSE(holdsTemporaries(dir.path()));
  }
}

}  // namespace
