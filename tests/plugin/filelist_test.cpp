#include "plugin/filelist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using daxo::splitFileList;
using Paths = std::vector<std::string>;

TEST(SplitFileList, LineFeedsSeparateAndEmptyLinesVanish) {
  EXPECT_EQ(splitFileList(""), Paths{});
  EXPECT_EQ(splitFileList("\n\n\n"), Paths{});
  EXPECT_EQ(splitFileList("a.fmr"), Paths{"a.fmr"});
  EXPECT_EQ(splitFileList("\na.fmr\n\n\nb.dmr\n"), (Paths{"a.fmr", "b.dmr"}));
}

TEST(SplitFileList, NothingButLineFeedsIsRemoved) {
  EXPECT_EQ(splitFileList("a.fmr\r\nb.fmr\r\n"), (Paths{"a.fmr\r", "b.fmr\r"}));
  EXPECT_EQ(splitFileList(" a b.fmr \n\t\n\r"), (Paths{" a b.fmr ", "\t", "\r"}));
}

}  // namespace
