// The variational estimator: truth recovery on pairs made with a
// voxel-integrating forward model, the discrete problem's gradient and solver
// against finite differences and a direct solve, and its invariances.
#include "correction/variationalestimate.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "correction/variationalproblem.h"
#include "demodata/accuracy.h"
#include "demodata/columnmass.h"
#include "demodata/truthpair.h"
#include "testsupport/realanatomy.h"
#include "testsupport/volumes.h"
#include "volume/columnthreads.h"

namespace {

using daxo::ColumnGrid;
using daxo::ColumnThreads;
using daxo::FieldBump;
using daxo::TruthPair;
using daxo::TruthPairRecipe;
using daxo::VariationalProblem;
using daxo::VariationalSettings;
using daxo::VariationalWeights;
using daxo::Volume;

// A bump of `amplitude` voxels whose steepest slope along y is `slope`,
// anterior in the half-size head (48 x 48 x 24).
FieldBump bump(double amplitude, double slope, double cy) {
  return FieldBump{amplitude, 23.5, cy, 9.0, 9.0, std::fabs(amplitude) * std::exp(-0.5) / slope, 6.0};
}

TruthPairRecipe withBumps(std::vector<FieldBump> bumps) {
  TruthPairRecipe s;
  s.bumps = std::move(bumps);
  return s;
}

struct TruthCase {
  const char* name;
  TruthPairRecipe setup;
  double rms, percentile95;  // bounds: the measured error plus about 25 %
};

std::vector<TruthCase> truthCases() {
  std::vector<TruthCase> cases;
  cases.push_back({"7-voxel bump, slope 0.63", withBumps({bump(7, 0.63, 16)}), 0.026, 0.049});
  cases.push_back({"7-voxel bump, slope 0.85", withBumps({bump(7, 0.85, 16)}), 0.032, 0.059});
  TruthPairRecipe two = withBumps({FieldBump{5, 23.5, 14, 8, 8, 5, 5}, FieldBump{-4, 10, 26, 7, 6, 6, 5}});
  two.slopeY = 0.02;
  cases.push_back({"two bumps of opposite sign and a gradient", two, 0.025, 0.048});
  TruthPairRecipe odd = withBumps({bump(6, 0.7, 17)});
  odd.extents = {47, 49, 23};
  cases.push_back({"odd extents", odd, 0.028, 0.054});
  TruthPairRecipe edge = withBumps({bump(5, 0.6, 10)});
  edge.objectShiftY = -5;
  cases.push_back({"head past the edge along PE", edge, 0.023, 0.044});
  TruthPairRecipe noisy = withBumps({bump(7, 0.85, 16)});
  noisy.noise *= 2;
  cases.push_back({"doubled noise", noisy, 0.039, 0.073});
  TruthPairRecipe scaled = withBumps({bump(7, 0.85, 16)});
  scaled.secondScale = 1.2;
  cases.push_back({"second scan 20 % brighter", scaled, 0.032, 0.059});
  return cases;
}

VariationalSettings withThreads(int threads) {
  VariationalSettings s;
  s.threads = threads;
  return s;
}

TEST(VariationalEstimate, RecoversTheTrueFieldFromAZeroStart) {
  for (const TruthCase& c : truthCases()) {
    SCOPED_TRACE(c.name);
    const TruthPair pair = daxo::makeTruthPair(c.setup);
    const Volume v = daxo::estimateVariational(pair.first, pair.second, withThreads(2), nullptr);
    const daxo::DisplacementError e = daxo::displacementError(v, pair.truth, pair.mask);
    EXPECT_LT(e.rms, c.rms);
    EXPECT_LT(e.percentile95, c.percentile95);
  }
}

// The result is the same for any number of threads, and swapping the scans
// negates it exactly (the cost is symmetric under d -> -d with the scans
// swapped, and every operation keeps that bit for bit).
TEST(VariationalEstimate, ThreadCountAndSwappedScans) {
  TruthPairRecipe setup = withBumps({bump(7, 0.85, 16)});
  setup.extents = {32, 40, 12};
  setup.noise *= 2;
  const TruthPair pair = daxo::makeTruthPair(setup);
  const Volume one = daxo::estimateVariational(pair.first, pair.second, withThreads(1), nullptr);
  const Volume two = daxo::estimateVariational(pair.first, pair.second, withThreads(2), nullptr);
  const Volume three = daxo::estimateVariational(pair.first, pair.second, withThreads(3), nullptr);
  EXPECT_TRUE(daxo::testing::identicalBytes(one, two));
  EXPECT_TRUE(daxo::testing::identicalBytes(one, three));
  const Volume swapped = daxo::estimateVariational(pair.second, pair.first, withThreads(2), nullptr);
  size_t differing = 0;
  for (size_t i = 0; i < one.voxelCount(); ++i) differing += swapped.data()[i] != -one.data()[i];
  EXPECT_EQ(differing, 0u);
}

// Real anatomy with real fields (testsupport/realanatomy.h), at the real
// scans' noise: the accuracy the users' scans get. Bounds: the measured error
// plus about 25 %.
TEST(VariationalEstimate, RecoversRealFieldsOnRealAnatomy) {
  daxo::testing::RealAnatomyOptions options;
  options.large = false;
  const std::vector<daxo::testing::RealAnatomyCase> cases = daxo::testing::realAnatomyCases(options);
  if (cases.empty()) GTEST_SKIP() << "no real scans in " << daxo::testing::sharedDataFolder();
  const double rms[] = {0.045, 0.0145, 0.023, 0.060}, p95[] = {0.094, 0.029, 0.046, 0.129};
  ASSERT_EQ(cases.size(), std::size(rms));
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    const TruthPair& pair = cases[i].pair;
    const Volume v = daxo::estimateVariational(pair.first, pair.second, withThreads(2), nullptr);
    const daxo::DisplacementError e = daxo::displacementError(v, pair.truth, pair.mask);
    EXPECT_LT(e.rms, rms[i]);
    EXPECT_LT(e.percentile95, p95[i]);
  }
}

