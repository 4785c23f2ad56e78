#include "fileio/paths.h"

#include <gtest/gtest.h>

namespace daxo {
namespace {

TEST(Paths, SplitAtEitherSeparator) {
  EXPECT_EQ(directoryOf("C:/data/run1.fmr"), "C:/data/");
  EXPECT_EQ(directoryOf("C:\\data\\run1.fmr"), "C:\\data\\");
  EXPECT_EQ(directoryOf("a/b\\c.fmr"), "a/b\\");
  EXPECT_EQ(directoryOf("run1.fmr"), "");
  EXPECT_EQ(fileNameOf("C:/data\\run1.fmr"), "run1.fmr");
  EXPECT_EQ(fileNameOf("run1.fmr"), "run1.fmr");
  EXPECT_EQ(fileNameOf("data/"), "");
}

TEST(Paths, ExtensionIsTheLastDotOfTheWholePath) {
  EXPECT_EQ(stripExtension("C:/data/run1.fmr"), "C:/data/run1");
  EXPECT_EQ(stripExtension("C:/my.data/run1"), "C:/my");
  EXPECT_EQ(stripExtension("run1"), "run1");
  EXPECT_EQ(withExtension("C:/data/run1.fmr", "map"), "C:/data/run1.map");
  EXPECT_EQ(withExtension("run1", "map"), "run1.map");
  EXPECT_EQ(withSuffix("C:/data/run1.fmr", "_undist"), "C:/data/run1_undist.fmr");
  EXPECT_EQ(withSuffix("C:/my.data/run1", "_undist"), "C:/my_undist.data/run1");
  EXPECT_EQ(withSuffix("run1", "_vdm"), "run1_vdm");
  EXPECT_EQ(withExtension(withSuffix("a/run1.fmr", "_vdm"), "map"), "a/run1_vdm.map");
}

TEST(Paths, ExtensionTestIsCaseSensitiveAndNeedsTheDot) {
  EXPECT_TRUE(hasExtension("a/run1.fmr", "fmr"));
  EXPECT_FALSE(hasExtension("A.FMR", "fmr"));
  EXPECT_FALSE(hasExtension("run1fmr", "fmr"));
  EXPECT_TRUE(hasExtension(".fmr", "fmr"));
  EXPECT_FALSE(hasExtension("fmr", "fmr"));
  EXPECT_FALSE(hasExtension("run1.fmr\r", "fmr"));
}

}  // namespace
}  // namespace daxo
