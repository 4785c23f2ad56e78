// daxo estimate, run as a user runs it on projects the tests write, and in
// this process to see the dialog parameters it sets.
#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "demodata/accuracy.h"
#include "fileio/fmrheader.h"
#include "fileio/mapfile.h"
#include "host/daxo/command.h"
#include "host/daxo/commandtable.h"
#include "host/daxo/console.h"
#include "host/hoststate.h"
#include "tests/host/daxorun.h"
#include "tests/plugin/syntheticpair.h"
#include "tests/plugin/testprojects.h"
#include "tests/support/testfiles.h"

namespace {

using daxo::Dimensions;
using daxo::FMRHeader;
using daxo::host::hostState;
using daxo::testing::DaxoRun;
using daxo::testing::runDaxo;
using daxo::testing::shellQuoted;
using daxo::testing::Voxels;

class EstimateCommand : public daxo::testing::DaxoCommandTest {
 protected:
  // Runs `daxo estimate` in this process on the stand-in host, with the
  // plugin library loaded by path.
  int runInProcess(const std::vector<std::string>& args) {
    daxo::host::resetHostState();
    daxo::cli::GlobalOptions options;
    options.pluginPath = DAXO_PLUGIN_PATH;
    options.quiet = true;
    daxo::cli::Console console(options, out, err);
    daxo::cli::CommandContext context{args, options, console};
    return daxo::cli::findCommand("estimate")->run(context);
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

  // A NaN voxel stops the classic estimation; the task itself reports no
  // error. The variational estimation refuses such scans as an error.
  pair.first(5, 5, 5) = std::numeric_limits<float>::quiet_NaN();
  daxo::testing::writeFmrProject(file("a.fmr"), d, {pair.first}, Voxels::Float32);
  const DaxoRun refused = runDaxo("estimate " + quoted("a.fmr") + " " + quoted("b.fmr") + " --apply");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("] Error: variational estimation: the scans hold non-finite values\n"), std::string::npos)
      << refused.err;
  EXPECT_FALSE(exists("a_vdm.map"));
  const DaxoRun stopped = runDaxo("estimate " + quoted("a.fmr") + " " + quoted("b.fmr") + " --apply --method classic");
  EXPECT_EQ(stopped.status, 1);
  EXPECT_NE(stopped.out.find("] Not-a-number values detected."), std::string::npos) << stopped.out;
  EXPECT_NE(stopped.err.find("daxo: estimate: no maps were written"), std::string::npos) << stopped.err;
  EXPECT_FALSE(exists("a_vdm.map"));
  EXPECT_FALSE(exists("a_undist.fmr"));
}

}  // namespace