TEST(VariationalEstimate, RefusesPairsItCannotCompare) {
  const Volume a(8, 8, 4, 1.0f), b(8, 9, 4, 1.0f);
  EXPECT_THROW(daxo::estimateVariational(a, b, {}, nullptr), std::invalid_argument);
  Volume c(8, 8, 4, 1.0f);
  c(3, 3, 1) = std::numeric_limits<float>::quiet_NaN();
  EXPECT_THROW(daxo::estimateVariational(a, c, {}, nullptr), std::invalid_argument);
  VariationalSettings startingElsewhere;
  startingElsewhere.initial = &b;
  EXPECT_THROW(daxo::estimateVariational(a, a, startingElsewhere, nullptr), std::invalid_argument);
}

// Extents too small to coarsen, or of a single voxel along an axis, still
// give a finite map of the scans' extents.
TEST(VariationalEstimate, TinyExtentsGiveFiniteMaps) {
  for (const daxo::Dimensions& d :
       {daxo::Dimensions{1, 1, 1}, daxo::Dimensions{3, 1, 2}, daxo::Dimensions{1, 9, 1}, daxo::Dimensions{2, 5, 3}}) {
    const Volume a = daxo::testing::randomVolume(d, 1, 100.0f, 200.0f);
    const Volume b = daxo::testing::randomVolume(d, 2, 100.0f, 200.0f);
    const Volume v = daxo::estimateVariational(a, b, withThreads(2), nullptr);
    ASSERT_EQ(v.dimensions(), d);
    for (size_t i = 0; i < v.voxelCount(); ++i) EXPECT_TRUE(std::isfinite(v.data()[i])) << d.x << d.y << d.z;
  }
  const Volume empty(4, 4, 2, 0.0f);
  const Volume zero = daxo::estimateVariational(empty, empty, withThreads(1), nullptr);
  for (size_t i = 0; i < zero.voxelCount(); ++i) EXPECT_EQ(zero.data()[i], 0.0f);
}

// A small problem with smooth random scans and a field that bends and
// stretches (|D b| up to 0.6).
class SmallProblem : public ::testing::Test {
 protected:
  static constexpr int32_t kM = 9;
  // 8 x 7 columns: some lie three or more from both ends of an axis, where
  // the third differences take their interior form.
  const ColumnGrid grid{kM, 8, 7};

