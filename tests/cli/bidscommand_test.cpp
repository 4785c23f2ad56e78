// `daxo bids` and the Snakemake workflow on a small BIDS dataset made here
// from a pair with a known displacement: three subjects, one with a session,
// fmap pairs with IntendedFor, a dwi dir- pair, a func run on another grid
// than its fmap pair, and one subject with a broken sidecar. The fields are
// checked against the known displacement, the corrected func run against the
// displacement it must have received, and the derivatives against their
// layout; reruns do no work and a killed run resumes.
#include <gtest/gtest.h>
#include <nifti/nifti1.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "correction/pairagreement.h"
#include "correction/vdm.h"
#include "fileio/nifti/niftiimage.h"
#include "tests/cli/daxorun.h"
#include "tests/plugin/syntheticpair.h"
#include "testsupport/testfiles.h"
#include "testsupport/volumes.h"

namespace {

namespace fs = std::filesystem;
using daxo::Affine;
using daxo::Dimensions;
using daxo::NiftiImage;
using daxo::Volume;
using daxo::testing::DaxoRun;
using daxo::testing::readFile;
using daxo::testing::rmsInside;
using daxo::testing::runDaxo;
using daxo::testing::shellQuoted;

const Affine kFmapGrid{{{-2.5, 0, 0, 60}, {0, 2.5, 0, -70}, {0, 0, 2.5, -30}, {0, 0, 0, 1}}};
// The func run's grid: the fmap grid from voxel (2, 3, 1) on, with fewer voxels.
const int kDx = 2, kDy = 3, kDz = 1;
const Dimensions kFuncExtents{22, 24, 10};
const Affine kFuncGrid{{{-2.5, 0, 0, 55}, {0, 2.5, 0, -62.5}, {0, 0, 2.5, -27.5}, {0, 0, 0, 1}}};
constexpr double kReadout = 0.05;       // s, the pairs
constexpr double kFuncReadout = 0.025;  // s, the func run: half the displacement of the pairs' first scans

const std::string kAp = R"("PhaseEncodingDirection": "j-", "TotalReadoutTime": 0.05)";
const std::string kPa = R"("PhaseEncodingDirection": "j", "TotalReadoutTime": 0.05)";

Volume crop(const Volume& v) {
  Volume out(kFuncExtents);
  for (int z = 0; z < kFuncExtents.z; ++z)
    for (int y = 0; y < kFuncExtents.y; ++y)
      for (int x = 0; x < kFuncExtents.x; ++x) out(x, y, z) = v(x + kDx, y + kDy, z + kDz);
  return out;
}

// Every file under `folder` but the logs, with its modification time.
std::map<std::string, fs::file_time_type> filesUnder(const std::string& folder, bool killedRun = false) {
  std::map<std::string, fs::file_time_type> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string relative = fs::relative(entry.path(), folder).string();
    // A run killed while it replaced a file may leave the hidden, named
    // temporary it was about to rename (".NAME.daxo-partial-..."): never
    // under an output's name, so not an output.
    if (killedRun && relative.find(".daxo-partial-") != std::string::npos) continue;
    if (entry.is_regular_file() && relative.rfind("logs/", 0) != 0) files[relative] = entry.last_write_time();
  }
  return files;
}

