#include "volume/columnthreads.h"

#include <gtest/gtest.h>

#ifdef __linux__
#include <sched.h>
#endif

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
#ifdef __linux__
  // A process bound to one core (taskset, a batch job given one CPU, one of
  // `daxo bids --jobs`' subjects) starts one thread, not one per core.
  cpu_set_t all;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int c = 0; c < CPU_SETSIZE; ++c) {
    if (CPU_ISSET(c, &all)) {
      CPU_SET(c, &one);
      break;
    }
  }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(threadCount(0), 1);
  ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
#endif
  if (saved) setenv("DAXO_THREADS", previous.c_str(), 1);
}

}  // namespace
}  // namespace daxo
