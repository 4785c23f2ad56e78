// daxo demo: the whole pipeline on the built-in demo data, run as a user runs
// it (small size, so that it stays quick under the sanitizers), and the rule
// that keeps it out of folders holding other files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "demodata/accuracy.h"
#include "demodata/displacementfield.h"
#include "demodata/distortedscan.h"
#include "demodata/headvolumes.h"
#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "fileio/mapfile.h"
#include "pipeline/demofiles.h"
#include "pipeline/demoinputs.h"
#include "pipeline/demoreport.h"
#include "tests/cli/daxorun.h"
#include "tests/plugin/testprojects.h"
#include "testsupport/testfiles.h"
#include "testsupport/thrownmessage.h"
#include "testsupport/volumes.h"

namespace {

using daxo::DemoSettings;
using daxo::Volume;
using daxo::pipeline::DemoFiles;
using daxo::testing::DaxoRun;
using daxo::testing::identicalBytes;
using daxo::testing::readFile;
using daxo::testing::readMap;
using daxo::testing::readProject;
using daxo::testing::runDaxo;
using daxo::testing::shellQuoted;
using daxo::testing::TempFolder;
using daxo::testing::thrownMessage;

// The number after `label` on the report's line that starts with it; NaN when
// there is none.
double reportValue(const std::string& report, const std::string& label) {
  const size_t at = report.find("\n" + label);
  if (at == std::string::npos) return std::nan("");
  double value = std::nan("");
  std::sscanf(report.c_str() + at + 1 + label.size(), "%lf", &value);
  return value;
}

// The correlation after the word `which` ("before" or "after") on the line
// starting with `label`.
double correlationOnLine(const std::string& report, const std::string& label, int position) {
  const size_t at = report.find("\n" + label);
  if (at == std::string::npos) return std::nan("");
  double before = std::nan(""), after = std::nan("");
  std::sscanf(report.c_str() + at + 1 + label.size(), "%lf before, %lf after", &before, &after);
  return position == 0 ? before : after;
}

// One small demo run, shared by the tests that look at its output.
class DemoRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempFolder;
    run_ = new DaxoRun(runDaxo("demo " + shellQuoted(folder_->file("out")) + " --size small"));
  }
  static void TearDownTestSuite() {
    delete run_;
    delete folder_;
  }

  static const DaxoRun& run() { return *run_; }
  static DemoFiles files() { return DemoFiles(folder_->file("out")); }
  static DemoSettings settings() { return daxo::pipeline::demoSettingsForSize("small"); }

 private:
  static TempFolder* folder_;
  static DaxoRun* run_;
};
TempFolder* DemoRun::folder_ = nullptr;
DaxoRun* DemoRun::run_ = nullptr;

TEST_F(DemoRun, EstimatedMapIsWithinTheBound) {
  ASSERT_EQ(run().status, 0) << run().out << run().err;
  EXPECT_EQ(run().err, "");
  const daxo::DisplacementError error = daxo::displacementError(
      readMap(files().estimatedMap()).volume, daxo::trueDisplacement(settings()), daxo::headMask(settings()));
  const daxo::pipeline::DemoBound bound;
  EXPECT_LT(error.rms, bound.rms);
  EXPECT_LT(error.percentile95, bound.percentile95);
  EXPECT_NE(run().out.find("\nResult: PASSED, the map is within its bound.\n"), std::string::npos) << run().out;
}

