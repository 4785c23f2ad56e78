// `daxo estimate` on NIfTI pairs with BIDS sidecars, run as a user runs it:
// the map recovers a known displacement along j or i, the field in Hz follows
// the readout time and polarity, and swapping the inputs negates the map.
#include "pipeline/niftiestimate.h"

#include <gtest/gtest.h>
#include <nifti/nifti1.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "fileio/nifti/niftiimage.h"
#include "tests/cli/daxorun.h"
#include "tests/plugin/syntheticpair.h"
#include "testsupport/entrylog.h"
#include "testsupport/testfiles.h"
#include "testsupport/volumes.h"

namespace {

using daxo::NiftiImage;
using daxo::Volume;
using daxo::testing::DaxoRun;
using daxo::testing::rmsInside;
using daxo::testing::runDaxo;
using daxo::testing::shellQuoted;

const daxo::Affine kAffine{{{-2.5, 0, 0, 60}, {0, 2.5, 0, -70}, {0, 0, 2.5, -30}, {0, 0, 0, 1}}};

class NiftiEstimate : public daxo::testing::DaxoCommandTest {
 protected:
  void writeScan(const std::string& name, const Volume& v, const std::string& sidecar,
                 const daxo::Affine& affine = kAffine, double mm = 2.5) const {
    daxo::writeNifti(file(name + ".nii.gz"), NiftiImage::create(v.dimensions(), 1, {mm, mm, mm}, affine, DT_FLOAT32),
                     {v}, daxo::NiftiStorage::LikeSource);
    daxo::testing::writeFile(file(name + ".json"), sidecar);
  }
  Volume read(const std::string& name) const { return NiftiImage::open(file(name)).readVolume(0); }
};

TEST_F(NiftiEstimate, RecoversTheDisplacementAlongJAndAlongIWithTheFieldInHz) {
  const daxo::testing::SyntheticPair pair = daxo::testing::syntheticPair({28, 32, 14}, 2.0);
  for (const bool alongI : {false, true}) {
    const auto frame = [&](const Volume& v) { return alongI ? daxo::transposeXY(v) : v; };
    const std::string axis = alongI ? "i" : "j";
    writeScan("ap", frame(pair.first), R"({"PhaseEncodingDirection": ")" + axis + R"(-", "TotalReadoutTime": 0.05})");
    writeScan("pa", frame(pair.second), R"({"PhaseEncodingDirection": ")" + axis + R"("})");
    const DaxoRun run = runDaxo("estimate " + quoted("ap.nii.gz") + " " + quoted("pa.nii.gz") + " --apply");
    ASSERT_EQ(run.status, 0) << run.err;
    const Volume map = read("ap_vdm.nii.gz");
    EXPECT_LT(rmsInside(map, frame(pair.truth), frame(pair.mask)), 0.1) << axis;
    // j-: a positive field shifts toward lower index, so field = -map / readout.
    const Volume field = read("ap_fieldmap.nii.gz");
    EXPECT_NEAR(field.data()[100], -map.data()[100] / 0.05, 1e-3);
    EXPECT_EQ(nlohmann::json::parse(daxo::testing::readFile(file("ap_fieldmap.json")))["Units"], "Hz");
    EXPECT_EQ(NiftiImage::open(file("pa_undist.nii.gz")).affine(), kAffine);
    EXPECT_TRUE(exists("ap_undist.json"));
  }
}

TEST_F(NiftiEstimate, SwappedInputsGiveTheNegatedMapAndOptionsWinOverSidecars) {
  const daxo::testing::SyntheticPair pair = daxo::testing::syntheticPair({24, 28, 12}, 1.5);
  writeScan("ap", pair.first, R"({"PhaseEncodingAxis": "j"})");
  writeScan("pa", pair.second, R"({"PhaseEncodingAxis": "j"})");
  const DaxoRun missing = runDaxo("estimate " + quoted("ap.nii.gz") + " " + quoted("pa.nii.gz"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find(file("ap.json") + " has PhaseEncodingAxis but no PhaseEncodingDirection: give --pe0"),
            std::string::npos)
      << missing.err;
  ASSERT_EQ(runDaxo("estimate " + quoted("ap.nii.gz") + " " + quoted("pa.nii.gz") + " --pe0 j- --pe1 j").status, 0);
  ASSERT_EQ(runDaxo("estimate " + quoted("pa.nii.gz") + " " + quoted("ap.nii.gz") + " --pe0 j --pe1 j-").status, 0);
  const Volume forward = read("ap_vdm.nii.gz");
  const Volume backward = read("pa_vdm.nii.gz");
  for (size_t i = 0; i < forward.voxelCount(); ++i) ASSERT_EQ(forward.data()[i], -backward.data()[i]) << i;
  EXPECT_FALSE(exists("ap_fieldmap.nii.gz"));  // no readout time
  const DaxoRun same = runDaxo("estimate " + quoted("ap.nii.gz") + " " + quoted("pa.nii.gz") + " --pe0 j --pe1 j");
  EXPECT_EQ(same.status, 1);
  EXPECT_NE(same.err.find("must run along one axis in opposite directions"), std::string::npos) << same.err;
}

// A pair distorted along j but said to be encoded along i: the map it gives
// makes the pair agree worse than the right axis would; nothing is written
// unless --force.
TEST_F(NiftiEstimate, TheWrongAxisIsCaughtAndNothingIsWritten) {
  const daxo::testing::SyntheticPair pair = daxo::testing::syntheticPair({28, 32, 14}, 2.0);
  writeScan("ap", pair.first, R"({"PhaseEncodingDirection": "i-"})");
  writeScan("pa", pair.second, R"({"PhaseEncodingDirection": "i"})");
  const std::string arguments = "estimate " + quoted("ap.nii.gz") + " " + quoted("pa.nii.gz");
  const DaxoRun wrong = runDaxo(arguments);
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("daxo: estimate: the distortion runs along j, not i: check PhaseEncodingDirection or "
                           "--pe0/--pe1 (--force writes the map anyway); nothing was written"),
            std::string::npos)
      << wrong.err;
  EXPECT_FALSE(exists("ap_vdm.nii.gz"));
  EXPECT_EQ(runDaxo(arguments + " --force").status, 0);
  EXPECT_TRUE(exists("ap_vdm.nii.gz"));
  // Regression: the page's verdict offered --force, which report has not.
  const DaxoRun page = runDaxo("report " + quoted("ap_vdm.nii.gz") + " " + quoted("ap.nii.gz") + " " +
                               quoted("pa.nii.gz") + " " + quoted("page.html"));
  EXPECT_EQ(page.status, 0) << page.err;
  const std::string html = daxo::testing::readFile(file("page.html"));
  EXPECT_NE(html.find("the distortion runs along j, not i"), std::string::npos);
  EXPECT_EQ(html.find("--force"), std::string::npos);
  const DaxoRun right = runDaxo(arguments + " --pe0 j- --pe1 j");
  EXPECT_EQ(right.status, 0) << right.err;
  EXPECT_NE(right.out.find("Phase-encoding check: passed"), std::string::npos);
}

// The pipeline's NIfTI estimation, called as a library with a request and a
// log stream (as other front ends call it), writes what `daxo estimate`
// writes, byte for byte, and logs the same entries.
TEST_F(NiftiEstimate, TheLibraryCallWritesWhatTheCommandWrites) {
  const daxo::testing::SyntheticPair pair = daxo::testing::syntheticPair({24, 28, 12}, 1.5);
  writeScan("ap", pair.first, R"({"PhaseEncodingDirection": "j-", "TotalReadoutTime": 0.05})");
  writeScan("pa", pair.second, R"({"PhaseEncodingDirection": "j"})");
  std::filesystem::create_directory(file("out"));
  // Each run's files and log; the classic fast estimate logs no timings.
  const auto outputs = [&] {
    std::map<std::string, std::string> bytes;
    for (const std::string& name : daxo::testing::namesIn(file("out"))) {
      bytes[name] = daxo::testing::readFile(file("out/" + name));
      std::filesystem::remove(file("out/" + name));
    }
    return bytes;
  };
  const DaxoRun run = runDaxo("estimate " + quoted("ap.nii.gz") + " " + quoted("pa.nii.gz") +
                              " --method classic --fast --apply --float --out " + quoted("out"));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::map<std::string, std::string> byCommand = outputs();

  daxo::pipeline::NiftiEstimateRequest request;
  request.first = file("ap.nii.gz");
  request.second = file("pa.nii.gz");
  request.outDir = file("out");
  request.apply = true;
  request.storage = daxo::NiftiStorage::Float32;
  request.estimation.method = daxo::EstimationMethod::Classic;
  request.estimation.fast = true;
  daxo::testing::EntryLog log;
  daxo::pipeline::estimateNiftiFiles(request, log);
  EXPECT_EQ(outputs(), byCommand);
  ASSERT_EQ(byCommand.size(), 8u);  // map, field and the two series, each with its sidecar

  std::string logged;
  for (const std::string& entry : log.entries()) logged += "[T] " + entry + "\n";
  std::istringstream lines(run.out);
  std::string commandLog;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("[", 0) == 0) commandLog += "[T] " + line.substr(line.find("] ") + 2) + "\n";
  }
  EXPECT_EQ(logged + "[T] Done.\n", commandLog);
}

