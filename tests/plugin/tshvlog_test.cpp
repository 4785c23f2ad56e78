#include "plugin/tshvlog.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<std::string> entries;
void capture(const char* text) { entries.emplace_back(text); }

class TshvLogTest : public ::testing::Test {
 protected:
  void SetUp() override { entries.clear(); }
};

TEST_F(TshvLogTest, EachFlushForwardsOneEntryEvenWhenEmpty) {
  {
    TSHVLog log(capture);
    log << "Stage " << 2 << " of " << 4 << std::flush;
    log << std::flush;
    EXPECT_EQ(entries, (std::vector<std::string>{"Stage 2 of 4", ""}));
  }
  // Destruction forwards once more, with nothing collected.
  EXPECT_EQ(entries, (std::vector<std::string>{"Stage 2 of 4", "", ""}));
}

TEST_F(TshvLogTest, PendingTextArrivesWhenTheStreamIsDestroyed) {
  auto log = std::make_unique<TSHVLog>(capture);
  *log << "Loading "
       << "VDM...";
  EXPECT_TRUE(entries.empty());
  log.reset();
  EXPECT_EQ(entries, (std::vector<std::string>{"Loading VDM..."}));
}

TEST_F(TshvLogTest, LongEntryIsForwardedWhole) {
  const std::string line(9000, 'x');
  TSHVLog log(capture);
  for (int i = 0; i < 4; ++i) log << line;
  log << std::flush;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], line + line + line + line);
}

TEST_F(TshvLogTest, KeepsDefaultNumberFormattingAndAddsNoLineEnd) {
  TSHVLog log(capture);
  log << 3.14159265 << " " << 1e-7f << " " << 250000000.0 << std::flush;
  EXPECT_EQ(entries, (std::vector<std::string>{"3.14159 1e-07 2.5e+08"}));
}

TEST_F(TshvLogTest, StreamWithoutCallbackDiscardsText) {
  {
    TSHVLog log(nullptr);
    log << "nobody listens" << std::flush;
    EXPECT_TRUE(log.good());
    log << "pending";
  }
  EXPECT_TRUE(entries.empty());
}

}  // namespace