// The report's figures are the ones the files give.
TEST_F(DemoRun, ReportStatesWhatTheFilesHold) {
  const std::string& report = run().out;
  const DemoSettings s = settings();
  const Volume truth = daxo::trueDisplacement(s);
  const Volume head = daxo::headMask(s);
  const daxo::DisplacementError error = daxo::displacementError(readMap(files().estimatedMap()).volume, truth, head);
  const daxo::DisplacementError none = daxo::displacementError(Volume(truth.dimensions(), 0.0f), truth, head);

  EXPECT_NEAR(reportValue(report, "  RMS: "), error.rms, 0.0005) << report;
  EXPECT_NEAR(reportValue(report, "  95th percentile: "), error.percentile95, 0.0005);
  EXPECT_NE(report.find("inside the head (" + std::to_string(error.voxels) + " voxels)"), std::string::npos);
  EXPECT_NEAR(reportValue(report, "  Without correction: RMS "), none.rms, 0.0005);
  char mm[32];
  std::snprintf(mm, sizeof mm, "(%.2f mm)", error.rms * s.voxelMm);
  EXPECT_NE(report.find(mm), std::string::npos) << mm;

  const Volume before0 = readProject<daxo::FMRHeader>(files().firstScan()).volumes.at(0);
  const Volume before1 = readProject<daxo::FMRHeader>(files().secondScan()).volumes.at(0);
  const Volume after0 = readProject<daxo::FMRHeader>(files().correctedFirstScan()).volumes.at(0);
  const Volume after1 = readProject<daxo::FMRHeader>(files().correctedSecondScan()).volumes.at(0);
  const double pairBefore = daxo::maskedCorrelation(before0, before1, head);
  const double pairAfter = daxo::maskedCorrelation(after0, after1, head);
  EXPECT_NEAR(correlationOnLine(report, "  The two scans: ", 0), pairBefore, 0.0005);
  EXPECT_NEAR(correlationOnLine(report, "  The two scans: ", 1), pairAfter, 0.0005);
  EXPECT_GT(pairAfter, pairBefore + 0.05);

  const Volume object = daxo::headObject(s);
  const double dwiAfter =
      daxo::maskedCorrelation(readProject<daxo::DMRHeader>(files().correctedDiffusion()).volumes.at(0), object, head);
  EXPECT_NEAR(correlationOnLine(report, "  Diffusion b=0 against the undistorted head: ", 1), dwiAfter, 0.0005);

  for (const char* step : {"generate and write the data:", "estimate and correct the pair:",
                           "correct the diffusion series:", "compare with the truth:", "total:"}) {
    EXPECT_GE(reportValue(report, std::string("  ") + step), 0.0) << step;
  }
}

// The inputs are the generator's data, stated as they are: the first scan
// shows the object displaced by +d, the map file holds d, the diffusion
// series carries its gradient table, and log entries of every step arrive
// with their time.
TEST_F(DemoRun, WritesTheGeneratorsDataAndOnlyItsOwnFiles) {
  std::vector<std::string> expected = DemoFiles::names();
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(daxo::testing::namesIn(files().folder()), expected);

  const DemoSettings s = settings();
  const daxo::DistortedAcquisition first(s, daxo::PhaseDirection::First);
  const daxo::FMRHeader scan = readProject<daxo::FMRHeader>(files().firstScan());
  ASSERT_EQ(scan.volumes.size(), static_cast<size_t>(s.timePoints));
  const std::vector<Volume> series = first.functionalSeries();
  for (size_t t = 0; t < series.size(); ++t) {
    EXPECT_TRUE(identicalBytes(scan.volumes[t], series[t])) << t;
  }
  EXPECT_FLOAT_EQ(scan.inplaneResolutionY.value, static_cast<float>(s.voxelMm));

  const Volume truth = daxo::trueDisplacement(s);
  const Volume saved = readMap(files().trueMap()).volume;
  EXPECT_TRUE(identicalBytes(saved, truth));

  const daxo::DMRHeader dwi = readProject<daxo::DMRHeader>(files().diffusion());
  ASSERT_EQ(dwi.volumes.size(), 7u);
  ASSERT_EQ(dwi.bValues.size(), 7u);
  EXPECT_EQ(dwi.bValues[0], 0.0f);
  EXPECT_EQ(dwi.bValues[6], static_cast<float>(s.bValue));
  // 16-bit data: the generator's values truncated.
  const Volume b0 = first.diffusionSeries()[0];
  for (size_t i = 0; i < b0.voxelCount(); i += 97) EXPECT_EQ(dwi.volumes[0].data()[i], std::trunc(b0.data()[i])) << i;
  EXPECT_EQ(readProject<daxo::DMRHeader>(files().correctedDiffusion()).bValues, dwi.bValues);

  const std::string& out = run().out;
  size_t at = 0;
  for (const std::string& entry : std::vector<std::string>{
           "] Writing func_ap.fmr", "] Running: daxo estimate ", "] Estimating voxel displacement maps...",
           "] Running: daxo apply --vdm " + files().estimatedMap() + " --no " + files().diffusion() + "\n",
           "] Undistorted data saved as: " + files().correctedDiffusion(), "] Comparing with the truth...",
           "\nDAXO demo report\n"}) {
    at = out.find(entry, at);
    EXPECT_NE(at, std::string::npos) << entry << "\n" << out;
  }
  // Other commands read what the demo wrote.
  EXPECT_EQ(runDaxo("info " + shellQuoted(files().trueMap()) + " " + shellQuoted(files().diffusion())).status, 0);
}

