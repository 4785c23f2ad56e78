// daxo estimate, run as a user runs it on projects the tests write, and in
// this process to see the dialog parameters it sets.
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/commandtable.h"
#include "cli/console.h"
#include "demodata/accuracy.h"
#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "fileio/mapfile.h"
#include "host/hoststate.h"
#include "tests/cli/daxorun.h"
#include "tests/plugin/syntheticpair.h"
#include "tests/plugin/testprojects.h"
#include "testsupport/testfiles.h"

namespace {

using daxo::Dimensions;
using daxo::FMRHeader;
using daxo::host::hostState;
using daxo::testing::DaxoRun;
using daxo::testing::runDaxo;
using daxo::testing::shellQuoted;
using daxo::testing::Voxels;

const Dimensions kTableSize{24, 24, 12};

class EstimateCommand : public daxo::testing::DaxoCommandTest {
 protected:
  // A DMR project with a gradient table of these b-values, one per volume.
  void writeDiffusion(const std::string& name, const std::vector<daxo::Volume>& volumes,
                      const std::vector<float>& bValues) const {
    daxo::DMRHeader project =
        daxo::testing::writeDmrProject(file(name), kTableSize, volumes, daxo::testing::Voxels::Float32);
    project.gradientInformationAvailable = {"GradientInformationAvailable", true, 30, true};
    project.gradientDirections.assign(bValues.size(), daxo::GradientDirection{});
    project.bValues = bValues;
    project.save();
  }

  // Runs `daxo estimate` in this process on the stand-in host, with the
  // plugin library loaded by path.
  int runInProcess(const std::vector<std::string>& args) {
    daxo::host::resetHostState();
    daxo::cli::GlobalOptions options;
    options.pluginPath = DAXO_PLUGIN_PATH;
    options.quiet = true;
    daxo::cli::Console console(options, out, err);
    daxo::cli::CommandContext context{args, options, console};
    return daxo::cli::runCommand(*daxo::cli::findCommand("estimate"), context);
  }