  std::vector<double> scan(double phase) const {
    std::vector<double> s(grid.cells());
    for (size_t c = 0; c < grid.columns(); ++c)
      for (int32_t i = 0; i < kM; ++i)
        s[c * kM + static_cast<size_t>(i)] = 1.0 + 0.6 * std::sin(0.9 * i + phase + 0.7 * static_cast<double>(c));
    return s;
  }

  std::vector<double> field() const {
    std::vector<double> b(grid.faces());
    for (size_t k = 0; k < b.size(); ++k) b[k] = 0.8 * std::sin(0.5 * static_cast<double>(k)) + 0.1 * (k % 3);
    return b;
  }

  Eigen::MatrixXd assemble(const VariationalProblem& p, bool preconditioner) const {
    const size_t n = grid.faces();
    Eigen::MatrixXd m(n, n);
    std::vector<double> e(n, 0.0), out;
    for (size_t j = 0; j < n; ++j) {
      e[j] = 1.0;
      if (preconditioner)
        p.applyPreconditioner(e, out);
      else
        p.applyHessian(e, out);
      for (size_t i = 0; i < n; ++i) m(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)) = out[i];
      e[j] = 0.0;
    }
    return m;
  }

  // The defaults with every regulariser's weight large enough to matter
  // beside the data term.
  static VariationalWeights everyTerm() {
    VariationalWeights w;
    w.curvature = 0.05;
    w.curvatureAcross = 0.05;
    w.mixedCurvature = 0.05;
    w.thirdAcross = 0.05;
    w.acrossKnee = 0.3;       // the field's second differences across PE lie on both sides
    w.signalReference = 1.0;  // the scans' 0.4 .. 1.6: scales inside the limits
    w.diffusion = 0.01;
    return w;
  }

  ColumnThreads threads{2};
};

TEST_F(SmallProblem, GradientMatchesFiniteDifferencesOfTheCost) {
  for (const bool smoothed : {true, false})
    for (const bool mass : {true, false}) {
      SCOPED_TRACE(mass ? "masses" : "samples");
      VariationalWeights w = everyTerm();
      w.smoothResidual = smoothed;
      w.cellMass = mass;
      VariationalProblem p(grid, scan(0.0), scan(0.4), w, threads);
      const std::vector<double> b = field();
      ASSERT_LT(p.maxJacobianChange(b), 0.7);
      std::vector<double> gradient;
      const double cost = p.linearise(b, gradient);
      EXPECT_DOUBLE_EQ(p.cost(b), cost);
      double largest = 0.0;
      for (double g : gradient) largest = std::max(largest, std::fabs(g));
      const double h = 1e-6;
      for (size_t k = 0; k < b.size(); ++k) {
        std::vector<double> plus = b, minus = b;
        plus[k] += h;
        minus[k] -= h;
        const double numeric = (p.cost(plus) - p.cost(minus)) / (2 * h);
        EXPECT_NEAR(gradient[k], numeric, 1e-6 * largest) << "face " << k << (smoothed ? ", smoothed" : "");
      }
    }
}

TEST_F(SmallProblem, ConjugateGradientsReachTheDirectSolution) {
  VariationalProblem p(grid, scan(0.0), scan(0.4), everyTerm(), threads);
  std::vector<double> gradient;
  p.linearise(field(), gradient);
  const Eigen::MatrixXd h = assemble(p, false);
  EXPECT_LT((h - h.transpose()).cwiseAbs().maxCoeff(), 1e-12 * h.cwiseAbs().maxCoeff());
  const Eigen::LLT<Eigen::MatrixXd> cholesky(h);
  ASSERT_EQ(cholesky.info(), Eigen::Success) << "the Gauss-Newton matrix is not positive definite";

  const Eigen::VectorXd rhs = -Eigen::Map<const Eigen::VectorXd>(gradient.data(), gradient.size());
  const Eigen::VectorXd direct = cholesky.solve(rhs);
  std::vector<double> right(rhs.data(), rhs.data() + rhs.size()), x;
  const int iterations = p.solve(right, x, 1000, 1e-13);
  EXPECT_LT(iterations, 1000);
  const Eigen::VectorXd solved = Eigen::Map<const Eigen::VectorXd>(x.data(), x.size());
  EXPECT_LT((solved - direct).norm(), 1e-9 * direct.norm());

  // The preconditioner is symmetric positive definite.
  const Eigen::MatrixXd inverse = assemble(p, true);
  EXPECT_LT((inverse - inverse.transpose()).cwiseAbs().maxCoeff(), 1e-10 * inverse.cwiseAbs().maxCoeff());
  EXPECT_EQ(Eigen::LLT<Eigen::MatrixXd>(inverse).info(), Eigen::Success);
}

