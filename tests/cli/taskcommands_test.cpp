// daxo's task commands (apply, check, select, info), run as a user runs them
// on projects and maps the tests write.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/daxorun.h"
#include "tests/plugin/testprojects.h"
#include "testsupport/testfiles.h"

namespace {

using daxo::Dimensions;
using daxo::Volume;
using daxo::testing::DaxoRun;
using daxo::testing::patternVolumes;
using daxo::testing::runDaxo;
using daxo::testing::shellQuoted;
using daxo::testing::Voxels;

size_t countOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class TaskCommand : public daxo::testing::DaxoCommandTest {
 protected:
  void writeFmr(const std::string& name, const Dimensions& d = {4, 4, 2}) const {
    daxo::testing::writeFmrProject(file(name), d, patternVolumes(d, 2), Voxels::Int16);
  }
  void writeMap(const Dimensions& d = {4, 4, 2}) const { daxo::testing::writeMapFile(mapPath, Volume(d, 0.25f)); }

  std::string mapPath = dir.file("run_vdm.map");
};

// 30 projects whose paths make the list far longer than one dialog parameter
// holds: daxo corrects them in several runs and writes every one.
TEST_F(TaskCommand, ApplyCorrectsALongListInSeveralRuns) {
  const std::string folder = file(std::string(120, 'f'));
  std::filesystem::create_directory(folder);
  writeMap();
  std::string arguments;
  for (int i = 0; i < 30; ++i) {
    const std::string name = std::string(120, 'f') + "/run" + std::to_string(i) + ".fmr";
    writeFmr(name);
    arguments += " " + shellQuoted(file(name));
  }

  const DaxoRun run = runDaxo("apply --vdm " + shellQuoted(mapPath) + arguments);

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  for (int i = 0; i < 30; ++i) {
    const std::string output = folder + "/run" + std::to_string(i) + "_undist.fmr";
    EXPECT_TRUE(std::filesystem::exists(output)) << output;
    EXPECT_EQ(countOf(run.out, "Undistorted data saved as: " + output + "\n"), 1u) << output;
  }
  // Three paths of about 180 characters fit one run.
  EXPECT_EQ(countOf(run.out, "] Loading VDM...\n"), 10u) << run.out;
  EXPECT_EQ(countOf(run.out, "] Done.\n"), 10u);
}

TEST_F(TaskCommand, ApplyRefusesPathsThatCannotTravelWhole) {
  writeMap();
  writeFmr("a.fmr");
  const std::string tooLong = file(std::string(600, 'l') + ".fmr");
  const std::pair<std::string, std::string> cases[] = {
      {"apply --vdm " + shellQuoted(mapPath) + " " + shellQuoted(file("a.fmr")) + " " + shellQuoted(tooLong),
       "at most 511 characters"},
      {"apply --vdm " + shellQuoted(mapPath) + " " + shellQuoted(file("a.fmr") + "\n" + file("b.fmr")), "line feed"},
      {"apply --vdm " + shellQuoted(tooLong) + " " + shellQuoted(file("a.fmr")), "at most 511 characters"},
      {"apply " + shellQuoted(file("a.fmr")), "--vdm MAP is required"},
      {"apply --vdm " + shellQuoted(mapPath), "expected at least 1 argument(s), got 0"},
      {"apply --yes --no --vdm " + shellQuoted(mapPath) + " " + shellQuoted(file("a.fmr")), "not both"},
      // Regression: a project listed twice was corrected and written twice.
      {"apply --vdm " + shellQuoted(mapPath) + " " + shellQuoted(file("a.fmr")) + " " + shellQuoted(file("./a.fmr")),
       "is listed twice (also as " + file("a.fmr") + ")"},
  };
  for (const auto& [arguments, message] : cases) {
    const DaxoRun run = runDaxo(arguments);
    EXPECT_EQ(run.status, 2) << arguments;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_FALSE(exists("a_undist.fmr"));
}

TEST_F(TaskCommand, ApplyResizesOnlyWhenTold) {
  writeMap({2, 2, 2});
  writeFmr("a.fmr");
  const std::string command = "apply --vdm " + shellQuoted(mapPath) + " " + shellQuoted(file("a.fmr"));

  // No terminal and no flag: the answer is no.
  const DaxoRun unattended = runDaxo(command);
  EXPECT_EQ(unattended.status, 1);
  EXPECT_NE(unattended.err.find("] Error: All datasets must have the same dimensions! The map " + mapPath +
                                " has 2 x 2 x 2 voxels, " + file("a.fmr") + " has "),
            std::string::npos)
      << unattended.err;
  EXPECT_NE(unattended.err.find("give --yes"), std::string::npos) << unattended.err;
  // The question names neither files nor extents; they are said before it.
  EXPECT_NE(unattended.err.find("daxo: apply: " + file("a.fmr") + " has 4 x 4 x 2 voxels, the map " + mapPath +
                                " 2 x 2 x 2\n"),
            std::string::npos)
      << unattended.err;
  EXPECT_EQ(runDaxo(command + " --no").status, 1);
  EXPECT_FALSE(exists("a_undist.fmr"));

  const DaxoRun resized = runDaxo(command + " --yes");
  EXPECT_EQ(resized.status, 0) << resized.err;
  EXPECT_TRUE(exists("a_undist.stc"));
}

TEST_F(TaskCommand, ApplyReportsAMissingMapAndNotesSkippedPaths) {
  writeFmr("a.fmr");
  const DaxoRun run = runDaxo("apply --vdm " + shellQuoted(mapPath) + " " + shellQuoted(file("a.fmr")) + " notes.txt");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Error: could not open file " + mapPath), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("skipping notes.txt"), std::string::npos) << run.err;
}

// Regression: a file given as the map that is not one (here a project
// header) failed with "error reading from binary file" alone, naming no file.
TEST_F(TaskCommand, ApplyNamesAMapFileThatCannotBeRead) {
  writeFmr("a.fmr");
  const DaxoRun run = runDaxo("apply --vdm " + shellQuoted(file("a.fmr")) + " " + shellQuoted(file("a.fmr")));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Error: error reading from binary file\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("daxo: apply: " + file("a.fmr") + " is not a map file or ends early\n"), std::string::npos)
      << run.err;
  EXPECT_FALSE(exists("a_undist.fmr"));
}

TEST_F(TaskCommand, CheckExitsWithOneWhenAnyPathHasAProblem) {
  writeFmr("a.fmr");
  const DaxoRun ok = runDaxo("check " + shellQuoted(file("a.fmr")) + " " + shellQuoted(file("a.fmr")));
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_NE(ok.out.find("] Check: OK\n"), std::string::npos) << ok.out;

  // A long list: a problem in the first run does not hide one in a later run.
  std::string arguments;
  for (int i = 0; i < 12; ++i) arguments += " " + shellQuoted(file(std::string(100, 'x') + std::to_string(i) + ".fmr"));
  const DaxoRun problems =
      runDaxo("check " + shellQuoted(file("A.FMR")) + arguments + " " + shellQuoted(file("a.fmr")));
  EXPECT_EQ(problems.status, 1);
  EXPECT_NE(problems.err.find(file("A.FMR") + ": not an FMR or DMR file\n"), std::string::npos) << problems.err;
  EXPECT_EQ(countOf(problems.err, ": could not read file\n"), 12u) << problems.err;

  EXPECT_EQ(runDaxo("check").status, 2);
}

TEST_F(TaskCommand, SelectPrintsTheParametersTheTaskSet) {
  writeFmr("a.fmr");
  const DaxoRun project = runDaxo("select --file " + shellQuoted(file("a.fmr")));
  EXPECT_EQ(project.status, 0) << project.err;
  EXPECT_EQ(project.out, "nr_of_volumes = 2\ndisplay_volume = 1\nfilename = " + file("a.fmr") + "\n");

  const DaxoRun map = runDaxo("select --vdm --file " + shellQuoted(mapPath));
  EXPECT_EQ(map.status, 0) << map.err;
  EXPECT_EQ(map.out, "filename = " + mapPath + "\n");

  const DaxoRun cancelled = runDaxo("select --file ''");
  EXPECT_EQ(cancelled.out, "filename = \n");

  const DaxoRun missing = runDaxo("select --file " + shellQuoted(file("gone.dmr")));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("Error: Failed opening for reading: " + file("gone.dmr")), std::string::npos);
  EXPECT_EQ(missing.out, "");

