// distcor linked in statically, so its log stream can be written directly.
#include "plugin/distcor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/hoststate.h"

namespace {

using daxo::host::hostState;

class DistcorWithLogAccess : public distcor {
 public:
  using distcor::logStream;
};

TEST(Distcor, SecondInitPluginForwardsTheFirstStreamsPendingText) {
  daxo::host::resetHostState();
  {
    DistcorWithLogAccess plugin;
    EXPECT_EQ(plugin.logStream(), nullptr);
    ASSERT_TRUE(plugin.initPlugin());
    *plugin.logStream() << "written before the second start";
    EXPECT_TRUE(hostState().log.entries().empty());

    ASSERT_TRUE(plugin.initPlugin());
    EXPECT_EQ(hostState().log.entries(), (std::vector<std::string>{"written before the second start"}));
    *plugin.logStream() << "pending at the end";
  }
  EXPECT_EQ(hostState().log.entries(),
            (std::vector<std::string>{"written before the second start", "pending at the end"}));
}

}  // namespace
