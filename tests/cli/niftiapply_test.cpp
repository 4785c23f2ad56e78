// `daxo apply` with NIfTI maps: the displacement of each series from a map
// in voxels or a field in Hz, carried through the grids' affines.
#include "pipeline/niftiapply.h"

#include <gtest/gtest.h>
#include <nifti/nifti1.h>

#include <cmath>
#include <filesystem>
#include <tuple>

#include "correction/fieldresample.h"
#include "fileio/nifti/niftiimage.h"
#include "tests/cli/daxorun.h"
#include "tests/plugin/syntheticpair.h"
#include "testsupport/testfiles.h"
#include "testsupport/thrownmessage.h"

namespace daxo::cli {
using namespace pipeline;
namespace {

const Affine kMapGrid{{{2, 0, 0, -20}, {0, 2, 0, -30}, {0, 0, 3, -10}, {0, 0, 0, 1}}};
// Finer, shifted and with i reversed: another grid over the same head.
const Affine kSeriesGrid{{{-1.5, 0, 0, 25}, {0, 1.5, 0, -28}, {0, 0, 3, -10}, {0, 0, 0, 1}}};

class NiftiApply : public ::testing::Test {
 protected:
  NiftiScan series(const std::string& sidecar, const Affine& grid = kSeriesGrid, const Dimensions& d = {24, 30, 6}) {
    const std::string path = folder.file("run" + std::to_string(count++) + ".nii");
    writeNifti(path, NiftiImage::create(d, 1, {1.5, 1.5, 3}, grid, DT_FLOAT32), {Volume(d, 1.0f)},
               NiftiStorage::LikeSource);
    testing::writeFile(niftiStem(path) + ".json", sidecar);
    return openNiftiScan(path, "", "--pe", std::nullopt);
  }
  testing::TempFolder folder;
  int count = 0;
};

// A field linear in scanner x (Hz = x in mm) on the map's grid.
MapSource linearField() {
  MapSource m;
  m.path = "field.nii";
  m.extents = {20, 20, 6};
  m.affine = kMapGrid;
  m.units = MapUnits::Hz;
  m.values = Volume(m.extents);
  for (int32_t z = 0; z < 6; ++z) {
    for (int32_t y = 0; y < 20; ++y) {
      for (int32_t x = 0; x < 20; ++x) m.values(x, y, z) = static_cast<float>(2.0 * x - 20.0);
    }
  }
  return m;
}

TEST_F(NiftiApply, AFieldInHzIsCarriedThroughTheAffinesAndScaledByReadoutAndPolarity) {
  const NiftiScan s = series(R"({"PhaseEncodingDirection": "j-", "TotalReadoutTime": 0.05})");
  std::string note;
  const Volume d = displacementForSeries(linearField(), s, note);
  EXPECT_EQ(note, "");
  // Series voxel i sits at x = 25 - 1.5 i mm; inside the map's grid (x from
  // -20 to 18 mm) the field is exact, outside it holds the edge value.
  for (int32_t i : {5, 10, 20}) {
    const double x = 25.0 - 1.5 * i;
    const double expected = -1.0 * 0.05 * std::clamp(x, -20.0, 18.0);
    EXPECT_NEAR(d(i, 7, 2), expected, 1e-5) << i;
  }
  const NiftiScan noReadout = series(R"({"PhaseEncodingDirection": "j"})");
  EXPECT_NE(testing::thrownMessage<std::runtime_error>([&] {
              displacementForSeries(linearField(), noReadout, note);
            }).find("has no readout time"),
            std::string::npos);
}

TEST_F(NiftiApply, ADisplacementMapFollowsPolarityReadoutAndGrid) {
  MapSource m;
  m.path = "vdm.nii";
  m.extents = {24, 30, 6};
  m.affine = kSeriesGrid;
  m.values = Volume(m.extents, 2.0f);
  m.phaseEncoding = PhaseEncodingDirection{1, -1};
  m.readoutSeconds = 0.05;
  std::string note;
  const struct {
    const char* sidecar;
    float expected;
  } sameGrid[] = {
      {R"({"PhaseEncodingDirection": "j-"})", 2.0f},
      {R"({"PhaseEncodingDirection": "j"})", -2.0f},
      {R"({"PhaseEncodingDirection": "j", "TotalReadoutTime": 0.025})", -1.0f},
  };
  for (const auto& c : sameGrid) {
    EXPECT_FLOAT_EQ(displacementForSeries(m, series(c.sidecar, kSeriesGrid), note)(3, 4, 2), c.expected) << c.sidecar;
  }
  // On another grid with both readout times: through the field.
  m.affine = kMapGrid;
  m.extents = {20, 20, 6};
  m.values = Volume(m.extents, 2.0f);
  EXPECT_FLOAT_EQ(
      displacementForSeries(m, series(R"({"PhaseEncodingDirection": "i", "TotalReadoutTime": 0.1})"), note)(3, 4, 2),
      -4.0f);
  // Without readout times: stretched, said so; along another axis: refused.
  m.readoutSeconds.reset();
  EXPECT_FLOAT_EQ(displacementForSeries(m, series(R"({"PhaseEncodingDirection": "j-"})"), note)(3, 4, 2), 2.0f);
  EXPECT_NE(note.find("No readout time for vdm.nii and "), std::string::npos) << note;
  EXPECT_NE(note.find("the same field of view is assumed"), std::string::npos);
  // Regression: the note blamed both when only the map lacked one.
  displacementForSeries(m, series(R"({"PhaseEncodingDirection": "j-", "TotalReadoutTime": 0.05})"), note);
  EXPECT_EQ(note.rfind("No readout time for vdm.nii: ", 0), 0u) << note;
  EXPECT_NE(testing::thrownMessage<std::runtime_error>([&] {
              displacementForSeries(m, series(R"({"PhaseEncodingDirection": "i"})"), note);
            }).find("carrying the map needs both readout times"),
            std::string::npos);
}

// End to end: the map of an estimation applied with daxo apply gives the
// estimation's own corrected series, bit for bit.
TEST_F(NiftiApply, ApplyingTheEstimatedMapRepeatsTheEstimationsCorrection) {
  const testing::SyntheticPair pair = testing::syntheticPair({24, 28, 12}, 1.5);
  for (const auto& [name, volume, pe] : {std::tuple{"ap", pair.first, "j-"}, std::tuple{"pa", pair.second, "j"}}) {
    writeNifti(folder.file(std::string(name) + ".nii.gz"),
               NiftiImage::create({24, 28, 12}, 1, {2, 2, 2}, kMapGrid, DT_FLOAT32), {volume},
               NiftiStorage::LikeSource);
    testing::writeFile(folder.file(std::string(name) + ".json"),
                       std::string(R"({"PhaseEncodingDirection": ")") + pe + R"(", "TotalReadoutTime": 0.04})");
  }
  const auto q = [&](const std::string& n) { return testing::shellQuoted(folder.file(n)); };
  ASSERT_EQ(testing::runDaxo("estimate " + q("ap.nii.gz") + " " + q("pa.nii.gz") + " --apply").status, 0);
  std::filesystem::create_directory(folder.file("again"));
  const testing::DaxoRun apply = testing::runDaxo("apply --vdm " + q("ap_vdm.nii.gz") + " --out " + q("again") + " " +
                                                  q("ap.nii.gz") + " " + q("pa.nii.gz"));
  ASSERT_EQ(apply.status, 0) << apply.err;
  for (const char* name : {"ap_undist.nii.gz", "pa_undist.nii.gz"}) {
    const Volume a = NiftiImage::open(folder.file(name)).readVolume(0);
    const Volume b = NiftiImage::open(folder.file(std::string("again/") + name)).readVolume(0);
    for (size_t i = 0; i < a.voxelCount(); ++i) ASSERT_EQ(a.data()[i], b.data()[i]) << name;
  }
  // Regression: a map whose estimation moved a scan was applied without a
  // word, where estimate --apply had moved that scan. The motion belongs to
  // the estimation's own pair, so apply moves nothing, and says so.
  const std::string sidecar = testing::readFile(folder.file("ap_vdm.json"));
  testing::writeFile(folder.file("ap_vdm.json"),
                     sidecar.substr(0, sidecar.rfind('}')) +
                         R"(, "MotionOfSecondScan": {"RotationDegrees": [0.5, 0, 0], "TranslationMm": [0, 0, 0.3]}})");
  const testing::DaxoRun moved =
      testing::runDaxo("apply --vdm " + q("ap_vdm.nii.gz") + " --out " + q("again") + " " + q("pa.nii.gz"));
  ASSERT_EQ(moved.status, 0) << moved.err;
  EXPECT_NE(moved.out.find("records the head's motion between the scans it was estimated from (turns 0.50, 0.00, "
                           "0.00 degrees about i, j, k; shifts 0.00, 0.00, 0.30 mm); no series is moved here"),
            std::string::npos)
      << moved.out;
  EXPECT_EQ(testing::readFile(folder.file("again/pa_undist.nii.gz")),
            testing::readFile(folder.file("pa_undist.nii.gz")));
  EXPECT_EQ(testing::runDaxo("apply --vdm " + q("ap_vdm.nii.gz") + " --yes " + q("ap.nii.gz")).status, 2);
  EXPECT_EQ(testing::runDaxo("apply --vdm " + q("ap_vdm.nii.gz") + " " + q("run.fmr")).status, 2);
}

// --lsr: two series of the same gradients restored into one, with the first's
// sidecar, b-values and directions; series of other gradients are refused
// before anything is written.
TEST_F(NiftiApply, LeastSquaresRestorationOfTwoSeries) {
  const testing::SyntheticPair pair = testing::syntheticPair({24, 28, 12}, 1.5);
  const auto q = [&](const std::string& n) { return testing::shellQuoted(folder.file(n)); };
  for (const auto& [name, volume, pe] : {std::tuple{"ap", pair.first, "j-"}, std::tuple{"pa", pair.second, "j"}}) {
    writeNifti(folder.file(std::string(name) + ".nii.gz"),
               NiftiImage::create({24, 28, 12}, 2, {2, 2, 2}, kMapGrid, DT_FLOAT32), {volume, volume * 0.5f},
               NiftiStorage::LikeSource);
    testing::writeFile(folder.file(std::string(name) + ".json"),
                       std::string(R"({"PhaseEncodingDirection": ")") + pe + R"(", "TotalReadoutTime": 0.04})");
    testing::writeFile(folder.file(std::string(name) + ".bval"), "0 1000\n");
    testing::writeFile(folder.file(std::string(name) + ".bvec"), "0 1\n0 0\n0 0\n");
  }
  ASSERT_EQ(testing::runDaxo("estimate " + q("ap.nii.gz") + " " + q("pa.nii.gz") + " --no-motion").status, 0);
  const testing::DaxoRun lsr =
      testing::runDaxo("apply --vdm " + q("ap_vdm.nii.gz") + " --lsr " + q("ap.nii.gz") + " " + q("pa.nii.gz"));
  ASSERT_EQ(lsr.status, 0) << lsr.err;
  const NiftiImage restored = NiftiImage::open(folder.file("ap_lsr.nii.gz"));
  EXPECT_EQ(restored.volumeCount(), 2);
  EXPECT_EQ(restored.affine(), kMapGrid);
  EXPECT_EQ(testing::readFile(folder.file("ap_lsr.bval")), "0 1000\n");
  EXPECT_TRUE(std::filesystem::exists(folder.file("ap_lsr.bvec")));
  EXPECT_NE(testing::readFile(folder.file("ap_lsr.json")).find("least-squares restoration"), std::string::npos);

  std::filesystem::remove(folder.file("ap_lsr.nii.gz"));
  testing::writeFile(folder.file("pa.bvec"), "0 0\n0 1\n0 0\n");
  const testing::DaxoRun other =
      testing::runDaxo("apply --vdm " + q("ap_vdm.nii.gz") + " --lsr " + q("ap.nii.gz") + " " + q("pa.nii.gz"));
  EXPECT_EQ(other.status, 1);
  EXPECT_NE(other.err.find("volume 1 has another gradient direction in " + folder.file("ap.bvec") + " than in " +
                           folder.file("pa.bvec")),
            std::string::npos)
      << other.err;
  EXPECT_FALSE(std::filesystem::exists(folder.file("ap_lsr.nii.gz")));
  EXPECT_EQ(testing::runDaxo("apply --vdm " + q("ap_vdm.nii.gz") + " --lsr " + q("ap.nii.gz")).status, 2);
}

}  // namespace
}  // namespace daxo::cli