// Regression (issue 23): an output name or the log that is an input (by its
// name, a hard link, or a copy of an input under an output's name), a link, a
// pipe; the same file twice; a pair on two grids; two readout times. Each was
// accepted with exit status 0 and the inputs damaged or the map wrong. Each
// is now refused before anything is written, and the inputs stay as they were.
TEST_F(NiftiEstimate, Issue23UnsafeOutputsAndMismatchedPairsAreRefusedBeforeAnythingIsWritten) {
  const daxo::testing::SyntheticPair pair = daxo::testing::syntheticPair({20, 24, 10}, 1.0);
  daxo::Affine shifted = kAffine, swapped = kAffine, small = kAffine;
  shifted[1][3] += 30.0;
  for (int a = 0; a < 3; ++a) small[a][a] *= 0.8;  // 2 mm voxels
  std::swap(swapped[0], swapped[1]);
  const std::string ap = R"({"PhaseEncodingDirection": "j-", "TotalReadoutTime": 0.05})";
  const std::string pa = R"({"PhaseEncodingDirection": "j", "TotalReadoutTime": 0.05})";
  const std::string estimate = "estimate " + quoted("ap.nii.gz") + " " + quoted("pa.nii.gz");
  struct Case {
    const char* name;
    std::string setup;  // shell commands run in the folder first
    std::string arguments;
    int status;
    std::string message;
  };
  const std::vector<Case> cases{
      {"log is the first image", "", "--log " + quoted("ap.nii.gz") + " " + estimate, 2,
       "cannot write the log file " + file("ap.nii.gz") + ": it is the same file as the input"},
      {"log is the second sidecar", "", "--log " + quoted("pa.json") + " " + estimate, 2,
       "the output " + file("pa.json") + " would replace the input " + file("pa.json")},
      {"log is a link to a sidecar", "ln -s pa.json run.log", "--log " + quoted("run.log") + " " + estimate, 2,
       "cannot write the log file " + file("run.log") + ": it is a symbolic link"},
      {"log is a hard link to a sidecar", "ln pa.json run.log", "--log " + quoted("run.log") + " " + estimate, 2,
       "it has other names (hard links)"},
      {"log is a pipe", "mkfifo run.log", "--log " + quoted("run.log") + " " + estimate, 2,
       "cannot write the log file " + file("run.log") + ": it is a named pipe (FIFO)"},
      {"log holds binary data", "cp ap.nii.gz run.log", "--log " + quoted("run.log") + " " + estimate, 2,
       "it holds binary data, not a log"},
      {"the second input is the first's map name", "cp pa.nii.gz ap_vdm.nii.gz; cp pa.json ap_vdm.json",
       "estimate " + quoted("ap.nii.gz") + " " + quoted("ap_vdm.nii.gz"), 2,
       "the output " + file("ap_vdm.nii.gz") + " would replace the input " + file("ap_vdm.nii.gz")},
      {"a hard link to an input at the map's name", "ln pa.nii.gz ap_vdm.nii.gz", estimate, 2,
       "the output " + file("ap_vdm.nii.gz") + " would replace the input " + file("pa.nii.gz") +
           " (the same file under another name or a hard link)"},
      {"a link at a sidecar's name", "ln -s elsewhere.json ap_fieldmap.json", estimate, 2,
       "cannot write " + file("ap_fieldmap.json") + ": it is a symbolic link"},
      {"apply: a hard link to the map at a corrected series' name",
       "cp pa.nii.gz map.nii.gz; echo '{\"PhaseEncodingDirection\": \"j\"}' > map.json; ln map.nii.gz "
       "ap_undist.nii.gz",
       "apply --vdm " + quoted("map.nii.gz") + " " + quoted("ap.nii.gz"), 2,
       "the output " + file("ap_undist.nii.gz") + " would replace the input " + file("map.nii.gz")},
      // Regression: report appended its log to the scan's sidecar.
      {"report: log is the first scan's sidecar",
       "cp pa.nii.gz map.nii.gz; echo '{\"PhaseEncodingDirection\": \"j-\"}' > map.json",
       "--log " + quoted("ap.json") + " report " + quoted("map.nii.gz") + " " + quoted("ap.nii.gz") + " " +
           quoted("pa.nii.gz") + " " + quoted("page.html"),
       2, "the output " + file("ap.json") + " would replace the input " + file("ap.json")},
      {"the same file twice", "", "estimate " + quoted("ap.nii.gz") + " " + quoted("ap.nii.gz") + " --pe0 j- --pe1 j",
       1, " are the same file: a pair needs two scans of opposite phase encoding"},
      // Regression: an --out that could not be made was found only after
      // the estimation.
      {"--out names a file", "touch afile", estimate + " --out " + quoted("afile/maps"), 1,
       "Cannot create the output folder " + file("afile/maps") + ": " + file("afile") + " is not a folder"},
      // Regression: a copy of one scan under the other's name gave a flat
      // map and a passed check.
      {"the second a copy of the first", "cp ap.nii.gz pa.nii.gz", estimate, 1,
       "volume 0 of " + file("ap.nii.gz") + " and volume 0 of " + file("pa.nii.gz") +
           " hold the same voxels: a pair needs two scans of opposite phase encoding"},
      {"the second shifted 30 mm", "shifted", estimate, 1, " are not on one grid: their affines place a voxel 30 mm"},
      {"the second's axes swapped", "swapped", estimate, 1, " are not on one grid"},
      {"the second's voxels 2 mm", "2mm", estimate, 1, " are not on one grid"},
      {"two readout times", "readout", estimate, 1,
       "has a readout time of 0.050000 s (TotalReadoutTime) but " + file("pa.nii.gz") +
           " one of 0.060000 s (TotalReadoutTime): they must agree within 1 %"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directories(dir.path());
    writeScan("ap", pair.first, ap);
    writeScan("pa", pair.second,
              c.setup == "readout" ? R"({"PhaseEncodingDirection": "j", "TotalReadoutTime": 0.06})" : pa,
              c.setup == "shifted"   ? shifted
              : c.setup == "swapped" ? swapped
              : c.setup == "2mm"     ? small
                                     : kAffine,
              c.setup == "2mm" ? 2.0 : 2.5);
    if (!c.setup.empty() && c.setup.find(' ') != std::string::npos) {
      ASSERT_EQ(std::system(("cd " + shellQuoted(dir.path()) + " && " + c.setup).c_str()), 0) << c.name;
    }
    std::map<std::string, std::string> before;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      if (entry.is_regular_file()) before[entry.path().string()] = daxo::testing::readFile(entry.path().string());
    }
    // A log that blocked on a pipe would hang: the run is given 60 s.
    const DaxoRun run = runDaxo(c.arguments, "timeout 60");
    EXPECT_EQ(run.status, c.status) << c.name << ": " << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << ": " << run.err;
    for (const auto& [path, content] : before) EXPECT_EQ(daxo::testing::readFile(path), content) << c.name << path;
    for (const char* output : {"ap_fieldmap.nii.gz", "ap_undist.json"}) EXPECT_FALSE(exists(output)) << c.name;
    if (c.setup.find("ap_vdm") == std::string::npos) {
      EXPECT_FALSE(exists("ap_vdm.nii.gz")) << c.name;
    }
  }
}

}  // namespace

