#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fileio/fileerrors.h"
#include "fileio/inputfile.h"
#include "fileio/stagedoutputfile.h"
#include "testsupport/testfiles.h"

namespace daxo {
namespace {

using testing::namesIn;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

// A run killed while writing used to leave its temporary (up to 172 MB)
// beside the output. The output is written to an unnamed file until it is
// complete, so a killed writer leaves nothing but the earlier output.
TEST(StagedOutput, RegressionKilledWriterLeavesNothingBehind) {
  TempFolder folder;
  const std::string target = folder.file("out.stc");
  writeFile(target, "earlier output");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    StagedOutputFile out(target);
    const std::string block(1 << 20, 'x');
    for (int i = 0; i < 8; ++i) out.stream() << block;
    out.stream().flush();
    (void)!write(ready[1], "w", 1);
    pause();  // killed here, in the middle of the output
    _exit(0);
  }
  char signal = 0;
  ASSERT_EQ(read(ready[0], &signal, 1), 1);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{"out.stc"});
  EXPECT_EQ(readFile(target), "earlier output");
}

// The same output written by two processes at once: each has its own
// temporary, both succeed, and the file left is one of them, whole.
TEST(StagedOutput, ConcurrentWritersEachReplaceTheOutputWhole) {
  TempFolder folder;
  const std::string target = folder.file("out.map");
  const std::string contents[] = {std::string(3 << 20, 'a'), std::string(2 << 20, 'b')};
  for (int round = 0; round < 5; ++round) {
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
      children[i] = fork();
      ASSERT_GE(children[i], 0);
      if (children[i] == 0) {
        try {
          StagedOutputFile out(target);
          if (!out.isOpen()) _exit(2);
          out.stream() << contents[i];
          out.commit();
        } catch (...) {
          _exit(1);
        }
        _exit(0);
      }
    }
    for (pid_t child : children) {
      int status = 0;
      waitpid(child, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::string left = readFile(target);
    EXPECT_TRUE(left == contents[0] || left == contents[1]) << "round " << round;
    EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{"out.map"});
  }
}

// While inputs are tracked, an output that is the same file as one of them
// (whatever its name) is refused; outside a tracking it may be replaced.
TEST(StagedOutput, OutputThatIsATrackedInputIsRefused) {
  TempFolder folder;
  writeFile(folder.file("in.stc"), "input");
  std::ifstream in;
  {
    const InputTracking tracking;
    ASSERT_TRUE(openInputFile(in, folder.file("in.stc")));
    const std::string sameFile = folder.path() + "/./in.stc";
    StagedOutputFile out(sameFile);
    EXPECT_FALSE(out.isOpen());
    EXPECT_EQ(out.problem(), "it is the same file as the input " + folder.file("in.stc"));
  }
  StagedOutputFile out(folder.file("in.stc"));
  EXPECT_TRUE(out.isOpen());
}

}  // namespace
}  // namespace daxo
