// The head moving while a pair is taken, through the NIfTI pipeline: between
// the b=0 volumes of one direction (aligned before they are averaged) and
// between the two directions (estimated with the map, written to the map's
// sidecar, and undone in the second series' correction).
#include <gtest/gtest.h>
#include <nifti/nifti1.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "correction/pairagreement.h"
#include "demodata/accuracy.h"
#include "demodata/anatomypair.h"
#include "demodata/displacementfield.h"
#include "demodata/headvolumes.h"
#include "pipeline/niftiestimate.h"
#include "pipeline/niftioutputs.h"
#include "testsupport/realanatomy.h"
#include "testsupport/testfiles.h"

namespace daxo::pipeline {
namespace {

const Affine kAffine{{{-2.5, 0, 0, 60}, {0, 2.5, 0, -60}, {0, 0, 2.5, -30}, {0, 0, 0, 1}}};

// The small demo head, smoothed as scans are band-limited, and its field.
class NiftiMotion : public ::testing::Test {
 protected:
  NiftiMotion() {
    settings.nx = 48;
    settings.ny = 48;
    settings.nz = 24;
    object = gaussianSmoothed(headObject(settings), 0.8);
    head = headMask(settings);
    field = trueDisplacement(settings);
  }
  std::string write(const std::string& name, const std::vector<Volume>& series, const std::string& pe) const {
    const std::string path = folder.file(name + ".nii.gz");
    writeNifti(
        path,
        NiftiImage::create(series.front().dimensions(), static_cast<int32_t>(series.size()), mm, kAffine, DT_FLOAT32),
        series, NiftiStorage::LikeSource);
    testing::writeFile(folder.file(name + ".json"),
                       R"({"PhaseEncodingDirection": ")" + pe + R"(", "TotalReadoutTime": 0.05})");
    return path;
  }
  DemoSettings settings;
  Volume object, head, field;
  std::array<double, 3> mm{2.5, 2.5, 2.5};
  testing::TempFolder folder;
};

// Three b=0 volumes per direction, each with its own noise and a small
// motion: aligned and averaged, they give a better map than one volume.
TEST_F(NiftiMotion, SeveralMovedB0VolumesBeatOne) {
  std::vector<Volume> ap, pa;
  TruthPair first;
  for (int k = 0; k < 3; ++k) {
    AnatomyPairRecipe recipe;
    recipe.noise = 30.0;
    recipe.seed = 100 + static_cast<uint64_t>(k);
    RigidMotion m;
    m.translationMm = {0.4 * k, 0.0, -0.3 * k};
    m.rotationDegrees = {0.0, 0.0, 0.5 * k};
    // The whole pair moved: both scans of one acquisition see the same head.
    const Volume moved = movedBy(object, mm, inverseMotion(m)), movedField = movedBy(field, mm, inverseMotion(m));
    TruthPair pair = makeAnatomyPair(moved, movedField, head, recipe);
    ap.push_back(pair.first);
    pa.push_back(pair.second);
    if (k == 0) first = std::move(pair);
  }
  const std::string apPath = write("ap", ap, "j"), paPath = write("pa", pa, "j-");
  testing::writeFile(folder.file("ap.bval"), "0 0 0\n");
  testing::writeFile(folder.file("pa.bval"), "0 0 0\n");
  const NiftiScan a = openNiftiScan(apPath, "", "--pe0", std::nullopt);
  const NiftiScan b = openNiftiScan(paPath, "", "--pe1", std::nullopt);
  EstimationOptions options;
  options.threads = 2;
  std::ostringstream log, single;
  const NiftiPairEstimate all =
      estimateNiftiPair(a, b, {{}, {}, "--volume0"}, {{}, {}, "--volume1"}, options, true, log);
  const NiftiPairEstimate one =
      estimateNiftiPair(a, b, {{0}, {}, "--volume0"}, {{0}, {}, "--volume1"}, options, true, single);
  EXPECT_NE(log.str().find("Motion of volume 2 of " + apPath + " against volume 0"), std::string::npos) << log.str();
  EXPECT_NE(all.volume0.description.find(", aligned"), std::string::npos);
  const double rmsAll = displacementError(all.map, first.truth, first.mask).rms;
  const double rmsOne = displacementError(one.map, first.truth, first.mask).rms;
  EXPECT_LT(rmsAll, 0.9 * rmsOne) << rmsAll << " against " << rmsOne;
}

// The head moved 1.5 mm along i and turned 2 degrees about k between the
// directions: the motion is found and recorded, and the corrected second
// series lands on the corrected first. The first scan is encoded toward
// lower index (j-), the pair's reference; given the other way round, the
// map is its exact negative and the motion is recorded as the first scan's.
TEST_F(NiftiMotion, MotionBetweenTheDirectionsIsFoundRecordedAndUndone) {
  AnatomyPairRecipe recipe;
  recipe.noise = 15.0;
  RigidMotion truth;
  truth.translationMm = {1.5, 0.0, 0.0};
  truth.rotationDegrees = {0.0, 0.0, 2.0};
  const TruthPair pair = makeMovedAnatomyPair(object, field, head, mm, truth, recipe);
  NiftiEstimateRequest request;
  request.first = write("ap", {pair.first}, "j-");
  request.second = write("pa", {pair.second}, "j");
  request.apply = true;
  request.storage = NiftiStorage::Float32;
  request.estimation.threads = 2;
  std::ostringstream log;
  estimateNiftiFiles(request, log);
  const nlohmann::json sidecar = nlohmann::json::parse(testing::readFile(folder.file("ap_vdm.json")));
  ASSERT_TRUE(sidecar.contains("MotionOfSecondScan")) << log.str();
  EXPECT_NEAR(sidecar["MotionOfSecondScan"]["RotationDegrees"][2].get<double>(), 2.0, 0.1);
  EXPECT_NEAR(sidecar["MotionOfSecondScan"]["TranslationMm"][0].get<double>(), 1.5, 0.1);
  const Volume map = NiftiImage::open(folder.file("ap_vdm.nii.gz")).readVolume(0);
  const Volume ap = NiftiImage::open(folder.file("ap_undist.nii.gz")).readVolume(0);
  const Volume pa = NiftiImage::open(folder.file("pa_undist.nii.gz")).readVolume(0);
  const double moved = maskedCorrelation(ap, pa, pair.mask);
  NiftiEstimateRequest swapped = request;
  std::swap(swapped.first, swapped.second);
  swapped.apply = false;
  estimateNiftiFiles(swapped, log);
  const Volume negative = NiftiImage::open(folder.file("pa_vdm.nii.gz")).readVolume(0);
  for (size_t i = 0; i < map.voxelCount(); ++i) ASSERT_EQ(negative.data()[i], -map.data()[i]) << i;
  const nlohmann::json swappedSidecar = nlohmann::json::parse(testing::readFile(folder.file("pa_vdm.json")));
  EXPECT_EQ(swappedSidecar["MotionOfFirstScan"]["RotationDegrees"], sidecar["MotionOfSecondScan"]["RotationDegrees"]);
  request.motion = false;
  estimateNiftiFiles(request, log);
  const Volume still = NiftiImage::open(folder.file("pa_undist.nii.gz")).readVolume(0);
  EXPECT_GT(moved,
            maskedCorrelation(NiftiImage::open(folder.file("ap_undist.nii.gz")).readVolume(0), still, pair.mask));
  EXPECT_LT(displacementError(map, pair.truth, pair.mask).rms, 0.08);
}

// Regression (issue 23): on the real xa30 pair, `estimate B A` was off the
// negative of `estimate A B` in nearly every voxel (up to a voxel with the
// motion model, four with the classic method), which estimate each scan
// against the other differently. The pair is now estimated in one order
// whatever the order given: on every path the swapped map is the exact
// negative and the motion the same.
TEST(NiftiSwap, Issue23SwappedRealPairGivesTheExactNegativeMapOnEveryPath) {
  const std::string dwi = testing::sharedDataFolder() + "/bids/sub-xa30/dwi/";
  const std::string ap = dwi + "sub-xa30_dir-AP_dwi.nii.gz", pa = dwi + "sub-xa30_dir-PA_dwi.nii.gz";
  if (!std::filesystem::exists(ap) || !std::filesystem::exists(pa)) GTEST_SKIP() << "no real scans in " << dwi;
  testing::TempFolder folder;
  for (const EstimationMethod method : {EstimationMethod::Variational, EstimationMethod::Classic}) {
    for (const bool motion : {true, false}) {
      if (method == EstimationMethod::Classic && motion) continue;  // the motion model is variational only
      NiftiEstimateRequest request;
      request.estimation.method = method;
      request.estimation.threads = 2;
      request.motion = motion;
      request.outDir = folder.path();
      std::ostringstream log;
      request.first = ap;
      request.second = pa;
      estimateNiftiFiles(request, log);
      std::swap(request.first, request.second);
      estimateNiftiFiles(request, log);
      const Volume forward = NiftiImage::open(folder.file("sub-xa30_dir-AP_dwi_vdm.nii.gz")).readVolume(0);
      const Volume backward = NiftiImage::open(folder.file("sub-xa30_dir-PA_dwi_vdm.nii.gz")).readVolume(0);
      ASSERT_EQ(forward.dimensions(), backward.dimensions());
      size_t differing = 0;
      for (size_t i = 0; i < forward.voxelCount(); ++i) differing += forward.data()[i] != -backward.data()[i];
      EXPECT_EQ(differing, 0u) << (method == EstimationMethod::Classic ? "classic" : "variational")
                               << (motion ? " with motion" : "");
      if (motion) {
        const auto sidecar = [&](const char* name) {
          return nlohmann::json::parse(testing::readFile(folder.file(name)));
        };
        const nlohmann::json a = sidecar("sub-xa30_dir-AP_dwi_vdm.json"), b = sidecar("sub-xa30_dir-PA_dwi_vdm.json");
        ASSERT_TRUE(a.contains("MotionOfSecondScan")) << log.str();
        EXPECT_EQ(a["MotionOfSecondScan"]["RotationDegrees"], b["MotionOfFirstScan"]["RotationDegrees"]);
        EXPECT_EQ(a["MotionOfSecondScan"]["TranslationMm"], b["MotionOfFirstScan"]["TranslationMm"]);
      }
    }
  }
}

}  // namespace
}  // namespace daxo::pipeline
