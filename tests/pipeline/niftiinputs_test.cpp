// NIfTI inputs and outputs of daxo: phase encoding from sidecars or the
// command line, the pair's checks, the b=0 volumes, and the files written.
#include <gtest/gtest.h>
#include <nifti/nifti1.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>

#include "fileio/paths.h"
#include "pipeline/niftiinfo.h"
#include "pipeline/niftioutputs.h"
#include "pipeline/niftiscan.h"
#include "testsupport/testfiles.h"
#include "testsupport/thrownmessage.h"

namespace daxo::pipeline {
namespace {

using testing::thrownMessage;

const Affine kAffine{{{-2, 0, 0, 90}, {0, 2, 0, -100}, {0, 0, 2.5, -50}, {0, 0, 0, 1}}};

class NiftiInputs : public ::testing::Test {
 protected:
  // An int16 image of `volumes` volumes of a smooth pattern, volume t scaled
  // by 1 + t / 10, with an optional sidecar.
  std::string image(const std::string& name, int32_t volumes, const std::string& sidecar,
                    const Dimensions& d = {6, 8, 4}) const {
    const std::string path = folder.file(name + ".nii.gz");
    std::vector<Volume> series;
    for (int32_t t = 0; t < volumes; ++t) {
      Volume v(d);
      for (int32_t z = 0; z < d.z; ++z) {
        for (int32_t y = 0; y < d.y; ++y) {
          for (int32_t x = 0; x < d.x; ++x)
            v(x, y, z) = std::round(float(100 + 10 * x + 7 * y * y + 3 * z) * (1 + t / 10.0f));
        }
      }
      series.push_back(std::move(v));
    }
    writeNifti(path, NiftiImage::create(d, volumes, {2, 2, 2.5}, kAffine, DT_INT16), series, NiftiStorage::LikeSource);
    if (!sidecar.empty()) testing::writeFile(folder.file(name + ".json"), sidecar);
    return path;
  }
  testing::TempFolder folder;
};

TEST_F(NiftiInputs, PhaseEncodingComesFromTheOptionOrTheSidecarOrIsAskedFor) {
  const struct {
    const char* sidecar;
    const char* option;
    const char* expected;  // a direction, or the message's tail after the file
  } cases[] = {
      {R"({"PhaseEncodingDirection": "j-"})", "", "j-"},
      {R"({"PhaseEncodingDirection": "j-"})", "i", "i"},
      {R"({"PhaseEncodingAxis": "j"})", "", ".json has PhaseEncodingAxis but no PhaseEncodingDirection: give --pe0"},
      {R"({"EchoTime": 0.05})", "", ".json has no PhaseEncodingDirection: give --pe0"},
      {"", "", ".nii.gz has no sidecar ("},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string path = image("scan" + std::to_string(n++), 1, c.sidecar);
    if (std::string(c.expected).size() <= 2) {
      EXPECT_EQ(phaseEncodingText(openNiftiScan(path, c.option, "--pe0", std::nullopt).phaseEncoding), c.expected);
    } else {
      const std::string message =
          thrownMessage<std::runtime_error>([&] { openNiftiScan(path, c.option, "--pe0", std::nullopt); });
      EXPECT_NE(message.find(c.expected), std::string::npos) << message;
      EXPECT_EQ(message.find(folder.path()), 0u) << message;
    }
  }
  const std::string path = image("bad", 1, R"({"PhaseEncodingDirection": "j-"})");
  EXPECT_EQ(thrownMessage<std::invalid_argument>([&] { openNiftiScan(path, "y", "--pe1", std::nullopt); }),
            "--pe1 needs one of i, i-, j, j-, k, k-, not 'y'");
}

TEST_F(NiftiInputs, ReadoutTimeFromTheOptionOrTheSidecar) {
  const std::string path = image("r", 1, R"({"PhaseEncodingDirection": "j", "EffectiveEchoSpacing": 0.001})");
  EXPECT_DOUBLE_EQ(openNiftiScan(path, "", "--pe0", std::nullopt).readout->seconds, 0.007);  // 8 rows along j
  EXPECT_DOUBLE_EQ(openNiftiScan(path, "", "--pe0", 0.05).readout->seconds, 0.05);
  EXPECT_FALSE(openNiftiScan(image("n", 1, R"({"PhaseEncodingDirection": "j"})"), "", "--pe0", std::nullopt).readout);
}

TEST_F(NiftiInputs, APairMustRunAlongOneInPlaneAxisInOppositeDirections) {
  const std::string a = image("a", 1, "");
  const std::string b = image("b", 1, "");
  const struct {
    const char *pe0, *pe1, *problem;
  } cases[] = {
      {"j-", "j", ""},
      {"i", "i-", ""},
      {"j", "j", "must run along one axis in opposite directions"},
      {"i", "j-", "must run along one axis in opposite directions"},
      {"k", "k-", "runs along k, the slice axis; only i and j are supported"},
  };
  for (const auto& c : cases) {
    const NiftiScan first = openNiftiScan(a, c.pe0, "--pe0", std::nullopt);
    const NiftiScan second = openNiftiScan(b, c.pe1, "--pe1", std::nullopt);
    const std::string message = thrownMessage<std::runtime_error>([&] { checkOppositePair(first, second); });
    if (std::string(c.problem).empty()) {
      EXPECT_EQ(message, "no exception");
    } else {
      EXPECT_NE(message.find(c.problem), std::string::npos) << message;
    }
  }
  const NiftiScan other = openNiftiScan(image("c", 1, "", {6, 8, 5}), "j", "--pe1", std::nullopt);
  EXPECT_EQ(thrownMessage<std::runtime_error>(
                [&] { checkOppositePair(openNiftiScan(a, "j-", "--pe0", std::nullopt), other); }),
            a + " has 6 x 8 x 4 voxels but " + other.path + " has 6 x 8 x 5: the pair must share its grid");
}

TEST_F(NiftiInputs, TheB0VolumesAreFoundAveragedAndChecked) {
  const std::string path = image("dwi", 4, R"({"PhaseEncodingDirection": "j"})");
  const NiftiScan scan = openNiftiScan(path, "", "--pe0", std::nullopt);
  testing::writeFile(folder.file("dwi.bval"), "0 1000 5 1000\n");
  const EstimationVolume mean = estimationVolume(scan, std::nullopt, "--volume0");
  const std::vector<Volume> v = scan.image.readVolumes({0, 2});
  EXPECT_FLOAT_EQ(mean.volume.data()[17], 0.5f * (v[0].data()[17] + v[1].data()[17]));
  EXPECT_EQ(mean.description, "the mean of the b=0 volumes 0, 2");
  EXPECT_EQ(estimationVolume(scan, 3, "--volume0").description, "volume 3");
  // Regression: a listed diffusion-weighted volume was estimated from
  // without a word; it needs --force, which logs it.
  std::ostringstream log;
  EXPECT_NO_THROW(checkListedBValues(scan, {0, 2}, "--volume0", false, log));
  EXPECT_EQ(thrownMessage<std::runtime_error>([&] {
              checkListedBValues(scan, {0, 3}, "--volume0", false, log);
            }),
            "volume 3 of " + path + " has b = 1000 (" + folder.file("dwi.bval") +
                ", --volume0); estimate from a volume without diffusion weighting (b <= 50), or give --force");
  checkListedBValues(scan, {3}, "--volume0", true, log);
  EXPECT_EQ(log.str(), "volume 3 of " + path + " has b = 1000 (" + folder.file("dwi.bval") +
                           ", --volume0): used all the same (--force)");
  EXPECT_EQ(thrownMessage<std::runtime_error>([&] { estimationVolume(scan, 4, "--volume0"); }),
            path + " has 4 volumes; there is no volume 4 (--volume0)");
  testing::writeFile(folder.file("dwi.bval"), "0 1000 5\n");
  EXPECT_EQ(thrownMessage<std::runtime_error>([&] { estimationVolume(scan, std::nullopt, "--volume0"); }),
            folder.file("dwi.bval") + " lists 3 b-values but " + path + " has 4 volumes");
  testing::writeFile(folder.file("dwi.bval"), "1000 1000 1000 1000\n");
  EXPECT_EQ(thrownMessage<std::runtime_error>([&] { estimationVolume(scan, std::nullopt, "--volume0"); }),
            path + " has no volume with b <= 50 (" + folder.file("dwi.bval") + "): pick one with --volume0");
}

TEST_F(NiftiInputs, B0VolumesThatShowDifferentImagesAreRefused) {
  const Dimensions d{6, 8, 4};
  std::vector<Volume> series{Volume(d), Volume(d)};
  for (size_t i = 0; i < series[0].voxelCount(); ++i) {
    series[0].data()[i] = float(100 + (i * 37) % 50);
    series[1].data()[i] = float(100 + (i * 11) % 50);
  }
  const std::string path = folder.file("moved.nii");
  writeNifti(path, NiftiImage::create(d, 2, {2, 2, 2}, kAffine, DT_FLOAT32), series, NiftiStorage::LikeSource);
  testing::writeFile(folder.file("moved.bval"), "0 0");
  const NiftiScan scan = openNiftiScan(path, "j", "--pe0", std::nullopt);
  const std::string message =
      thrownMessage<std::runtime_error>([&] { estimationVolume(scan, std::nullopt, "--volume0"); });
  EXPECT_EQ(message.rfind("The b=0 volumes 0, 1 of " + path + " disagree (volume 0 correlates ", 0), 0u) << message;
  EXPECT_NE(message.find("pick one with --volume0"), std::string::npos);
}

TEST_F(NiftiInputs, OutputsCarryTheGridTheFieldInHzAndTheCorrectedSeries) {
  const std::string path =
      image("sub-01_dir-AP_dwi", 3, R"({"PhaseEncodingDirection": "j-", "TotalReadoutTime": 0.05})");
  const NiftiScan scan = openNiftiScan(path, "", "--pe0", std::nullopt);
  EXPECT_EQ(niftiOutputPath(path, kMapSuffix, ""), folder.file("sub-01_dir-AP_dwi_vdm.nii.gz"));
  EXPECT_EQ(niftiOutputPath(path, kMapSuffix, "/out"), "/out/sub-01_dir-AP_dwi_vdm.nii.gz");

  const Volume map(scan.image.extents(), 1.0f);
  writeDisplacementMap(folder.file("vdm.nii.gz"), scan, map);
  const NiftiImage vdm = NiftiImage::open(folder.file("vdm.nii.gz"));
  EXPECT_EQ(vdm.datatype(), DT_FLOAT32);
  EXPECT_EQ(vdm.affine(), scan.image.affine());
  EXPECT_EQ(vdm.volumeCount(), 1);

  writeFieldMap(folder.file("field.nii.gz"), scan, map, *scan.readout, {{"Sources", {"ap.nii.gz", "pa.nii.gz"}}});
  EXPECT_FLOAT_EQ(NiftiImage::open(folder.file("field.nii.gz")).readVolume(0).data()[5],
                  -20.0f);  // 1 voxel / 0.05 s, j-
  const auto sidecar = nlohmann::json::parse(testing::readFile(folder.file("field.json")));
  EXPECT_EQ(sidecar["Units"], "Hz");
  EXPECT_EQ(sidecar["Sources"][1], "pa.nii.gz");

  std::ostringstream log;
  testing::writeFile(folder.file("sub-01_dir-AP_dwi.bval"), "0 1000 0\n");
  CorrectedSeries output;
  output.path = folder.file("undist.nii.gz");
  output.mapPath = "vdm.nii.gz";
  output.provenance = {{"B0FieldSource", "f1"}, {"TotalReadoutTime", nullptr}};
  writeCorrectedSeries(scan, map, output, log);
  EXPECT_EQ(log.str(), "Undistorted series saved as: " + folder.file("undist.nii.gz"));
  const NiftiImage undist = NiftiImage::open(folder.file("undist.nii.gz"));
  EXPECT_EQ(undist.datatype(), DT_INT16);
  ASSERT_EQ(undist.volumeCount(), 3);
  // A map of one voxel shows each row of the corrected series one row up.
  const Volume before = scan.image.readVolume(2);
  const Volume after = undist.readVolume(2);
  for (int y = 1; y < 6; ++y) EXPECT_NEAR(after(3, y, 2), before(3, y + 1, 2), 1.0f) << y;
  // With --jacobian a map whose slope along j is 0.1 brightens by 1.1.
  Volume ramp(scan.image.extents());
  for (int32_t z = 0; z < ramp.nz(); ++z) {
    for (int32_t y = 0; y < ramp.ny(); ++y) {
      for (int32_t x = 0; x < ramp.nx(); ++x) ramp(x, y, z) = 0.1f * static_cast<float>(y);
    }
  }
  output = CorrectedSeries{};
  output.path = folder.file("plain.nii");
  output.storage = NiftiStorage::Float32;
  writeCorrectedSeries(scan, ramp, output, log);
  output.path = folder.file("jacobian.nii");
  output.jacobian = true;
  writeCorrectedSeries(scan, ramp, output, log);
  const float plain = NiftiImage::open(folder.file("plain.nii")).readVolume(0)(2, 4, 1);
  EXPECT_FLOAT_EQ(NiftiImage::open(folder.file("jacobian.nii")).readVolume(0)(2, 4, 1), plain * 1.1f);
  const auto copied = nlohmann::json::parse(testing::readFile(folder.file("undist.json")));
  EXPECT_FALSE(copied.contains("TotalReadoutTime"));  // a null in the provenance removes the key
  EXPECT_EQ(copied["B0FieldSource"], "f1");
  EXPECT_EQ(copied["DistortionCorrection"]["DisplacementMap"], "vdm.nii.gz");
  // The gradients go with the corrected series.
  EXPECT_EQ(testing::readFile(folder.file("undist.bval")), "0 1000 0\n");
  EXPECT_FALSE(std::filesystem::exists(folder.file("undist.bvec")));
}

TEST_F(NiftiInputs, InfoDescribesTheImageAndNamesWhatAnEstimationWouldMiss) {
  const std::string path = image("sub-01_dwi", 3, R"({"PhaseEncodingAxis": "j"})");
  testing::writeFile(folder.file("sub-01_dwi.bval"), "0 1000 0 1000");
  EXPECT_EQ(describeNifti(path), "File: " + path +
                                     "\n"
                                     "Kind: NIfTI-1 image (gzip-compressed)\n"
                                     "Extents (i, j, k): 6 x 8 x 4\n"
                                     "Volumes: 3\n"
                                     "Voxel size (mm): 2 x 2 x 2.5\n"
                                     "Data type: INT16\n"
                                     "Orientation: LAS (sform code 1, qform code 1)\n"
                                     "Sidecar: " +
                                     folder.file("sub-01_dwi.json") +
                                     "\n"
                                     "Phase encoding: along j, polarity unknown\n"
                                     "Readout time: unknown\n"
                                     "b-values: 4 in sub-01_dwi.bval; b <= 50 in volumes 0, 2\n"
                                     "Problem: PhaseEncodingAxis but no PhaseEncodingDirection: give --pe0/--pe1 "
                                     "when estimating\n"
                                     "Problem: no readout time: give --readout SECONDS to have the field in Hz\n"
                                     "Problem: sub-01_dwi.bval lists 4 b-values for 3 volumes\n");
}

}  // namespace
}  // namespace daxo::pipeline

