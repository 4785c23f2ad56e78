#include "cli/dialogpaths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command.h"

namespace {

using daxo::cli::checkDialogPath;
using daxo::cli::kMaxParameterLength;
using daxo::cli::packFileLists;
using daxo::cli::UsageError;
using Lists = std::vector<std::string>;

TEST(PackFileLists, ListsFillUpToTheLimitAndKeepEveryPathWholeAndInOrder) {
  EXPECT_EQ(packFileLists({}), Lists{});
  EXPECT_EQ(packFileLists({"a", "bb", "ccc"}, 4), (Lists{"a\nbb", "ccc"}));
  EXPECT_EQ(packFileLists({"a", "bb", "ccc"}, 6), (Lists{"a\nbb", "ccc"}));
  EXPECT_EQ(packFileLists({"a", "bb", "ccc"}, 8), (Lists{"a\nbb\nccc"}));

  // Paths of 100 characters: five with their line feeds take 504 characters.
  std::vector<std::string> paths;
  for (int i = 0; i < 12; ++i) paths.push_back(std::string(99, 'p') + static_cast<char>('a' + i));
  const Lists lists = packFileLists(paths);
  ASSERT_EQ(lists.size(), 3u);
  std::string joined;
  for (const std::string& list : lists) {
    EXPECT_LE(list.size(), kMaxParameterLength);
    joined += (joined.empty() ? "" : "\n") + list;
  }
  std::string expected;
  for (const std::string& path : paths) expected += (expected.empty() ? "" : "\n") + path;
  EXPECT_EQ(joined, expected);

  // A path exactly at the limit travels alone.
  EXPECT_EQ(packFileLists({"x", std::string(kMaxParameterLength, 'q'), "y"}).size(), 3u);
}

TEST(CheckDialogPath, PathsThatWouldBeCutOrSplitAreRefused) {
  EXPECT_NO_THROW(checkDialogPath("apply", std::string(kMaxParameterLength, 'q')));
  EXPECT_NO_THROW(checkDialogPath("apply", "run 1\r.fmr"));
  EXPECT_THROW(checkDialogPath("apply", std::string(kMaxParameterLength + 1, 'q')), UsageError);
  EXPECT_THROW(checkDialogPath("apply", "a.fmr\nb.fmr"), UsageError);
  EXPECT_THROW(checkDialogPath("apply", ""), UsageError);
}

}  // namespace