  EXPECT_EQ(runDaxo("select").status, 2);
}

TEST_F(TaskCommand, InfoDescribesEveryReadableFile) {
  writeFmr("a.fmr");
  writeMap();
  const DaxoRun run =
      runDaxo("info " + shellQuoted(file("a.fmr")) + " " + shellQuoted(file("gone.dmr")) + " " + shellQuoted(mapPath));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("File: " + file("a.fmr")), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("File: " + mapPath), std::string::npos) << run.out;
  EXPECT_NE(run.err.find(file("gone.dmr")), std::string::npos) << run.err;

  EXPECT_EQ(runDaxo("info " + shellQuoted(file("a.fmr"))).status, 0);
  EXPECT_EQ(runDaxo("info").status, 2);
}

// info used to exit 0 with "Problem:" lines or a data file that was missing
// or incomplete; check said "Check: OK" for a project without its data file.
TEST_F(TaskCommand, RegressionInfoAndCheckFailOnProblemsAndIncompleteData) {
  writeFmr("a.fmr");
  writeFmr("b.fmr");
  std::filesystem::remove(file("a.stc"));
  std::filesystem::resize_file(file("b.stc"), 20);
  for (const std::string name : {"a", "b"}) {
    const DaxoRun info = runDaxo("info " + shellQuoted(file(name + ".fmr")));
    EXPECT_EQ(info.status, 1) << name;
    EXPECT_NE(info.out.find("Problem: the data file " + file(name + ".stc") + " is " +
                            (name == "a" ? "missing" : "incomplete")),
              std::string::npos)
        << info.out;
    const DaxoRun check = runDaxo("check " + shellQuoted(file(name + ".fmr")));
    EXPECT_EQ(check.status, 1) << name;
    EXPECT_EQ(check.out.find("Check: OK"), std::string::npos);
    EXPECT_NE(check.err.find(file(name + ".stc")), std::string::npos) << check.err;
  }
}

// apply used to exit 0 when it passed over every path and corrected nothing.
TEST_F(TaskCommand, RegressionApplyThatCorrectsNothingExitsWithOne) {
  writeMap();
  writeFmr("a.fmr");
  const DaxoRun run = runDaxo("apply --vdm " + shellQuoted(mapPath) + " " + shellQuoted(file("a.FMR")) + " " +
                              shellQuoted(file("notes.txt")));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("daxo: apply: nothing to correct: no path ends in .fmr or .dmr"), std::string::npos)
      << run.err;
  EXPECT_EQ(run.out.find("Done."), std::string::npos);
}

}  // namespace
