// `daxo report`: the quality page of a map and its pair, as a user makes it
// from files already written, and as a browser shows it.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "tests/cli/daxorun.h"
#include "tests/plugin/syntheticpair.h"
#include "tests/plugin/testprojects.h"
#include "testsupport/testfiles.h"

namespace {

using daxo::Dimensions;
using daxo::testing::DaxoRun;
using daxo::testing::runDaxo;

class ReportCommand : public daxo::testing::DaxoCommandTest {
 protected:
  // A pair with a known displacement, its true map, and the arguments that
  // report on them.
  void SetUp() override {
    const Dimensions d{24, 28, 12};
    const daxo::testing::SyntheticPair pair = daxo::testing::syntheticPair(d, 2.0);
    daxo::testing::writeFmrProject(file("ap.fmr"), d, {pair.first}, daxo::testing::Voxels::Float32);
    daxo::testing::writeFmrProject(file("pa.fmr"), d, {pair.second}, daxo::testing::Voxels::Float32);
    daxo::testing::writeMapFile(file("ap_vdm.map"), pair.truth);
  }
  std::string inputs() const { return quoted("ap_vdm.map") + " " + quoted("ap.fmr") + " " + quoted("pa.fmr"); }
};

// The figures the log shows, as the page's table holds them.
std::vector<std::pair<std::string, std::string>> loggedFigures(const std::string& out) {
  std::vector<std::pair<std::string, std::string>> figures;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const size_t start = line.find("] ");
    if (start == std::string::npos) continue;
    const std::string entry = line.substr(start + 2);
    const bool figure = entry.rfind("Correlation inside the head", 0) == 0 ||
                        entry.rfind("Displacement inside the head", 0) == 0 || entry.rfind("Steepest slope", 0) == 0;
    const size_t colon = entry.find(": ");
    if (figure && colon != std::string::npos) figures.push_back({entry.substr(0, colon), entry.substr(colon + 2)});
  }
  return figures;
}

TEST_F(ReportCommand, WritesOnePageWhoseFiguresAreTheLoggedOnes) {
  const DaxoRun run = runDaxo("report " + inputs() + " " + quoted("report.html"));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string page = daxo::testing::readFile(file("report.html"));
  const auto figures = loggedFigures(run.out);
  ASSERT_EQ(figures.size(), 4u) << run.out;
  for (const auto& [name, value] : figures) {
    EXPECT_NE(page.find("<td>" + name + "</td><td>" + value + "</td>"), std::string::npos) << name;
  }
  // The rescaled pair's agreement first, the plain one beside it; the true
  // map brings the pair together.
  EXPECT_EQ(figures[0].first, "Correlation inside the head, rescaled by the local stretch");
  EXPECT_EQ(figures[1].first, "Correlation inside the head");
  double before = 0, after = 0;
  ASSERT_EQ(std::sscanf(figures[1].second.c_str(), "%lf before correction, %lf after", &before, &after), 2);
  EXPECT_GT(after, before + 0.1);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(daxo::testing::namesIn(dir.path()),
            (std::vector<std::string>{"ap.fmr", "ap.stc", "ap_vdm.map", "pa.fmr", "pa.stc", "report.html"}));
}

// The pages of estimate and apply: the same figures as their logs, the
// phase-encoding check's verdict, and the series before and after.
TEST_F(ReportCommand, EstimateAndApplyWriteTheirPages) {
  const DaxoRun estimate =
      runDaxo("estimate " + quoted("ap.fmr") + " " + quoted("pa.fmr") + " --report " + quoted("estimate.html"));
  ASSERT_EQ(estimate.status, 0) << estimate.err;
  const std::string page = daxo::testing::readFile(file("estimate.html"));
  for (const auto& [name, value] : loggedFigures(estimate.out)) {
    EXPECT_NE(page.find("<td>" + name + "</td><td>" + value + "</td>"), std::string::npos) << name;
  }
  EXPECT_NE(page.find("Phase-encoding check passed: "), std::string::npos);
  EXPECT_NE(page.find("<td>Method</td><td>variational</td>"), std::string::npos);

  const DaxoRun apply =
      runDaxo("apply --vdm " + quoted("ap_vdm.map") + " --report " + quoted("apply.html") + " " + quoted("ap.fmr"));
  ASSERT_EQ(apply.status, 0) << apply.err;
  const std::string series = daxo::testing::readFile(file("apply.html"));
  EXPECT_NE(series.find("<h2>ap.fmr</h2>"), std::string::npos);
  EXPECT_EQ(
      runDaxo("apply --vdm " + quoted("ap_vdm.map") + " --report " + quoted("ap.fmr") + " " + quoted("ap.fmr")).status,
      2);
}