  std::ostringstream out;
  std::ostringstream err;
};

// The whole road a user takes: estimate and correct a pair, then compare the
// corrected pair, with each method. Measured on this pair: the map's RMS
// error inside the object falls from 1.75 voxels (no correction) to 0.11
// with the classic method and to 0.021 with the variational one; the
// correlation of the pair rises from 0.21 to 0.73 with the classic map, and
// the true map itself reaches 0.75, since the correction moves intensities
// without rescaling them.
TEST_F(EstimateCommand, CorrectedPairAgreesFarBetterThanTheInput) {
  const Dimensions d{32, 32, 16};
  const daxo::testing::SyntheticPair pair = daxo::testing::syntheticPair(d, 3.0);
  daxo::testing::writeFmrProject(file("ap.fmr"), d, {pair.first}, Voxels::Float32);
  daxo::testing::writeFmrProject(file("pa.fmr"), d, {pair.second}, Voxels::Float32);
  struct Case {
    std::string flags, logLine;
    double rms;
  };
  const Case cases[] = {{"", "] Level 3 of 3 (32 x 32 x 16): cost ", 0.05},
                        {" --method classic", "] Finished iteration with NCC: ", 0.2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    const DaxoRun run = runDaxo("estimate " + quoted("ap.fmr") + " " + quoted("pa.fmr") + " --apply" + c.flags);

    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("] Estimating voxel displacement maps...\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(c.logLine), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("] Done.\n"), std::string::npos);
    const FMRHeader first = daxo::testing::readProject<FMRHeader>(file("ap_undist.fmr"));
    const FMRHeader second = daxo::testing::readProject<FMRHeader>(file("pa_undist.fmr"));
    const double before = daxo::maskedCorrelation(pair.first, pair.second, pair.mask);
    const double after = daxo::maskedCorrelation(first.volumes[0], second.volumes[0], pair.mask);
    EXPECT_LT(before, 0.3);
    EXPECT_GT(after, 0.65);
    const daxo::MapFile map = daxo::testing::readMap(file("ap_vdm.map"));
    ASSERT_EQ(map.volume.dimensions(), d);
    EXPECT_LT(daxo::displacementError(map.volume, pair.truth, pair.mask).rms, c.rms);
    const daxo::MapFile negated = daxo::testing::readMap(file("pa_vdm.map"));
    for (size_t i = 0; i < map.volume.voxelCount(); ++i) ASSERT_EQ(negated.volume.data()[i], -map.volume.data()[i]);
  }
}

// The plugin has no defaults: every parameter is set, from the flags or from
// daxo's defaults. The host's document takes the stored extents of FILE0.
TEST_F(EstimateCommand, EveryDialogParameterIsSet) {
  const Dimensions d{6, 5, 4};
  daxo::testing::writeFmrProject(file("a.fmr"), d, daxo::testing::patternVolumes(d, 1), Voxels::Int16);
  struct Case {
    std::vector<std::string> flags;
    std::vector<int32_t> values;  // volume0 .. order in the order the task reads them
    std::string task;
  };
  const Case cases[] = {
      {{}, {0, 0, 0, 1, 0, 0, 0, 0, 0}, "estimate_variational"},
      {{"--method", "variational", "--volume0", "2", "--volume1=3", "--rllr", "--apply", "--derivative"},
       {2, 3, 1, 1, 0, 1, 1, 0, 0},
       "estimate_variational"},
      {{"--method", "classic"}, {0, 0, 0, 1, 0, 0, 0, 0, 0}, "estimate"},
      {{"--method=classic", "--ssd", "--no-ic", "--volume0", "2", "--volume1=3", "--rllr", "--apply", "--derivative",
        "--order", "1"},
       {2, 3, 1, 0, 1, 1, 1, 0, 1},
       "estimate"},
      {{"--method", "classic", "--fast", "--order=2"}, {0, 0, 0, 1, 0, 0, 0, 1, 2}, "estimate"},
  };
  const char* const names[] = {"volume0",        "volume1",         "rllr",           "use_ic", "use_ssd",
                               "apply_to_input", "save_derivative", "fast_algorithm", "order"};
  for (const Case& c : cases) {
    std::vector<std::string> args{file("a.fmr"), file("gone.dmr")};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    SCOPED_TRACE(::testing::PrintToString(args));
    // The second project is missing: the task fails after reading them.
    EXPECT_EQ(runInProcess(args), daxo::cli::kExitFailure);
    EXPECT_EQ(hostState().parameters.getString("task"), c.task);
    EXPECT_EQ(hostState().parameters.getString("file0"), file("a.fmr"));
    EXPECT_EQ(hostState().parameters.getString("file1"), file("gone.dmr"));
    for (size_t i = 0; i < c.values.size(); ++i) {
      EXPECT_TRUE(hostState().parameters.hasInt(names[i])) << names[i];
      EXPECT_EQ(hostState().parameters.getInt(names[i]), c.values[i]) << names[i];
    }
    ASSERT_TRUE(hostState().document.has_value());
    EXPECT_EQ(hostState().document->extents(), d);
    EXPECT_NE(err.str().find("Error: Failed opening for reading: " + file("gone.dmr")), std::string::npos);
  }
}

TEST_F(EstimateCommand, BadCommandLinesExitWithTwoAndWriteNothing) {
  const Dimensions d{6, 5, 4};
  daxo::testing::writeFmrProject(file("a.fmr"), d, daxo::testing::patternVolumes(d, 1), Voxels::Int16);
  daxo::testing::writeFmrProject(file("b.fmr"), d, daxo::testing::patternVolumes(d, 1), Voxels::Int16);
  const std::string pair = quoted("a.fmr") + " " + quoted("b.fmr");
  const std::pair<std::string, std::string> cases[] = {
      {quoted("a.fmr"), "expected 2 argument(s), got 1"},
      {pair + " " + quoted("a.fmr"), "expected 2 argument(s), got 3"},
      {pair + " --method classic --ssd --ncc", "give --ssd or --ncc, not both"},
      {pair + " --method classic --ic --no-ic", "give --ic or --no-ic, not both"},
      {pair + " --method classic --fast --ncc", "--ncc has no effect with --fast"},
      {pair + " --volume0 x", "option --volume0 needs an integer, not 'x'"},
      {pair + " --volume1 -1", "option --volume1 needs a volume index from 0, not '-1'"},
      {pair + " --method classic --order 3", "option --order needs 0, 1 or 2, not '3'"},
      {pair + " --order", "option --order needs a value"},
      {pair + " --method fast", "option --method needs variational or classic, not 'fast'"},
      {pair + " --fast", "--fast belongs to --method classic"},
      {pair + " --method variational --ssd", "--ssd belongs to --method classic"},
      {pair + " --ncc", "--ncc belongs to --method classic"},
      {pair + " --ic", "--ic belongs to --method classic"},
      {pair + " --no-ic", "--no-ic belongs to --method classic"},
      {pair + " --order 1", "--order belongs to --method classic"},
      {pair + " --smooth", "unknown option '--smooth'"},
      {quoted("a.fmr") + " " + shellQuoted(file("b.fmr") + "\n" + file("c.fmr")),
       "a path must not contain a line feed"},
      // These used to be read as DMR projects and fail on a data file ".dwi".
      {quoted("a.fmr") + " " + quoted("b.nii"), "give two NIfTI images or two projects, not one of each"},
      {quoted("a.fmr") + " " + quoted("b.dwi"), file("b.dwi") + " is not an FMR or DMR project (.fmr or .dmr)"},
      {pair + " --pe0 j", "--pe0 is for NIfTI images"},
      {quoted("a.nii") + " " + quoted("b.nii") + " --rllr", "--rllr is for project files"},
      {quoted("a.nii") + " " + quoted("b.nii") + " --fast", "--fast belongs to --method classic"},
      {quoted("a.nii") + " " + quoted("b.nii") + " --readout 47",
       "option --readout needs the total readout time in seconds"},
      // Regression: a value that is no direction exited with 1, as a failed run.
      {quoted("a.nii") + " " + quoted("b.nii") + " --pe0 y-",
       "option --pe0 needs a phase-encoding direction (i, i-, j or j-), not 'y-'"},
      {quoted("A.FMR") + " " + quoted("b.fmr"),
       file("A.FMR") + ": an FMR project's name must end in .fmr (lower case)"},
  };
  for (const auto& [arguments, message] : cases) {
    const DaxoRun run = runDaxo("estimate " + arguments);
    EXPECT_EQ(run.status, 2) << arguments;
    EXPECT_NE(run.err.find("daxo: estimate: " + message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_FALSE(exists("a_vdm.map"));
}

TEST_F(EstimateCommand, ErrorsAndARunWithoutMapsExitWithOne) {
  const Dimensions d{24, 24, 12};
  daxo::testing::SyntheticPair pair = daxo::testing::syntheticPair(d, 2.0);
  daxo::testing::writeFmrProject(file("b.fmr"), d, {pair.second}, Voxels::Float32);

  const DaxoRun missing = runDaxo("estimate " + quoted("a.fmr") + " " + quoted("b.fmr"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("] Error: Failed opening for reading: " + file("a.fmr") + "\n"), std::string::npos)
      << missing.err;

  // A flat bright column that differs between the scans makes the fast
  // estimate divide by zero; the task itself reports no error.
  for (int32_t y = 0; y < d.y; ++y) {
    for (int32_t z = 0; z < d.z; ++z) {
      pair.first(3, y, z) = 700.0f;
      pair.second(3, y, z) = 900.0f;
    }
  }
  daxo::testing::writeFmrProject(file("a.fmr"), d, {pair.first}, Voxels::Float32);
  daxo::testing::writeFmrProject(file("b.fmr"), d, {pair.second}, Voxels::Float32);
  const DaxoRun stopped =
      runDaxo("estimate " + quoted("a.fmr") + " " + quoted("b.fmr") + " --method classic --fast --apply");
  EXPECT_EQ(stopped.status, 1);
  EXPECT_NE(stopped.out.find("] Not-a-number values detected."), std::string::npos) << stopped.out;
  EXPECT_NE(stopped.err.find("daxo: estimate: no maps were written"), std::string::npos) << stopped.err;
  EXPECT_FALSE(exists("a_vdm.map"));
  EXPECT_FALSE(exists("a_undist.fmr"));
}

// The estimation volume used to be taken as given (0 by default) whatever its
// b-value: a diffusion-weighted volume bent the map (0.68 voxel RMS at
// b = 2500). Without --volume0/1 the first volume with b <= 50 is used and
// named; a chosen volume above that is refused unless --force.
TEST_F(EstimateCommand, RegressionDiffusionProjectsEstimateFromAVolumeWithoutWeighting) {
  const daxo::testing::SyntheticPair pair = daxo::testing::syntheticPair(kTableSize, 2.0);
  writeDiffusion("a.dmr", {pair.first, pair.first, pair.first}, {1000.0f, 0.0f, 2500.0f});
  writeDiffusion("b.dmr", {pair.second, pair.second}, {5.0f, 1000.0f});
  const std::string pairArgs = quoted("a.dmr") + " " + quoted("b.dmr") + " --method classic --fast";

  const DaxoRun chosen = runDaxo("estimate " + pairArgs);
  EXPECT_EQ(chosen.status, 0) << chosen.err;
  EXPECT_NE(chosen.out.find("daxo: estimate: " + file("a.dmr") + ": using volume 1 (b = 0)\n"), std::string::npos)
      << chosen.out;
  EXPECT_NE(chosen.out.find("daxo: estimate: " + file("b.dmr") + ": using volume 0 (b = 5)\n"), std::string::npos);
  // Regression: --quiet left the note on standard output.
  const DaxoRun quiet = runDaxo("--quiet estimate " + pairArgs);
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out.find("using volume"), std::string::npos) << quiet.out;
  const std::string chosenMap = daxo::testing::readFile(file("a_vdm.map"));
  ASSERT_EQ(runDaxo("estimate " + pairArgs + " --volume0 1 --volume1 0").status, 0);
  EXPECT_EQ(daxo::testing::readFile(file("a_vdm.map")), chosenMap);

  std::filesystem::remove(file("a_vdm.map"));
  const DaxoRun weighted = runDaxo("estimate " + pairArgs + " --volume0 2");
  EXPECT_EQ(weighted.status, 1);
  EXPECT_NE(weighted.err.find("daxo: estimate: volume 2 of " + file("a.dmr") +
                              " has b = 2500; estimate from a "
                              "volume without diffusion weighting (b <= 50), or give --force"),
            std::string::npos)
      << weighted.err;
  EXPECT_FALSE(exists("a_vdm.map"));
  EXPECT_EQ(runDaxo("estimate " + pairArgs + " --volume0 2 --force").status, 0);

  // Regression: a copy of a header names the same data file; estimated as a
  // pair it gave a flat map that replaced the good one.
  std::filesystem::copy_file(file("a.dmr"), file("d.dmr"));
  const std::string good = daxo::testing::readFile(file("a_vdm.map"));
  const DaxoRun same = runDaxo("estimate " + quoted("a.dmr") + " " + quoted("d.dmr") + " --volume0 1 --volume1 1");
  EXPECT_EQ(same.status, 1);
  EXPECT_NE(
      same.err.find(file("a.dmr") + " and " + file("d.dmr") + " are the same scan (both headers name the data file "),
      std::string::npos)
      << same.err;
  EXPECT_EQ(daxo::testing::readFile(file("a_vdm.map")), good);

  writeDiffusion("c.dmr", {pair.second}, {800.0f});
  const DaxoRun none = runDaxo("estimate " + quoted("a.dmr") + " " + quoted("c.dmr") + " --method classic --fast");
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find(file("c.dmr") + " has no volume with b <= 50"), std::string::npos) << none.err;
}

}  // namespace