// The strong field (7 voxels, |dd/dy| up to 0.85) is corrected within the
// same bound by the default method.
// The README shows what `make demo` prints now: the same lines and figures,
// with the times, the thread count and the folder masked.
TEST(DemoCommand, TheReadmeShowsWhatTheDemoPrints) {
  // Every run of digits and dots is a number; those followed by " s" (and
  // the spaces before them), after "Time taken: " and after "threads " are
  // masked.
  const auto masked = [](std::string text, const std::string& folder) {
    for (size_t at; (at = text.find(folder)) != std::string::npos;) text.replace(at, folder.size(), "FOLDER");
    const auto number = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '.'; };
    std::string out;
    for (size_t i = 0; i < text.size();) {
      if (!number(text[i]) || (i > 0 && std::isalpha(static_cast<unsigned char>(text[i - 1])))) {
        out += text[i++];
        continue;
      }
      size_t end = i;
      while (end < text.size() && number(text[end])) ++end;
      const bool seconds = text.compare(end, 2, " s") == 0 &&
                           (end + 2 == text.size() || !std::isalnum(static_cast<unsigned char>(text[end + 2])));
      const auto after = [&](const std::string& word) {
        return out.size() >= word.size() && out.compare(out.size() - word.size(), word.size(), word) == 0;
      };
      if (seconds || after("Time taken: ") || after("threads ")) {
        while (seconds && !out.empty() && (out.back() == ' ' || out.back() == '[')) {
          if (out.back() == '[') break;
          out.pop_back();
        }
        out += seconds ? " T" : "N";
      } else {
        out.append(text, i, end - i);
      }
      i = end;
    }
    return out;
  };
  const std::string readme = readFile(DAXO_SOURCE_DIR "/README.md");
  const std::string start = "```\nbuild/daxo demo build/demo\n";
  const size_t from = readme.find(start);
  ASSERT_NE(from, std::string::npos) << "no demo output in the README";
  const size_t to = readme.find("```", from + start.size());
  const std::string shown = readme.substr(from + start.size(), to - from - start.size());

  daxo::testing::TempFolder dir;
  const DaxoRun run = runDaxo("demo " + shellQuoted(dir.file("demo")));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(masked(shown, "build/demo"), masked(run.out, dir.file("demo")));
}

TEST(DemoCommand, StrongFieldMeetsTheBound) {
  TempFolder dir;
  const DaxoRun run = runDaxo("demo " + shellQuoted(dir.file("strong")) + " --size small --field strong");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\nField: strong, peak "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nResult: PASSED, the map is within its bound.\n"), std::string::npos) << run.out;
}

TEST(DemoCommand, RefusesAFolderHoldingOtherFilesAndLeavesItAlone) {
  TempFolder dir;
  daxo::testing::writeFile(dir.file("notes.txt"), "keep");
  const DaxoRun run = runDaxo("demo " + shellQuoted(dir.path()) + " --size small");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("the folder " + dir.path() + " holds 'notes.txt'"), std::string::npos) << run.err;
  EXPECT_EQ(daxo::testing::namesIn(dir.path()), std::vector<std::string>{"notes.txt"});
  EXPECT_EQ(readFile(dir.file("notes.txt")), "keep");
}

// A step that fails is no success: the demo stops there with status 1 and
// says which step it was.
TEST(DemoCommand, StopsWithStatus1WhenAStepFails) {
  TempFolder dir;
  const DaxoRun run = runDaxo("--plugin /nonexistent/DAXO.so demo " + shellQuoted(dir.file("d")) + " --size small");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("/nonexistent/DAXO.so"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("daxo: demo: stopped, this step failed: daxo estimate "), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("DAXO demo report"), std::string::npos);
}

