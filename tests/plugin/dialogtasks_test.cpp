// The check task and the two selection tasks through the plugin library.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/hoststate.h"
#include "tests/plugin/loadedplugin.h"
#include "tests/plugin/testprojects.h"
#include "testsupport/testfiles.h"

namespace {

using daxo::Dimensions;
using daxo::host::hostState;
using daxo::testing::Entries;
using daxo::testing::messageBoxTexts;
using daxo::testing::parameterChanges;
using daxo::testing::patternVolumes;
using daxo::testing::Voxels;

// The dialog's tasks run without the busy cursor.
class DialogTask : public daxo::testing::PluginTaskTest {
 protected:
  void run(const std::string& task) {
    runTask(task);
    EXPECT_EQ(hostState().busyCursor.shows(), 0);
  }
  void touch(const std::string& name) const { daxo::testing::writeFile(file(name), "x"); }
};

class CheckTask : public DialogTask {
 protected:
  void check(const std::string& files) {
    hostState().parameters.setString("files", files);
    run("check");
  }
  // A project with its data file.
  void project(const std::string& name) const {
    const Dimensions d{4, 4, 2};
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dmr") == 0) {
      daxo::testing::writeDmrProject(file(name), d, patternVolumes(d, 1), Voxels::Int16);
    } else {
      daxo::testing::writeFmrProject(file(name), d, patternVolumes(d, 1), Voxels::Int16);
    }
  }
};

TEST_F(CheckTask, ReadableLowerCaseProjectsAreOk) {
  project("a.fmr");
  project("b.dmr");
  for (const std::string& files : {file("a.fmr") + "\n\n" + file("b.dmr") + "\n", std::string(), std::string("\n\n")}) {
    hostState().log = {};
    check(files);
    EXPECT_EQ(daxo::testing::logEntries(), Entries{"Check: OK"});
    EXPECT_EQ(messageBoxTexts(), Entries{});
  }
  EXPECT_EQ(parameterChanges(), Entries{});
}

TEST_F(CheckTask, MissingSecondFileIsTheOnlyLine) {
  project("a.fmr");
  check(file("a.fmr") + "\n" + file("gone.dmr"));
  EXPECT_EQ(messageBoxTexts(), Entries{file("gone.dmr") + ": could not read file\n"});
  EXPECT_EQ(daxo::testing::logEntries(), Entries{});
}

TEST_F(CheckTask, AllProblemsAreListedInOneBoxInListOrder) {
  touch("upper.FMR");
  touch("a.fmr");
  project("b.fmr");
  std::filesystem::create_directory(file("folder.dmr"));
  check(file("upper.FMR") + "\n" + file("missing.fmr") + "\n" + file("notes.txt") + "\n" + file("folder.dmr"));
  EXPECT_EQ(messageBoxTexts(),
            Entries{file("upper.FMR") + ": not an FMR or DMR file\n" + file("missing.fmr") + ": could not read file\n" +
                    file("notes.txt") + ": not an FMR or DMR file\n" + file("folder.dmr") + ": could not read file\n"});

  // CR LF lines: every path but the last keeps its carriage return.
  hostState().messageBoxes = {};
  check(file("a.fmr") + "\r\n" + file("b.fmr"));
  EXPECT_EQ(messageBoxTexts(), Entries{file("a.fmr") + "\r: not an FMR or DMR file\n"});
}