// A column distorted both ways by the voxel-integrating model: at the true
// map the scans' masses between the moved faces agree to the interpolation
// error of their smooth cumulative signal, while their Jacobian-weighted
// samples miss the signal that the map piles up within a voxel.
TEST(VariationalProblemColumn, MassesAgreeAtTheTrueMapOfTheIntegratingModel) {
  constexpr int32_t kM = 40;
  const auto density = [](double y) {
    const double u = (y - 19.5) / 12.0;
    return std::fabs(u) < 1.0 ? 100.0 * std::pow(1.0 - u * u, 3) : 0.0;
  };
  const auto field = [](double y) { return 1.5 + 0.04 * (y - 20.0) + 0.6 * std::sin(0.25 * y); };
  std::vector<float> up(kM), down(kM);
  daxo::distortColumnMass(density, field, kM, 8, 1.0, up.data(), 1);
  daxo::distortColumnMass(density, field, kM, 8, -1.0, down.data(), 1);
  const std::vector<double> first(up.begin(), up.end()), second(down.begin(), down.end());
  std::vector<double> truth(kM + 1);
  for (int32_t k = 0; k <= kM; ++k) truth[static_cast<size_t>(k)] = field(k - 0.5);
  ColumnThreads threads(1);
  double costs[2];
  for (const bool mass : {true, false}) {
    VariationalWeights w;
    w.curvature = w.curvatureAcross = w.mixedCurvature = w.thirdAcross = w.diffusion = w.barrier = 0.0;
    w.acrossKnee = 0.0;
    w.smoothResidual = false;
    w.cellMass = mass;
    const VariationalProblem p({kM, 1, 1}, first, second, w, threads);
    costs[mass] = p.cost(truth);
  }
  EXPECT_LT(costs[1], 0.1 * costs[0]) << costs[1] << " against " << costs[0];
}

// Without smoothing, curvature or a neighbour column the Gauss-Newton matrix
// is the tridiagonal block itself, which the preconditioner inverts exactly.
TEST(VariationalProblemColumn, PreconditionerInvertsTheTridiagonalBlock) {
  const ColumnGrid grid{12, 1, 1};
  std::vector<double> first(12), second(12), b(13);
  for (int i = 0; i < 12; ++i) {
    first[static_cast<size_t>(i)] = 1.0 + 0.5 * std::sin(0.8 * i);
    second[static_cast<size_t>(i)] = 1.0 + 0.5 * std::cos(0.6 * i);
  }
  for (int k = 0; k < 13; ++k) b[static_cast<size_t>(k)] = 0.3 * std::sin(0.4 * k);
  VariationalWeights w;
  w.curvature = 0;
  w.curvatureAcross = 0;
  w.smoothResidual = false;
  ColumnThreads threads(1);
  VariationalProblem p(grid, first, second, w, threads);
  std::vector<double> gradient;
  p.linearise(b, gradient);
  std::vector<double> e(13, 0.0), hx, back;
  for (size_t j = 0; j < 13; ++j) {
    e[j] = 1.0;
    p.applyHessian(e, hx);
    p.applyPreconditioner(hx, back);
    for (size_t i = 0; i < 13; ++i) EXPECT_NEAR(back[i], i == j ? 1.0 : 0.0, 1e-10) << i << ", " << j;
    e[j] = 0.0;
  }
}

}  // namespace