class DaxoBids : public daxo::testing::DaxoCommandTest {
 protected:
  void SetUp() override {
    write("dataset_description.json", R"({"Name": "test", "BIDSVersion": "1.8.0"})");
    // sub-01: an fmap pair for a func run on another grid, and a dwi dir- pair.
    scan("sub-01/fmap/sub-01_dir-AP_epi", {pair.first},
         "{" + kAp + R"(, "IntendedFor": ["func/sub-01_task-rest_bold.nii.gz"]})");
    scan("sub-01/fmap/sub-01_dir-PA_epi", {pair.second}, "{" + kPa + "}");
    Volume ramp(kFuncExtents);
    for (int z = 0; z < ramp.nz(); ++z)
      for (int y = 0; y < ramp.ny(); ++y)
        for (int x = 0; x < ramp.nx(); ++x) ramp(x, y, z) = static_cast<float>(10 * y);
    scan("sub-01/func/sub-01_task-rest_bold", {ramp},
         R"({"PhaseEncodingDirection": "j-", "TotalReadoutTime": 0.025, "TaskName": "rest"})", kFuncGrid);
    scan("sub-01/dwi/sub-01_dir-AP_dwi", {pair.first, pair.first * 0.5f}, "{" + kAp + "}");
    scan("sub-01/dwi/sub-01_dir-PA_dwi", {pair.second, pair.second * 0.5f}, "{" + kPa + "}");
    for (const char* dir : {"AP", "PA"}) {
      write(std::string("sub-01/dwi/sub-01_dir-") + dir + "_dwi.bval", "0 1000\n");
      write(std::string("sub-01/dwi/sub-01_dir-") + dir + "_dwi.bvec", "0 1\n0 0\n0 0\n");
    }
    // sub-02, session 1: an fmap pair for a dwi run, named as a URI.
    scan("sub-02/ses-1/fmap/sub-02_ses-1_dir-AP_epi", {pair.first},
         "{" + kAp + R"(, "IntendedFor": "bids::sub-02/ses-1/dwi/sub-02_ses-1_dwi.nii.gz"})");
    scan("sub-02/ses-1/fmap/sub-02_ses-1_dir-PA_epi", {pair.second}, "{" + kPa + "}");
    scan("sub-02/ses-1/dwi/sub-02_ses-1_dwi", {pair.second}, "{" + kPa + "}");
    // sub-03: a sidecar cut short.
    scan("sub-03/fmap/sub-03_dir-AP_epi", {pair.first}, R"({"PhaseEncodingDirection": )");
    scan("sub-03/fmap/sub-03_dir-PA_epi", {pair.second}, "{" + kPa + "}");
  }

  void write(const std::string& name, const std::string& text) const {
    fs::create_directories(fs::path(bids(name)).parent_path());
    daxo::testing::writeFile(bids(name), text);
  }
  void scan(const std::string& name, const std::vector<Volume>& volumes, const std::string& sidecar,
            const Affine& grid = kFmapGrid) const {
    write(name + ".json", sidecar);
    daxo::writeNifti(bids(name + ".nii.gz"),
                     NiftiImage::create(volumes[0].dimensions(), static_cast<int32_t>(volumes.size()), {2.5, 2.5, 2.5},
                                        grid, DT_FLOAT32),
                     volumes, daxo::NiftiStorage::LikeSource);
  }
  std::string bids(const std::string& name = "") const { return file("bids/" + name); }
  std::string derived(const std::string& name, const std::string& out = "out") const { return file(out + "/" + name); }
  DaxoRun bidsRun(const std::string& options, const std::string& out = "out") const {
    return runDaxo("bids " + quoted("bids") + " " + quoted(out) + " participant " + options);
  }
  Volume read(const std::string& path, int32_t volume = 0) const { return NiftiImage::open(path).readVolume(volume); }
  // The field in Hz of the pair's first scan (j-): minus its displacement over the readout time.
  void expectTruthField(const std::string& path) const {
    EXPECT_LT(rmsInside(read(path), pair.truth * static_cast<float>(-1.0 / kReadout), pair.mask), 0.1 / kReadout)
        << path;
    const nlohmann::json sidecar = nlohmann::json::parse(readFile(daxo::niftiStem(path) + ".json"));
    EXPECT_EQ(sidecar["Units"], "Hz") << path;
  }

  // Every path a sidecar of the derivatives gives is a BIDS URI that resolves
  // to an existing file (bids:raw: through DatasetLinks, relative to the
  // derivatives folder), and no sidecar names an absolute path; each
  // corrected run names its field's B0FieldIdentifier as its B0FieldSource.
  void expectPortableDerivatives() const {
    const nlohmann::json description = nlohmann::json::parse(readFile(derived("dataset_description.json")));
    EXPECT_FALSE(description["GeneratedBy"][0]["CodeURL"].get<std::string>().empty());
    const std::string link = description["DatasetLinks"]["raw"];
    EXPECT_TRUE(fs::path(link).is_relative()) << link;
    EXPECT_TRUE(fs::equivalent(derived(link), bids())) << link;
    EXPECT_TRUE(fs::exists(derived(".bidsignore")));
    const auto resolve = [&](const std::string& uri) -> std::string {
      if (uri.rfind("bids::", 0) == 0) return derived(uri.substr(6));
      if (uri.rfind("bids:raw:", 0) == 0) return derived(link + "/" + uri.substr(9));
      ADD_FAILURE() << "not a BIDS URI: " << uri;
      return "";
    };
    std::map<std::string, std::string> identifiers;  // field -> its B0FieldIdentifier
    size_t corrected = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(file("out"))) {
      if (entry.path().extension() != ".json" || entry.path().filename() == "dataset_description.json") continue;
      const nlohmann::json sidecar = nlohmann::json::parse(readFile(entry.path().string()));
      EXPECT_EQ(sidecar.dump().find("\"" + file("")), std::string::npos) << entry.path();
      for (const auto& source : sidecar["Sources"]) EXPECT_TRUE(fs::exists(resolve(source))) << entry.path();
      if (sidecar.contains("B0FieldIdentifier")) {
        for (const auto& run : sidecar["IntendedFor"]) EXPECT_TRUE(fs::exists(resolve(run))) << entry.path();
        identifiers["bids::" + fs::relative(entry.path(), file("out")).replace_extension(".nii.gz").string()] =
            sidecar["B0FieldIdentifier"];
      }
    }
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(file("out"))) {
      const std::string name = entry.path().filename().string();
      if (name.find("_desc-undistorted_") == std::string::npos || entry.path().extension() != ".json") continue;
      const nlohmann::json sidecar = nlohmann::json::parse(readFile(entry.path().string()));
      const std::string field = sidecar["DistortionCorrection"]["FieldMap"];
      EXPECT_TRUE(fs::exists(resolve(field))) << name;
      EXPECT_EQ(sidecar["B0FieldSource"], identifiers[field]) << name;
      ++corrected;
    }
    EXPECT_GE(corrected, 4u);
  }

  const daxo::testing::SyntheticPair pair = daxo::testing::syntheticPair({28, 32, 14}, 2.0);
};