// "Check: OK" used to be said of a project whose data file was missing: only
// the header's name and opening were checked.
TEST_F(CheckTask, RegressionMissingOrShortDataFileIsAProblem) {
  project("a.fmr");
  project("b.dmr");
  project("c.fmr");
  std::filesystem::remove(file("a.stc"));
  std::filesystem::resize_file(file("b.dwi"), 10);
  daxo::testing::writeFile(file("c.fmr"), "\r\nNrOfVolumes: many\r\n");
  check(file("a.fmr") + "\n" + file("b.dmr") + "\n" + file("c.fmr"));
  EXPECT_EQ(messageBoxTexts(),
            Entries{file("a.fmr") + ": its data file " + file("a.stc") + " is missing or cannot be read\n" +
                    file("b.dmr") + ": its data file " + file("b.dwi") + " is incomplete: 10 of 64 bytes\n" +
                    file("c.fmr") + ": Bad value in header " + file("c.fmr") +
                    ": NrOfVolumes has the value 'many', which is not a 32-bit integer\n"});
  EXPECT_EQ(daxo::testing::logEntries(), Entries{});
}

class SelectTask : public DialogTask {
 protected:
  void select(const std::string& task, const std::string& answer) {
    hostState().fileChooser.queueAnswer(answer);
    run(task);
  }
};

TEST_F(SelectTask, FmrProjectIsDescribedWithoutItsData) {
  daxo::FMRHeader written =
      daxo::testing::writeFmrProject(file("run.fmr"), {4, 4, 2}, patternVolumes({4, 4, 2}, 2), Voxels::Int16);
  // A header alone, saying 120 volumes: the data are not read.
  written.volumes.clear();
  written.nrOfVolumes.value = 120;
  written.save();
  std::filesystem::remove(file("run.stc"));

  select("select_fmr_or_dmr", file("run.fmr"));

  EXPECT_EQ(messageBoxTexts(), Entries{});
  EXPECT_EQ(parameterChanges(), (Entries{"nr_of_volumes=120", "display_volume=1", "filename=" + file("run.fmr")}));
  ASSERT_EQ(hostState().fileChooser.requests().size(), 1u);
  EXPECT_EQ(hostState().fileChooser.requests()[0].title, "Please select an FMR or DMR project.");
  EXPECT_EQ(hostState().fileChooser.requests()[0].filter, "*.fmr *.dmr");
}

TEST_F(SelectTask, DmrProjectIsReadWholeAndItsDisplayVolumeCountsFromOne) {
  const Dimensions d{4, 4, 2};
  daxo::testing::writeDmrProject(file("dwi.dmr"), d, patternVolumes(d, 3), Voxels::Int16, 0);
  daxo::testing::writeDmrProject(file("late.dmr"), d, patternVolumes(d, 3), Voxels::Int16, 2);

  select("select_fmr_or_dmr", file("dwi.dmr"));
  select("select_fmr_or_dmr", file("late.dmr"));
  EXPECT_EQ(parameterChanges(), (Entries{"nr_of_volumes=3", "display_volume=1", "filename=" + file("dwi.dmr"),
                                         "nr_of_volumes=3", "display_volume=3", "filename=" + file("late.dmr")}));

  // Without its data file the project is refused and nothing is set.
  std::filesystem::remove(file("dwi.dwi"));
  select("select_fmr_or_dmr", file("dwi.dmr"));
  EXPECT_EQ(messageBoxTexts(), Entries{"Error: Failed opening for reading: " + file("dwi.dwi")});
  EXPECT_EQ(parameterChanges().size(), 6u);
}

TEST_F(SelectTask, OtherPathsAndCancellingSetOnlyTheFileName) {
  touch("RUN.FMR");
  select("select_fmr_or_dmr", file("RUN.FMR"));
  select("select_fmr_or_dmr", "");
  select("select_vdm", file("run_vdm.map"));  // not opened
  select("select_vdm", "");
  EXPECT_EQ(messageBoxTexts(), Entries{});
  EXPECT_EQ(parameterChanges(),
            (Entries{"filename=" + file("RUN.FMR"), "filename=", "filename=" + file("run_vdm.map"), "filename="}));
  ASSERT_EQ(hostState().fileChooser.requests().size(), 4u);
  EXPECT_EQ(hostState().fileChooser.requests()[2].title, "Please select an VDM.");
  EXPECT_EQ(hostState().fileChooser.requests()[2].filter, "*_vdm.map");
}

}  // namespace
