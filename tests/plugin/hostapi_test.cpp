// The plugin's host binding, bound to the stand-in host linked into this
// program.
#include "plugin/hostapi.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "host/hostfunctions.h"
#include "host/hoststate.h"
#include "volume/fft.h"

namespace {

using daxo::host::hostState;

class HostApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    daxo::host::resetHostState();
    ASSERT_TRUE(daxo::bindHostApi());
  }
};

TEST(HostFunctionList, HoldsTheHostsNamesInLookupOrder) {
  const std::vector<std::string> names = {
#define DAXO_NAME(name, type) #name,
      DAXO_HOST_FUNCTIONS(DAXO_NAME)
#undef DAXO_NAME
  };
  ASSERT_EQ(names.size(), 185u);
  EXPECT_EQ(daxo::kHostFunctionCount, 185);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
  EXPECT_EQ(names.front(), "hvGetVersionOfTesmarinHV");
  EXPECT_EQ(names[5], "hvLogText");
  EXPECT_EQ(names[63], "hvGetMAPOfCurrentFMR");
  EXPECT_EQ(names[172], "hvGetStringParameter");
  EXPECT_EQ(names.back(), "hvLaunchICADialog");
}

TEST_F(HostApiTest, BindsWhatTheHostExportsAndLeavesTheRestNull) {
  const daxo::HostApi& api = daxo::hostApi();
  EXPECT_EQ(api.hvGetVersionOfTesmarinHV, &hvGetVersionOfTesmarinHV);
  EXPECT_EQ(api.hvLogText, &hvLogText);
  EXPECT_EQ(api.hvSaveMAPsOfCurrentFMR, &hvSaveMAPsOfCurrentFMR);
  EXPECT_EQ(api.hvSetIntParameter, &hvSetIntParameter);
  // Functions the stand-in host does not provide stay empty entries.
  EXPECT_EQ(api.hvGetTesmarinHVPath, nullptr);
  EXPECT_EQ(api.hvLaunchICADialog, nullptr);
  // FFT functions wait for their own step.
  EXPECT_EQ(api.hv_fftwf_malloc, nullptr);
}

TEST_F(HostApiTest, FftBindingHandsTheHostsFunctionsToTheCore) {
  daxo::bindFft(daxo::FftFunctions());
  ASSERT_TRUE(daxo::bindHostFft());
  const daxo::FftFunctions& fft = daxo::boundFft();
  EXPECT_EQ(fft.allocate, &hv_fftwf_malloc);
  EXPECT_EQ(fft.destroyPlan, &hv_fftwf_destroy_plan);

  // A forward and backward transform through the host gives the input back,
  // scaled by the number of values.
  const int n = 2 * 3 * 4;
  float* data = static_cast<float*>(fft.allocate(sizeof(float) * n));
  auto* spectrum = static_cast<daxo::FftComplex*>(fft.allocate(sizeof(daxo::FftComplex) * 2 * 3 * 3));
  float input[n];
  for (int i = 0; i < n; ++i) input[i] = data[i] = static_cast<float>(i % 5) - 1.5f;
  daxo::FftPlan forward = fft.planRealToComplex3d(2, 3, 4, data, spectrum, daxo::kFftEstimate);
  daxo::FftPlan backward = fft.planComplexToReal3d(2, 3, 4, spectrum, data, daxo::kFftEstimate);
  fft.execute(forward);
  fft.execute(backward);
  for (int i = 0; i < n; ++i) EXPECT_NEAR(data[i], input[i] * n, 1e-4f) << i;
  fft.destroyPlan(forward);
  fft.destroyPlan(backward);
  fft.release(spectrum);
  fft.release(data);
}

TEST_F(HostApiTest, StringParametersAreCutTo511Characters) {
  hostState().parameters.setString("files", std::string(600, 'a'));
  hostState().parameters.setString("task", "estimate");
  EXPECT_EQ(daxo::readStringParameter("files"), std::string(511, 'a'));
  EXPECT_EQ(daxo::readStringParameter("task"), "estimate");
  EXPECT_EQ(daxo::readStringParameter("unknown"), "");
}

}  // namespace