// Regression (issue 23): a link loop among the subjects stopped the whole run
// with no subject processed; an fmap whose partner has a sidecar but no image
// was "done (0 field(s) estimated, 0 run(s) corrected)" with exit status 0
// and the run its IntendedFor names uncorrected; a subject's log linked to a
// sidecar of the dataset had the log appended to the sidecar. Each is now a
// failed subject in the summary and the exit status, and the others go on.
TEST_F(DaxoBids, Issue23BrokenSubjectsFailAloneAndNothingOfTheDatasetIsWritten) {
  fs::remove_all(bids("sub-01"));  // only sub-02 is estimated: the test stays quick
  fs::create_directory_symlink("sub-z2", bids("sub-z1"));
  fs::create_directory_symlink("sub-z1", bids("sub-z2"));
  scan("sub-04/fmap/sub-04_dir-AP_epi", {pair.first}, "{" + kAp + R"(, "IntendedFor": "dwi/sub-04_dwi.nii.gz"})");
  write("sub-04/fmap/sub-04_dir-PA_epi.json", "{" + kPa + "}");
  scan("sub-04/dwi/sub-04_dwi", {pair.first}, "{" + kAp + "}");
  const std::string sidecar = bids("sub-02/ses-1/fmap/sub-02_ses-1_dir-PA_epi.json");
  const std::string sidecarText = readFile(sidecar);
  fs::create_directories(derived("logs"));
  fs::create_symlink(sidecar, derived("logs/sub-03.log"));

  // The run's own --log in the dataset is refused before anything is done.
  const DaxoRun inDataset = bidsRun("--log " + shellQuoted(sidecar));
  EXPECT_EQ(inDataset.status, 2) << inDataset.err;
  EXPECT_NE(inDataset.err.find("bids: the log file " + sidecar + " lies inside the dataset"), std::string::npos)
      << inDataset.err;
  EXPECT_FALSE(fs::exists(derived("sub-02")));

  const DaxoRun run = bidsRun("");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("4 of 5 subject(s) failed"), std::string::npos) << run.err;
  for (const std::string& failure :
       {"  sub-03: cannot write the log file " + derived("logs/sub-03.log") + ": it is a symbolic link",
        std::string("  sub-04: sub-04/fmap/sub-04_dir-AP_epi.nii.gz has no partner of opposite phase encoding"),
        "  sub-z1: " + bids("sub-z1") + " cannot be read: Too many levels of symbolic links",
        "  sub-z2: " + bids("sub-z2") + " cannot be read: Too many levels of symbolic links"}) {
    EXPECT_NE(run.err.find(failure), std::string::npos) << failure << "\n" << run.err;
  }
  EXPECT_EQ(readFile(sidecar), sidecarText);
  EXPECT_TRUE(fs::exists(derived("sub-02/ses-1/dwi/sub-02_ses-1_desc-undistorted_dwi.nii.gz")));
  EXPECT_FALSE(fs::exists(derived("sub-04")));
}

