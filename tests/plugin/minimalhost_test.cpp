// A host that offers only its version and a string-parameter function that
// fills the whole 512-byte buffer without a terminator: the plugin must
// neither read past the buffer nor call the functions the host lacks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "plugin/distcor.h"
#include "plugin/hostapi.h"

extern "C" {
__attribute__((visibility("default"))) void hvGetVersionOfTesmarinHV(int32_t* first, int32_t* second, int32_t* third) {
  *first = 3;
  *second = 0;
  *third = 0;
}

__attribute__((visibility("default"))) int32_t hvGetStringParameter(const char* /*name*/, char* value) {
  std::memset(value, 'x', daxo::kHostTextBufferSize);
  return 1;
}
}

namespace {

TEST(MinimalHost, UnterminatedStringAnswerIsCutInsideTheBuffer) {
  ASSERT_TRUE(daxo::bindHostApi());
  EXPECT_EQ(daxo::readStringParameter("task"), std::string(511, 'x'));
}

TEST(MinimalHost, PluginNeverCallsMissingHostFunctions) {
  distcor plugin;
  // No FFT functions and no message box to say so: refused without a crash.
  EXPECT_FALSE(plugin.initPlugin());
  // The task name matches nothing; the busy cursor functions are missing.
  EXPECT_TRUE(plugin.execute());
}

}  // namespace
