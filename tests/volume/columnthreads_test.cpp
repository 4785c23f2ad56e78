#include "volume/columnthreads.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace daxo {
namespace {

TEST(ParseThreadCount, TakesOnlyWholeNumbersFromOneToTheLimit) {
  const struct {
    const char* text;
    int expected;
  } cases[] = {{"1", 1},   {"2", 2},     {"16", 16}, {"256", 256},
               {"0", 0},   {"257", 0},   {"", 0},    {"-2", 0},
               {"+2", 0},  {" 2", 0},    {"2 ", 0},  {"2.0", 0},
               {"two", 0}, {nullptr, 0}, {"007", 7}, {"99999999999999999999", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(null)");
    EXPECT_EQ(parseThreadCount(c.text), c.expected);
  }
}

TEST(ThreadCount, ARequestWinsOverTheEnvironmentWhichWinsOverTheCores) {
  const char* saved = std::getenv("DAXO_THREADS");
  const std::string previous = saved ? saved : "";
  setenv("DAXO_THREADS", "3", 1);
  EXPECT_EQ(threadCount(5), 5);
  EXPECT_EQ(threadCount(1000), kMaxThreads);
  EXPECT_EQ(threadCount(0), 3);
  setenv("DAXO_THREADS", "many", 1);
  const int cores = threadCount(0);
  EXPECT_GE(cores, 1);
  unsetenv("DAXO_THREADS");
  EXPECT_EQ(threadCount(0), cores);
  if (saved) setenv("DAXO_THREADS", previous.c_str(), 1);
}

}  // namespace
}  // namespace daxo