TEST_F(DaxoBids, CorrectsEachSubjectIntoDerivativesReportsTheBrokenOneAndARerunDoesNoWork) {
  const DaxoRun run = bidsRun("");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("1 of 3 subject(s) failed"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("  sub-03: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(bids("sub-03/fmap/sub-03_dir-AP_epi.json") + ": not valid JSON"), std::string::npos)
      << run.err;

  const nlohmann::json description = nlohmann::json::parse(readFile(derived("dataset_description.json")));
  EXPECT_EQ(description["DatasetType"], "derivative");
  EXPECT_EQ(description["GeneratedBy"][0]["Name"], "daxo");
  EXPECT_FALSE(description["GeneratedBy"][0]["Version"].get<std::string>().empty());
  EXPECT_NE(description["GeneratedBy"][0]["Description"].get<std::string>().find("daxo bids"), std::string::npos);
  expectPortableDerivatives();

  expectTruthField(derived("sub-01/fmap/sub-01_desc-daxo_fieldmap.nii.gz"));
  expectTruthField(derived("sub-01/fmap/sub-01_desc-daxodwi_fieldmap.nii.gz"));
  expectTruthField(derived("sub-02/ses-1/fmap/sub-02_ses-1_desc-daxo_fieldmap.nii.gz"));

  // The func run keeps its grid; corrected(y) = ramp(y + d), so the ramp
  // shows the displacement it got: the pair's, carried to its grid and
  // halved by its readout time. Rows near the ends of the ramp are left out.
  const std::string func = derived("sub-01/func/sub-01_task-rest_desc-undistorted_bold.nii.gz");
  EXPECT_EQ(NiftiImage::open(func).affine(), kFuncGrid);
  const Volume corrected = read(func);
  ASSERT_EQ(corrected.dimensions(), kFuncExtents);
  Volume got(kFuncExtents);
  Volume inner = crop(pair.mask);
  for (int z = 0; z < got.nz(); ++z)
    for (int y = 0; y < got.ny(); ++y)
      for (int x = 0; x < got.nx(); ++x) {
        got(x, y, z) = corrected(x, y, z) / 10.0f - static_cast<float>(y);
        if (y < 4 || y >= got.ny() - 4) inner(x, y, z) = 0;
      }
  EXPECT_LT(rmsInside(got, crop(pair.truth) * static_cast<float>(kFuncReadout / kReadout), inner), 0.06);

  for (const char* dir : {"AP", "PA"}) {
    const std::string dwi = derived(std::string("sub-01/dwi/sub-01_dir-") + dir + "_desc-undistorted_dwi");
    EXPECT_EQ(NiftiImage::open(dwi + ".nii.gz").volumeCount(), 2);
    EXPECT_EQ(readFile(dwi + ".bval"), "0 1000\n");
    EXPECT_TRUE(fs::exists(dwi + ".bvec"));
    EXPECT_EQ(nlohmann::json::parse(readFile(dwi + ".json"))["PhaseEncodingDirection"],
              dir == std::string("AP") ? "j-" : "j");
  }
  // Corrected with the field, the first volumes of the dwi pair agree as the
  // truth-corrected pair does.
  const Volume ap = read(derived("sub-01/dwi/sub-01_dir-AP_desc-undistorted_dwi.nii.gz"));
  const Volume pa = read(derived("sub-01/dwi/sub-01_dir-PA_desc-undistorted_dwi.nii.gz"));
  const double truthAgreement =
      daxo::maskedCorrelation(daxo::correctVolume(pair.truth, pair.first, false),
                              daxo::correctVolume(-pair.truth, pair.second, false), pair.mask);
  EXPECT_GT(daxo::maskedCorrelation(ap, pa, pair.mask), truthAgreement - 0.01);
  EXPECT_LT(daxo::maskedCorrelation(pair.first, pair.second, pair.mask), truthAgreement - 0.05);

  EXPECT_TRUE(fs::exists(derived("sub-02/ses-1/dwi/sub-02_ses-1_desc-undistorted_dwi.json")));
  for (const char* page : {"sub-01.html", "sub-02.html", "sub-01/figures/sub-01_desc-daxo_fieldmap.html",
                           "sub-01/figures/sub-01_desc-daxodwi_fieldmap.html", "logs/sub-01.log", "logs/sub-03.log"}) {
    EXPECT_TRUE(fs::exists(derived(page))) << page;
  }
  EXPECT_FALSE(fs::exists(derived("sub-03.html")));
  EXPECT_FALSE(fs::exists(derived("sub-03/fmap")));
  const auto before = filesUnder(file("out"));
  for (const auto& [name, time] : before) {
    if (name != ".bidsignore") {
      EXPECT_NE(fs::path(name).filename().string()[0], '.') << name;
    }
  }

  // A rerun finds everything up to date and touches nothing.
  const DaxoRun rerun = bidsRun("--participant-label 01 sub-02");
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_NE(rerun.out.find("sub-01: done (0 field(s) estimated, 0 run(s) corrected, 5 output(s) up to date)"),
            std::string::npos)
      << rerun.out;
  EXPECT_EQ(filesUnder(file("out")), before);

  // A changed sidecar redoes the run it belongs to, and nothing else.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  write("sub-01/func/sub-01_task-rest_bold.json", R"({"PhaseEncodingDirection": "j-", "TotalReadoutTime": 0.025})");
  const DaxoRun changed = bidsRun("--participant-label 01");
  EXPECT_EQ(changed.status, 0) << changed.err;
  EXPECT_NE(changed.out.find("sub-01: done (0 field(s) estimated, 1 run(s) corrected, 4 output(s) up to date)"),
            std::string::npos)
      << changed.out;
  const auto after = filesUnder(file("out"));
  for (const auto& [name, time] : after) {
    const bool redone = name.find("task-rest_desc-undistorted") != std::string::npos || name == "sub-01.html";
    EXPECT_EQ(time != before.at(name), redone) << name;
  }
}

// The values of the page's attribute `name` ("href", "src"), in page order.
std::vector<std::string> attributesIn(const std::string& html, const std::string& name) {
  std::vector<std::string> values;
  const std::string open = " " + name + "=\"";
  for (size_t at = html.find(open); at != std::string::npos; at = html.find(open, at + 1)) {
    const size_t start = at + open.size();
    values.push_back(html.substr(start, html.find('"', start) - start));
  }
  return values;
}

// The pages a reader starts from: each subject's shows each field's pictures
// and figures and links its page, and the group level's shows them all and
// links every page, with the failed subject named beside its log.
TEST_F(DaxoBids, TheSubjectAndGroupPagesShowEveryFieldAndLinkEveryPage) {
  const DaxoRun empty = runDaxo("bids " + quoted("bids") + " " + quoted("nothing") + " group");
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.err.find("run the participant level into it first"), std::string::npos) << empty.err;
  ASSERT_EQ(bidsRun("").status, 1);  // sub-03 fails

  const std::map<std::string, std::vector<std::string>> fieldPages{
      {"01", {"sub-01/figures/sub-01_desc-daxo_fieldmap.html", "sub-01/figures/sub-01_desc-daxodwi_fieldmap.html"}},
      {"02", {"sub-02/figures/sub-02_ses-1_desc-daxo_fieldmap.html"}}};
  // Each field page's own pictures (its summary's first), which the pages
  // above it must carry.
  std::vector<std::string> summaryPictures;
  for (const auto& [label, pages] : fieldPages) {
    const std::string subject = readFile(derived("sub-" + label + ".html"));
    EXPECT_EQ(attributesIn(subject, "href"), pages) << label;
    for (const std::string& page : pages) {
      // The field's page links back up to the subject's.
      EXPECT_EQ(attributesIn(readFile(derived(page)), "href"),
                std::vector<std::string>{"../../sub-" + label + ".html"});
      EXPECT_TRUE(fs::exists(fs::path(derived(page)).parent_path() / ("../../sub-" + label + ".html"))) << page;
      const std::vector<std::string> pictures = attributesIn(readFile(derived(page)), "src");
      ASSERT_FALSE(pictures.empty()) << page;
      EXPECT_NE(subject.find(pictures.front()), std::string::npos) << page;
      EXPECT_NE(subject.find("Correlation inside the head, rescaled by the local stretch"), std::string::npos);
      summaryPictures.push_back(pictures.front());
    }
  }

  const DaxoRun group = runDaxo("bids " + quoted("bids") + " " + quoted("out") + " group");
  ASSERT_EQ(group.status, 0) << group.err;
  EXPECT_NE(group.out.find("group: 2 subject(s) on " + derived("group.html")), std::string::npos) << group.out;
  const std::string page = readFile(derived("group.html"));
  const std::vector<std::string> links = attributesIn(page, "href");
  for (const std::string& expected : std::vector<std::string>{"sub-01.html", "sub-02.html", fieldPages.at("01")[0],
                                                              fieldPages.at("01")[1], fieldPages.at("02")[0]}) {
    EXPECT_NE(std::find(links.begin(), links.end(), expected), links.end()) << expected;
  }
  for (const std::string& link : links) EXPECT_TRUE(fs::exists(derived(link))) << link;
  for (const std::string& picture : summaryPictures) EXPECT_NE(page.find(picture), std::string::npos);
  EXPECT_NE(page.find("sub-03: no page; it failed or did not finish, see logs/sub-03.log"), std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos);

  // One subject asked for: only its part.
  ASSERT_EQ(runDaxo("bids " + quoted("bids") + " " + quoted("out") + " group --participant-label 02").status, 0);
  const std::string one = readFile(derived("group.html"));
  EXPECT_EQ(one.find("sub-01"), std::string::npos);
  EXPECT_NE(one.find(summaryPictures.back()), std::string::npos);
}

TEST_F(DaxoBids, AKilledParallelRunResumesToTheOutputsOfAnUninterruptedOne) {
  const std::string subjects = "--participant-label 01 02";
  ASSERT_EQ(bidsRun(subjects + " --jobs 1", "whole").status, 0);

  // Two subjects at a time, killed (with their processes) once a field is out.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setpgid(0, 0);
    const std::string command = std::string("exec '") + DAXO_PROGRAM_PATH + "' --quiet bids " + quoted("bids") + " " +
                                quoted("resumed") + " participant " + subjects + " --jobs 2 >/dev/null 2>&1";
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  setpgid(pid, pid);
  const std::string field = derived("sub-01/fmap/sub-01_desc-daxo_fieldmap.nii.gz", "resumed");
  const std::string other = derived("sub-02/ses-1/fmap/sub-02_ses-1_desc-daxo_fieldmap.nii.gz", "resumed");
  for (int i = 0; i < 60000 && !fs::exists(field) && !fs::exists(other); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(-pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);

  const DaxoRun resumed = bidsRun(subjects + " --jobs 2", "resumed");
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  const auto whole = filesUnder(file("whole"));
  const auto done = filesUnder(file("resumed"), true);
  for (const auto& [name, time] : done) EXPECT_TRUE(whole.count(name)) << name << " is left over from the killed run";
  ASSERT_EQ(whole.size(), done.size());
  for (const auto& [name, time] : whole) {
    ASSERT_TRUE(done.count(name)) << name;
    if (name.size() < 7 || name.compare(name.size() - 7, 7, ".nii.gz") != 0) continue;
    const NiftiImage a = NiftiImage::open(derived(name, "whole"));
    const NiftiImage b = NiftiImage::open(derived(name, "resumed"));
    ASSERT_EQ(a.volumeCount(), b.volumeCount()) << name;
    for (int32_t v = 0; v < a.volumeCount(); ++v) {
      const Volume va = a.readVolume(v);
      const Volume vb = b.readVolume(v);
      EXPECT_TRUE(std::equal(va.data(), va.data() + va.voxelCount(), vb.data())) << name << " volume " << v;
    }
  }
}

TEST_F(DaxoBids, TheSnakemakeWorkflowRunsOneJobPerParticipant) {
  if (std::system("snakemake --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "snakemake is not installed";
  const std::string command =
      "snakemake --quiet --cores 2 --snakefile " + shellQuoted(std::string(DAXO_SOURCE_DIR) + "/workflow/Snakefile") +
      " --directory " + quoted("") + " --config bids_dir=" + quoted("bids") + " output_dir=" + quoted("out") +
      " daxo=" + shellQuoted(DAXO_PROGRAM_PATH) + " 'participants=01 sub-02' > " + quoted("snakemake.log") + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << readFile(file("snakemake.log"));
  expectTruthField(derived("sub-01/fmap/sub-01_desc-daxo_fieldmap.nii.gz"));
  for (const char* name : {"dataset_description.json", "sub-01.html", "sub-02.html", "group.html",
                           "sub-02/ses-1/dwi/sub-02_ses-1_desc-undistorted_dwi.nii.gz", "logs/sub-02.log"}) {
    EXPECT_TRUE(fs::exists(derived(name))) << name;
  }
  const auto before = filesUnder(file("out"));
  ASSERT_EQ(std::system(command.c_str()), 0) << readFile(file("snakemake.log"));
  EXPECT_EQ(filesUnder(file("out")), before);
}

// The SLURM profile as documented, with stand-ins for sbatch and sacct:
// sbatch records its command line and runs the job script at once, keeping
// its end in jobs/ID as sacct reports it (COMPLETED or FAILED); with
// DAXO_TEST_SLURM_END set it runs nothing and the job ends in that state, as
// one SLURM stops for its time or memory limit.
class SlurmProfile : public DaxoBids {
 protected:
  void SetUp() override {
    DaxoBids::SetUp();
    if (std::system("snakemake --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "snakemake is not installed";
    fs::create_directories(file("bin"));
    fs::create_directories(file("jobs"));
    const std::string jobs = quoted("jobs");
    standIn("sbatch", "echo \"$*\" >> " + quoted("sbatch.log") + "\nfor last; do :; done\nid=$$\n" +
                          "if [ -n \"$DAXO_TEST_SLURM_END\" ]; then echo \"$DAXO_TEST_SLURM_END\" > " + jobs +
                          "/$id; else\n(if sh \"$last\" > /dev/null 2>&1; then s=COMPLETED; else s=FAILED; fi;"
                          " echo $s > " +
                          jobs + "/$id) &\nfi\necho \"$id;cluster\"\n");
    standIn("sacct", "while [ $# -gt 0 ]; do [ \"$1\" = -j ] && id=$2; shift; done\ncat " + jobs +
                         "/\"$id\" 2>/dev/null || echo RUNNING\n");
  }
  void standIn(const std::string& name, const std::string& script) const {
    daxo::testing::writeFile(file("bin/" + name), "#!/bin/sh\n" + script);
    fs::permissions(file("bin/" + name), fs::perms::owner_all);
  }
  int snakemake(const std::string& environment = "") const {
    const std::string command =
        environment + " PATH=" + quoted("bin") + ":\"$PATH\" timeout 300 snakemake --quiet --snakefile " +
        shellQuoted(std::string(DAXO_SOURCE_DIR) + "/workflow/Snakefile") + " --profile " +
        shellQuoted(std::string(DAXO_SOURCE_DIR) + "/workflow/profiles/slurm") +
        " --max-status-checks-per-second 20 --directory " + quoted("") + " --config bids_dir=" + quoted("bids") +
        " output_dir=" + quoted("out") + " daxo=" + shellQuoted(DAXO_PROGRAM_PATH) + " 'participants=01 02' > " +
        quoted("snakemake.log") + " 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(SlurmProfile, SubmitsOneBatchJobPerParticipant) {
  ASSERT_EQ(snakemake(), 0) << readFile(file("snakemake.log"));
  const std::string submitted = readFile(file("sbatch.log"));
  for (const char* participant : {"01", "02"}) {
    EXPECT_NE(submitted.find(std::string("--job-name=daxo-participant-participant=") + participant +
                             " --cpus-per-task=2 --mem=4000 --time=60"),
              std::string::npos)
        << submitted;
    EXPECT_TRUE(fs::exists(derived(std::string("sub-") + participant + ".html"))) << participant;
  }
}

// Regression: a job SLURM ends for its time limit runs no job script and
// leaves no flag file; the workflow asks sacct, retries it once and stops
// with a failure instead of waiting for it.
TEST_F(SlurmProfile, AJobEndedByItsTimeLimitFailsTheWorkflowAfterOneRetry) {
  EXPECT_EQ(snakemake("DAXO_TEST_SLURM_END=TIMEOUT"), 1) << readFile(file("snakemake.log"));
  const std::string submitted = readFile(file("sbatch.log"));
  EXPECT_EQ(std::count(submitted.begin(), submitted.end(), '\n'), 4) << submitted;  // two jobs, each twice
  EXPECT_NE(readFile(file("snakemake.log")).find("Error in rule participant"), std::string::npos);
}

// The status script's answer for each state sacct or, when sacct lists
// nothing yet, scontrol reports.
TEST_F(SlurmProfile, TheStatusScriptMapsEachSlurmStateToRunningSuccessOrFailed) {
  standIn("sacct", "echo \"$*\" > " + quoted("sacct.args") + "\nprintf \"$SACCT\"\n");
  standIn("scontrol", "printf \"$SCONTROL\"\n");
  const struct {
    const char* sacct;
    const char* scontrol;
    const char* status;
  } cases[] = {{"COMPLETED\\n", "", "success"},
               {"PENDING\\n", "", "running"},
               {"RUNNING\\n", "", "running"},
               {"REQUEUED\\n", "", "running"},
               {"SUSPENDED\\n", "", "running"},
               {"FAILED\\nCOMPLETED\\n", "", "success"},  // the latest record counts
               {"FAILED\\n", "", "failed"},
               {"TIMEOUT\\n", "", "failed"},
               {"OUT_OF_MEMORY\\n", "", "failed"},
               {"CANCELLED by 1234\\n", "", "failed"},
               {"NODE_FAIL\\n", "", "failed"},
               {"PREEMPTED\\n", "", "failed"},
               {"", "JobId=77 JobName=x JobState=PENDING Reason=Priority\\n", "running"},
               {"", "JobId=77 JobName=x JobState=FAILED Reason=NonZeroExitCode\\n", "failed"},
               {"", "", "running"}};  // submitted a moment ago
  const std::string script = std::string(DAXO_SOURCE_DIR) + "/workflow/profiles/slurm/sacct-status.sh";
  for (const auto& c : cases) {
    const std::string command = "SACCT=" + shellQuoted(c.sacct) + " SCONTROL=" + shellQuoted(c.scontrol) +
                                " PATH=" + quoted("bin") + ":\"$PATH\" " + shellQuoted(script) + " '77;cluster' > " +
                                quoted("status");
    ASSERT_EQ(std::system(command.c_str()), 0) << c.sacct;
    EXPECT_EQ(readFile(file("status")), std::string(c.status) + "\n") << c.sacct << c.scontrol;
    EXPECT_EQ(readFile(file("sacct.args")), "-j 77 -X -n -P -o State\n");
  }
}

// The real pairs: the subject with full metadata is corrected and its pair
// agrees better; the one without polarity is refused, naming what is missing.
TEST(DaxoBidsRealData, CorrectsTheCompleteSubjectAndNamesWhatTheOtherLacks) {
  const std::string dataset = std::string(DAXO_SHARED_DATA_DIR) + "/bids";
  if (!fs::exists(dataset)) GTEST_SKIP() << dataset << " is not there";
  daxo::testing::TempFolder out;
  const DaxoRun run = runDaxo("bids " + shellQuoted(dataset) + " " + shellQuoted(out.path()) + " participant");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("  sub-canon: sub-canon/dwi/sub-canon_dir-AP_dwi.json has PhaseEncodingAxis but no "
                         "PhaseEncodingDirection"),
            std::string::npos)
      << run.err;
  const std::string dwi = out.path() + "/sub-xa30/dwi/sub-xa30_dir-";
  const Volume ap = NiftiImage::open(dataset + "/sub-xa30/dwi/sub-xa30_dir-AP_dwi.nii.gz").readVolume(0);
  const Volume pa = NiftiImage::open(dataset + "/sub-xa30/dwi/sub-xa30_dir-PA_dwi.nii.gz").readVolume(0);
  const Volume apCorrected = NiftiImage::open(dwi + "AP_desc-undistorted_dwi.nii.gz").readVolume(0);
  const Volume paCorrected = NiftiImage::open(dwi + "PA_desc-undistorted_dwi.nii.gz").readVolume(0);
  EXPECT_EQ(NiftiImage::open(dwi + "AP_desc-undistorted_dwi.nii.gz").volumeCount(), 21);
  const Volume head = daxo::pairHeadMask(apCorrected, paCorrected);
  EXPECT_GT(daxo::maskedCorrelation(apCorrected, paCorrected, head), daxo::maskedCorrelation(ap, pa, head) + 0.02);
  EXPECT_TRUE(fs::exists(out.path() + "/sub-xa30/fmap/sub-xa30_desc-daxodwi_fieldmap.json"));
  EXPECT_TRUE(fs::exists(out.path() + "/sub-xa30.html"));

  // The polarity and readout time the other subject's sidecars lack,
  // supplied by a metadata file: it is then corrected, and its outputs record
  // what was supplied.
  daxo::testing::TempFolder inputs;
  daxo::testing::writeFile(inputs.file("canon-metadata.json"), R"([
    {"match": {"subject": "canon"}, "metadata": {"TotalReadoutTime": 0.05}},
    {"match": {"subject": "canon", "direction": "AP"}, "metadata": {"PhaseEncodingDirection": "j-"}},
    {"match": {"sub": "canon", "dir": "PA"}, "metadata": {"PhaseEncodingDirection": "j"}}])");
  const DaxoRun canon =
      runDaxo("bids " + shellQuoted(dataset) + " " + shellQuoted(out.path()) +
              " participant --participant-label canon --metadata " + shellQuoted(inputs.file("canon-metadata.json")));
  EXPECT_EQ(canon.status, 0) << canon.err;
  EXPECT_NE(canon.out.find("PhaseEncodingDirection of sub-canon/dwi/sub-canon_dir-AP_dwi.nii.gz is \"j-\", from "),
            std::string::npos)
      << canon.out;
  const nlohmann::json sidecar =
      nlohmann::json::parse(readFile(out.path() + "/sub-canon/dwi/sub-canon_dir-PA_desc-undistorted_dwi.json"));
  EXPECT_EQ(sidecar["PhaseEncodingDirection"], "j");
  EXPECT_EQ(sidecar["MetadataSupplied"]["PhaseEncodingDirection"], "j");
}

}  // namespace