namespace daxo::pipeline {
namespace {

// Rows of an acquisition parameters file settle what a sidecar lacks, must
// agree with what it gives, and are picked per input.
TEST_F(NiftiInputs, AcquisitionRowsFillInAndMustAgreeWithSidecars) {
  const std::string bare = image("bare", 1, "");
  const std::string named = image("named", 1, R"({"PhaseEncodingDirection": "j-", "TotalReadoutTime": 0.05})");
  const std::string acq = folder.file("acqparams.txt");
  testing::writeFile(acq, "0 -1 0 0.05\n0 1 0 0.05\n0 -1 0 0.06\n");
  const auto rows = acquisitionEntries(acq, {1, 2}, 2);
  const NiftiScan fromRow = openNiftiScan(bare, "", "--pe0", std::nullopt, rows[1]);
  EXPECT_EQ(fromRow.phaseEncoding, (PhaseEncodingDirection{1, 1}));
  ASSERT_TRUE(fromRow.readout);
  EXPECT_EQ(fromRow.readout->source, acq + ", row 2");
  EXPECT_EQ(openNiftiScan(named, "", "--pe0", std::nullopt, rows[0]).phaseEncoding, (PhaseEncodingDirection{1, -1}));
  EXPECT_EQ(thrownMessage<std::runtime_error>([&] { openNiftiScan(named, "", "--pe0", std::nullopt, rows[1]); }),
            folder.file("named.json") + " gives PhaseEncodingDirection j- but " + acq + ", row 2 gives j for " + named +
                ": they must agree");
  const auto third = acquisitionEntries(acq, {3, 1}, 2);
  const std::string readout =
      thrownMessage<std::runtime_error>([&] { openNiftiScan(named, "", "--pe0", std::nullopt, third[0]); });
  EXPECT_NE(readout.find("but " + acq + ", row 3 gives 0.060000 s for " + named + ": they must agree"),
            std::string::npos)
      << readout;
  EXPECT_EQ(thrownMessage<std::runtime_error>([&] { acquisitionEntries(acq, {}, 2); }),
            acq + " has 3 rows for 2 inputs: give --index with the row of each, counted from 1");
  EXPECT_EQ(thrownMessage<std::runtime_error>([&] {
              acquisitionEntries(acq, {1, 4}, 2);
            }),
            acq + " has 3 rows; there is no row 4 (--index)");
  EXPECT_EQ(thrownMessage<std::runtime_error>([&] { acquisitionEntries(acq, {1}, 2); }),
            "--index lists 1 rows for 2 inputs");
}

}  // namespace
}  // namespace daxo::pipeline