// The figures of a page written after the fact (`daxo report` with the map
// `estimate` wrote) are those of the page `estimate --report` wrote; `apply
// --report` shows the NIfTI series it corrected; `--out` folders are made.
TEST_F(NiftiEstimate, PagesWrittenAfterTheFactShowWhatTheEstimationShowed) {
  const daxo::testing::SyntheticPair pair = daxo::testing::syntheticPair({24, 28, 12}, 1.5);
  writeScan("ap", pair.first, R"({"PhaseEncodingDirection": "j-", "TotalReadoutTime": 0.05})");
  writeScan("pa", pair.second, R"({"PhaseEncodingDirection": "j"})");
  const std::string scans = quoted("ap.nii.gz") + " " + quoted("pa.nii.gz");
  const DaxoRun estimate =
      runDaxo("estimate " + scans + " --out " + quoted("new/maps") + " --report " + quoted("estimate.html"));
  ASSERT_EQ(estimate.status, 0) << estimate.err;
  const DaxoRun report =
      runDaxo("report " + quoted("new/maps/ap_vdm.nii.gz") + " " + scans + " " + quoted("later.html"));
  ASSERT_EQ(report.status, 0) << report.err;
  const auto figures = [](const std::string& log) {
    std::string lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
      const size_t at = line.find("] ");
      if (at != std::string::npos && line.find("inside the head", at) != std::string::npos)
        lines += line.substr(at) + "\n";
    }
    return lines;
  };
  EXPECT_NE(figures(estimate.out), "");
  EXPECT_EQ(figures(report.out), figures(estimate.out));
  EXPECT_TRUE(exists("later.html"));

  const DaxoRun apply = runDaxo("apply --vdm " + quoted("new/maps/ap_vdm.nii.gz") + " --out " + quoted("new/runs") +
                                " --report " + quoted("runs.html") + " " + scans);
  ASSERT_EQ(apply.status, 0) << apply.err;
  EXPECT_TRUE(exists("new/runs/pa_undist.nii.gz"));
  EXPECT_NE(daxo::testing::readFile(file("runs.html")).find("pa.nii.gz"), std::string::npos);
  EXPECT_EQ(runDaxo("report " + quoted("new/maps/ap_vdm.nii.gz") + " " + scans + " x.html --rllr").status, 2);
}