TEST_F(ReportCommand, BadInputLeavesNoPageAndAnEarlierPageUntouched) {
  daxo::testing::writeFile(file("report.html"), "earlier page");
  std::filesystem::create_directory(file("taken.html"));
  daxo::testing::writeMapFile(file("small_vdm.map"), daxo::Volume(24, 28, 11, 0.0f));
  const struct {
    std::string arguments;
    int status;
    std::string message;
  } cases[] = {
      {"report " + quoted("absent.map") + " " + quoted("ap.fmr") + " " + quoted("pa.fmr") + " " + quoted("report.html"),
       1, "daxo: report: could not open file " + file("absent.map")},
      {"report " + quoted("small_vdm.map") + " " + quoted("ap.fmr") + " " + quoted("pa.fmr") + " " +
           quoted("report.html"),
       1,
       "daxo: report: " + file("small_vdm.map") + " is a map of 24 x 28 x 11 voxels, but " + file("ap.fmr") +
           " has volumes of 24 x 28 x 12: the map must be of the projects' grid"},
      {"report " + inputs() + " " + quoted("report.html") + " --volume1 3", 1,
       "daxo: report: " + file("pa.fmr") + " has 1 volumes; there is no volume 3"},
      // Regression: a page that could not be written gave no reason, and
      // only once the work was done.
      {"report " + inputs() + " " + quoted("absent/page.html"), 2,
       "daxo: report: the page's folder " + file("absent") + " does not exist"},
      {"report " + inputs() + " " + quoted("taken.html"), 1,
       "daxo: report: Cannot create " + file("taken.html") + ": it is a folder"},
      {"report " + inputs() + " " + quoted("pa.fmr"), 2,
       "daxo: report: the page's name must end in .html, not '" + file("pa.fmr") + "'"},
  };
  for (const auto& c : cases) {
    const DaxoRun run = runDaxo(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments;
    EXPECT_EQ(run.err.rfind(c.message, 0), 0u) << run.err;
    EXPECT_EQ(daxo::testing::readFile(file("report.html")), "earlier page");
  }
}

// Reads the size of a PNG and whether it holds more than one colour.
struct Screenshot {
  int width = 0;
  int height = 0;
  bool varied = false;
};

Screenshot readScreenshot(const std::string& path) {
  Screenshot shot;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return shot;
  image.format = PNG_FORMAT_GRAY;
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return shot;
  shot.width = static_cast<int>(image.width);
  shot.height = static_cast<int>(image.height);
  size_t dark = 0;
  for (unsigned char p : pixels) dark += p < 64 ? 1 : 0;
  // Black slices on a white page: a good share of both.
  shot.varied = dark > pixels.size() / 20 && dark < pixels.size() * 19 / 20;
  return shot;
}

// The page in a real browser: headless Chromium renders it, pictures and all.
TEST_F(ReportCommand, ChromiumRendersThePage) {
  const char* chromium = "/usr/bin/chromium";
  if (!std::filesystem::exists(chromium)) GTEST_SKIP() << "Debian's chromium is not installed";
  ASSERT_EQ(runDaxo("report " + inputs() + " " + quoted("report.html")).status, 0);
  const std::string command = std::string(chromium) +
                              " --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1000,1400"
                              " --screenshot=" +
                              quoted("shot.png") + " file://" + quoted("report.html") + " > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const Screenshot shot = readScreenshot(file("shot.png"));
  EXPECT_EQ(shot.width, 1000);
  EXPECT_EQ(shot.height, 1400);
  EXPECT_TRUE(shot.varied);
}

}  // namespace