TEST(DemoCommand, BadCommandLinesExitWith2) {
  TempFolder dir;
  daxo::testing::writeFile(dir.file("plain"), "x");
  const std::pair<std::string, std::string> cases[] = {
      {"demo --size tiny", "--size needs 'small' or 'full', not 'tiny'"},
      {"demo --field steep", "--field needs 'standard' or 'strong', not 'steep'"},
      {"demo a b", "expected 0 to 1 argument(s), got 2"},
      {"demo " + shellQuoted(dir.file("plain")), dir.file("plain") + " exists and is not a folder"},
      {"demo ''", "an empty folder name"},
      {"demo " + std::string(600, 'd'), "at most 511 characters"},
  };
  for (const auto& [arguments, message] : cases) {
    const DaxoRun run = runDaxo(arguments);
    EXPECT_EQ(run.status, 2) << arguments;
    EXPECT_NE(run.err.find(message), std::string::npos) << arguments << ": " << run.err;
  }
  EXPECT_EQ(daxo::testing::namesIn(dir.path()), std::vector<std::string>{"plain"});
}

TEST(DemoFolder, AcceptsNewFoldersAndItsOwnEarlierOutput) {
  TempFolder dir;
  const std::string nested = dir.file("a/b");
  daxo::pipeline::prepareDemoFolder(nested, std::nullopt);
  EXPECT_TRUE(std::filesystem::is_directory(nested));

  for (const std::string& path : DemoFiles(nested).allPaths()) daxo::testing::writeFile(path, "old");
  daxo::testing::writeFile(dir.file("a/b/run.log"), "l");
  EXPECT_THROW(daxo::pipeline::prepareDemoFolder(nested, std::nullopt), daxo::pipeline::RequestError);
  // daxo's own --log file may lie there.
  EXPECT_NO_THROW(daxo::pipeline::prepareDemoFolder(nested, dir.file("a/b/run.log")));
  EXPECT_NO_THROW(daxo::pipeline::prepareDemoFolder(nested + "/", dir.file("a/b/run.log")));
}

// A name of the demo's that is a folder or a symbolic link is not its output:
// writing through the link would replace a file elsewhere.
TEST(DemoFolder, RefusesEntriesThatOnlyCarryItsNames) {
  TempFolder dir;
  daxo::testing::writeFile(dir.file("elsewhere.fmr"), "user");
  std::filesystem::create_directory(dir.file("demo"));
  std::filesystem::create_symlink(dir.file("elsewhere.fmr"), dir.file("demo/func_ap.fmr"));
  const std::string message = thrownMessage<daxo::pipeline::RequestError>(
      [&] { daxo::pipeline::prepareDemoFolder(dir.file("demo"), std::nullopt); });
  EXPECT_NE(message.find("'func_ap.fmr'"), std::string::npos) << message;
  std::filesystem::remove(dir.file("demo/func_ap.fmr"));
  std::filesystem::create_directory(dir.file("demo/func_ap.stc"));
  EXPECT_THROW(daxo::pipeline::prepareDemoFolder(dir.file("demo"), std::nullopt), daxo::pipeline::RequestError);
  EXPECT_EQ(readFile(dir.file("elsewhere.fmr")), "user");
}

TEST(DemoReport, GivesTheVerdictOfTheBound) {
  daxo::pipeline::DemoFigures figures;
  figures.map = {0.04, 0.08, 1000};
  const daxo::pipeline::DemoBound bound;
  const DemoSettings s;
  const std::string within = daxo::pipeline::demoReport(s, "d", figures, bound, {{"step", 1.0}});
  EXPECT_NE(within.find("RMS:             0.040 voxels (0.10 mm), bound < 0.06 voxels\n"), std::string::npos) << within;
  EXPECT_NE(within.find("\nField: standard, peak 5.0 voxels\n"), std::string::npos) << within;
  EXPECT_NE(within.find("Result: PASSED"), std::string::npos);
  for (const daxo::DisplacementError& outside :
       {daxo::DisplacementError{0.061, 0.08, 1000}, daxo::DisplacementError{0.04, 0.121, 1000}}) {
    figures.map = outside;
    EXPECT_FALSE(bound.holds(outside));
    EXPECT_NE(daxo::pipeline::demoReport(s, "d", figures, bound, {}).find("Result: FAILED"), std::string::npos);
  }
}

}  // namespace
