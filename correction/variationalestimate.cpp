#include "correction/variationalestimate.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "correction/logentry.h"
#include "correction/noisefloor.h"
#include "correction/vdmfolds.h"

namespace daxo {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// An axis shorter than this keeps its extent on coarser levels.
constexpr int32_t kMinCoarsened = 8;

int32_t coarser(int32_t n) { return n >= kMinCoarsened ? (n + 1) / 2 : n; }

// One level's grid and the scans on it, in the column layout.
struct Level {
  ColumnGrid grid;
  std::vector<double> first, second;
};

// Cell values along one axis halved: cell j averages cells 2j and 2j + 1.
// Along PE a missing cell past an odd end counts as 0 (the scan is zero
// outside its field of view, so the signal's sum is kept); across PE the
// last cell is kept as it is.
std::vector<double> restrictCells(const std::vector<double>& f, const ColumnGrid& g, ColumnGrid& out) {
  out = ColumnGrid{coarser(g.m), coarser(g.nx), coarser(g.nz)};
  const bool pe = out.m != g.m, ax = out.nx != g.nx, az = out.nz != g.nz;
  std::vector<double> r(out.cells());
  const size_t m = static_cast<size_t>(g.m), om = static_cast<size_t>(out.m);
  for (int32_t z = 0; z < out.nz; ++z) {
    for (int32_t x = 0; x < out.nx; ++x) {
      double* dst = r.data() + (static_cast<size_t>(x) + static_cast<size_t>(out.nx) * static_cast<size_t>(z)) * om;
      std::fill(dst, dst + om, 0.0);
      const int32_t x0 = ax ? 2 * x : x, z0 = az ? 2 * z : z;
      const int32_t x1 = ax ? std::min(x0 + 1, g.nx - 1) : x0, z1 = az ? std::min(z0 + 1, g.nz - 1) : z0;
      const int32_t xs[2] = {x0, x1}, zs[2] = {z0, z1};
      for (int32_t a = 0; a < 2; ++a) {
        for (int32_t bIndex = 0; bIndex < 2; ++bIndex) {
          const double* src =
              f.data() + (static_cast<size_t>(xs[bIndex]) + static_cast<size_t>(g.nx) * static_cast<size_t>(zs[a])) * m;
          for (size_t j = 0; j < om; ++j) {
            double v;
            if (pe) {
              const double second = 2 * j + 1 < m ? src[2 * j + 1] : 0.0;
              v = 0.5 * (src[2 * j] + second);
            } else {
              v = src[j];
            }
            dst[j] += 0.25 * v;
          }
        }
      }
    }
  }
  return r;
}

// The fine level's faces from the coarse level's: linear interpolation along
// PE on the faces (fine face i at coarse face i / 2) and across PE on the
// centres (fine centre i at coarse centre (i - 0.5) / 2, held at the ends),
// in fine voxels.
std::vector<double> prolong(const std::vector<double>& coarse, const ColumnGrid& cg, const ColumnGrid& fg) {
  const size_t cf = static_cast<size_t>(cg.m + 1), ff = static_cast<size_t>(fg.m + 1);
  const bool pe = cg.m != fg.m;
  const double scale = pe ? 2.0 : 1.0;
  // Along PE, per coarse column.
  std::vector<double> a(cg.columns() * ff);
  for (size_t c = 0; c < cg.columns(); ++c) {
    const double* src = coarse.data() + c * cf;
    double* dst = a.data() + c * ff;
    for (size_t i = 0; i < ff; ++i) {
      if (!pe) {
        dst[i] = src[i];
      } else if (i % 2 == 0) {
        dst[i] = scale * src[i / 2];
      } else {
        dst[i] = scale * (0.5 * (src[i / 2] + src[i / 2 + 1]));
      }
    }
  }
  // Across PE: one axis at a time, whole columns weighted.
  const auto weights = [](int32_t fine, int32_t coarseCount, bool halved, int32_t& j0, int32_t& j1, double& w1) {
    if (!halved) {
      j0 = j1 = fine;
      w1 = 0.0;
      return;
    }
    j0 = fine / 2;
    j1 = fine % 2 == 0 ? j0 - 1 : j0 + 1;
    j1 = std::clamp(j1, 0, coarseCount - 1);
    w1 = 0.25;
  };
  std::vector<double> b(static_cast<size_t>(fg.nx) * static_cast<size_t>(cg.nz) * ff);
  for (int32_t z = 0; z < cg.nz; ++z) {
    for (int32_t x = 0; x < fg.nx; ++x) {
      int32_t j0, j1;
      double w1;
      weights(x, cg.nx, cg.nx != fg.nx, j0, j1, w1);
      const double* s0 = a.data() + (static_cast<size_t>(j0) + static_cast<size_t>(cg.nx) * z) * ff;
      const double* s1 = a.data() + (static_cast<size_t>(j1) + static_cast<size_t>(cg.nx) * z) * ff;
      double* dst = b.data() + (static_cast<size_t>(x) + static_cast<size_t>(fg.nx) * z) * ff;
      for (size_t k = 0; k < ff; ++k) dst[k] = (1.0 - w1) * s0[k] + w1 * s1[k];
    }
  }
  std::vector<double> out(fg.faces());
  for (int32_t z = 0; z < fg.nz; ++z) {
    int32_t j0, j1;
    double w1;
    weights(z, cg.nz, cg.nz != fg.nz, j0, j1, w1);
    for (int32_t x = 0; x < fg.nx; ++x) {
      const double* s0 = b.data() + (static_cast<size_t>(x) + static_cast<size_t>(fg.nx) * j0) * ff;
      const double* s1 = b.data() + (static_cast<size_t>(x) + static_cast<size_t>(fg.nx) * j1) * ff;
      double* dst = out.data() + (static_cast<size_t>(x) + static_cast<size_t>(fg.nx) * z) * ff;
      for (size_t k = 0; k < ff; ++k) dst[k] = (1.0 - w1) * s0[k] + w1 * s1[k];
    }
  }
  return out;
}

// The volume in the column layout (y contiguous), times `scale`.
std::vector<double> toColumns(const Volume& v, double scale) {
  const int32_t nx = v.nx(), ny = v.ny(), nz = v.nz();
  std::vector<double> out(v.voxelCount());
  for (int32_t z = 0; z < nz; ++z)
    for (int32_t y = 0; y < ny; ++y)
      for (int32_t x = 0; x < nx; ++x)
        out[(static_cast<size_t>(x) + static_cast<size_t>(nx) * z) * ny + y] = scale * v(x, y, z);
  return out;
}

// Face values from a map at the voxel centres: the mean of the two centres
// beside each inner face, the end centre's value at the two outer faces; the
// whole start scaled down where needed so that no |D b| reaches 0.95 (the
// line search needs a start that does not fold).
std::vector<double> startFaces(const Volume& map, const ColumnGrid& g) {
  const std::vector<double> centres = toColumns(map, 1.0);
  const size_t m = static_cast<size_t>(g.m), faces = m + 1;
  std::vector<double> b(g.faces());
  for (size_t c = 0; c < g.columns(); ++c) {
    const double* src = centres.data() + c * m;
    double* dst = b.data() + c * faces;
    dst[0] = src[0];
    dst[m] = src[m - 1];
    for (size_t k = 1; k < m; ++k) dst[k] = 0.5 * (src[k - 1] + src[k]);
  }
  double steepest = 0.0;
  for (size_t c = 0; c < g.columns(); ++c)
    for (size_t k = 0; k < m; ++k) steepest = std::max(steepest, std::fabs(b[c * faces + k + 1] - b[c * faces + k]));
  if (steepest >= 0.95)
    for (double& v : b) v *= 0.94 / steepest;
  return b;
}

// (a + b) / 2 per voxel, the same for b and a.
Volume meanOfPair(const Volume& a, const Volume& b) {
  Volume m(a.dimensions());
  for (size_t i = 0; i < a.voxelCount(); ++i) m.data()[i] = 0.5f * (a.data()[i] + b.data()[i]);
  return m;
}

double meanOf(const Volume& v) {
  double sum = 0.0;
  const float* p = v.data();
  for (size_t i = 0; i < v.voxelCount(); ++i) sum += p[i];
  return sum / static_cast<double>(v.voxelCount());
}

// 1 / mean, or 1 when the mean is not positive.
double meanScale(const Volume& v) {
  const double mean = meanOf(v);
  return mean > 0.0 ? 1.0 / mean : 1.0;
}

// The 99th percentile (nearest rank) of max(a, b) over all cells, or their
// maximum when that percentile is not positive.
double brightLevel(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> m(a.size());
  for (size_t i = 0; i < a.size(); ++i) m[i] = std::max(a[i], b[i]);
  const size_t rank = static_cast<size_t>(0.99 * static_cast<double>(m.size() - 1));
  std::nth_element(m.begin(), m.begin() + static_cast<std::ptrdiff_t>(rank), m.end());
  const double p = m[rank];
  if (p > 0.0) return p;
  return *std::max_element(m.begin(), m.end());
}

void checkInputs(const Volume& first, const Volume& second, const Volume* initial) {
  if (first.dimensions() != second.dimensions())
    throw std::invalid_argument("variational estimation: the two scans differ in extents");
  if (initial && initial->dimensions() != first.dimensions())
    throw std::invalid_argument("variational estimation: the start map differs from the scans in extents");
  if (first.voxelCount() == 0) throw std::invalid_argument("variational estimation: the scans are empty");
  for (const Volume* v : {&first, &second}) {
    const float* p = v->data();
    for (size_t i = 0; i < v->voxelCount(); ++i)
      if (!std::isfinite(p[i])) throw std::invalid_argument("variational estimation: the scans hold non-finite values");
  }
}

struct LevelReport {
  double startCost = 0, endCost = 0;
  int iterations = 0, cgIterations = 0;
  bool converged = false;  // a stopping test ended the iterations, not their cap
};

// Inexact Gauss-Newton on one level from b; b is replaced by the result.
LevelReport gaussNewton(VariationalProblem& problem, std::vector<double>& b, int maxIterations, int cgIterations,
                        double cgTolerance, double costTolerance) {
  LevelReport report;
  std::vector<double> gradient, rhs, step, trial(b.size());
  for (int iteration = 0; iteration < maxIterations; ++iteration) {
    const double cost = problem.linearise(b, gradient);
    if (iteration == 0) report.startCost = cost;
    report.endCost = cost;
    if (!std::isfinite(cost)) {
      report.converged = true;  // nothing more can be done from here
      break;
    }
    rhs.resize(gradient.size());
    for (size_t i = 0; i < gradient.size(); ++i) rhs[i] = -gradient[i];
    report.cgIterations += problem.solve(rhs, step, cgIterations, cgTolerance);
    double slope = problem.dot(gradient, step);
    if (slope > 0.0) {
      for (double& s : step) s = -s;
      slope = -slope;
    }
    if (!(slope < 0.0)) {
      report.converged = true;  // no descent direction left: a minimum
      break;
    }
    double t = 1.0, trialCost = cost;
    bool accepted = false;
    for (int halving = 0; halving < 10 && !accepted; ++halving, t *= 0.5) {
      for (size_t i = 0; i < b.size(); ++i) trial[i] = b[i] + t * step[i];
      if (!(problem.maxJacobianChange(trial) < 0.99)) continue;
      trialCost = problem.cost(trial);
      accepted = trialCost <= cost + 1e-4 * t * slope;
      if (accepted) break;
    }
    if (!accepted) {
      report.converged = true;  // no step lowers the cost any more
      break;
    }
    double largest = 0.0;
    for (double s : step) largest = std::max(largest, std::fabs(s));
    b.swap(trial);
    trial.resize(b.size());
    report.iterations = iteration + 1;
    report.endCost = trialCost;
    if (std::fabs(cost - trialCost) < costTolerance * std::fabs(cost) || t * largest < 1e-3) {
      report.converged = true;
      break;
    }
  }
  return report;
}

}  // namespace

namespace {

// The scans in the column layout, each divided by its mean and both by their
// bright level, and the coarser levels made from them; finest first. Empty
// when both scans hold no signal.
std::vector<Level> scaledLevels(const Volume& first, const Volume& second, int count) {
  std::vector<Level> levels(1);
  levels[0].grid = ColumnGrid{first.ny(), first.nx(), first.nz()};
  levels[0].first = toColumns(first, meanScale(first));
  levels[0].second = toColumns(second, meanScale(second));
  const double bright = brightLevel(levels[0].first, levels[0].second);
  if (!(bright > 0.0)) return {};
  for (double& v : levels[0].first) v /= bright;
  for (double& v : levels[0].second) v /= bright;
  for (int l = 1; l < count; ++l) {
    Level next;
    next.first = restrictCells(levels.back().first, levels.back().grid, next.grid);
    next.second = restrictCells(levels.back().second, levels.back().grid, next.grid);
    levels.push_back(std::move(next));
  }
  return levels;
}

// The curvature weights of level `index` (0 the finest): divided by 4 per
// coarser level, which keeps the continuous cost the same.
VariationalWeights levelWeights(const VariationalWeights& w, size_t index) {
  const double factor = std::pow(4.0, static_cast<double>(index));
  VariationalWeights scaled = w;
  scaled.curvature = w.curvature / factor;
  scaled.curvatureAcross = w.curvatureAcross / factor;
  scaled.mixedCurvature = w.mixedCurvature / factor;
  scaled.thirdAcross = w.thirdAcross / (factor * factor);  // a third difference halves once more per level
  // The same bend shows twice the second difference in coarse voxels.
  scaled.acrossKnee = w.acrossKnee * std::pow(2.0, static_cast<double>(index));
  return scaled;
}

// The map at the cell centres, in the volume's layout, from the faces:
// cubic interpolation from the four nearest faces (linear at the ends); the
// face average alone is off by d''/8 where the field bends.
Volume centreMap(const std::vector<double>& b, const ColumnGrid& g, const Dimensions& extents) {
  Volume v(extents);
  const size_t faces = static_cast<size_t>(g.m + 1);
  for (int32_t z = 0; z < g.nz; ++z)
    for (int32_t y = 0; y < g.m; ++y)
      for (int32_t x = 0; x < g.nx; ++x) {
        const double* bc = b.data() + (static_cast<size_t>(x) + static_cast<size_t>(g.nx) * z) * faces;
        const double value = y >= 1 && y + 2 <= g.m ? (9.0 * (bc[y] + bc[y + 1]) - (bc[y - 1] + bc[y + 2])) / 16.0
                                                    : 0.5 * (bc[y] + bc[y + 1]);
        v(x, y, z) = static_cast<float>(value);
      }
  return v;
}

}  // namespace

Volume estimateVariational(const Volume& first, const Volume& second, const VariationalSettings& settings,
                           std::ostream* log) {
  checkInputs(first, second, settings.initial);
  const Clock::time_point start = Clock::now();
  ColumnThreads pool(threadCount(settings.threads));
  double deviation1 = 0.0, deviation2 = 0.0;
  std::vector<Level> levels;
  if (settings.removeNoiseFloor) {
    // Both scans come from one acquisition and share its noise relative to
    // their signal; fine texture, which the distortion squeezes in one scan
    // and stretches in the other, adds to each measure, so the lesser
    // relative deviation is taken for both. The head is that of the pair's
    // mean: swapping the scans changes nothing.
    const Volume head = brightRegion(meanOfPair(first, second), 0.15);
    const double scale1 = meanScale(first), scale2 = meanScale(second);
    const double relative = std::min(highPassNoise(first, head) * scale1, highPassNoise(second, head) * scale2);
    deviation1 = relative / scale1;
    deviation2 = relative / scale2;
    levels = scaledLevels(withoutNoiseFloor(first, deviation1), withoutNoiseFloor(second, deviation2), settings.levels);
  } else {
    levels = scaledLevels(first, second, settings.levels);
  }
  if (levels.empty()) {
    logEntry(log, "Both scans are empty; the map is zero.");
    return Volume(first.dimensions(), 0.0f);
  }
  const VariationalWeights& w = settings.weights;
  std::ostringstream scaling;
  if (w.signalReference > 0.0)
    scaling << ", smoothing across PE times signal / " << w.signalReference << " (" << kLeastSignalScale << " to "
            << kGreatestSignalScale << ")";
  logEntry(log, "Variational estimation, ", levels.size(), " levels, curvature ", w.curvature, " along PE, ",
           w.curvatureAcross, " across (linear above ", w.acrossKnee, ") and ", w.mixedCurvature,
           " mixed, third differences ", w.thirdAcross, " across", scaling.str(), ", diffusion ", w.diffusion,
           ", barrier ", w.barrier, ", threads ", pool.count());
  if (settings.removeNoiseFloor)
    logEntry(log, "Noise floor removed: deviation ", deviation1, " in the first scan, ", deviation2, " in the second");
  std::vector<double> b;
  // Coarse to fine from a zero field, or the finest alone from the start map.
  for (size_t li = settings.initial ? 1 : levels.size(); li-- > 0;) {
    const Clock::time_point levelStart = Clock::now();
    const Level& level = levels[li];
    if (settings.initial) {
      b = startFaces(*settings.initial, level.grid);
    } else if (li + 1 == levels.size()) {
      b.assign(level.grid.faces(), 0.0);
    } else {
      b = prolong(b, levels[li + 1].grid, level.grid);
    }
    VariationalProblem problem(level.grid, level.first, level.second, levelWeights(w, li), pool);
    const bool finest = li == 0;
    const LevelReport report =
        gaussNewton(problem, b, finest ? settings.fineIterations : settings.coarseIterations, settings.cgIterations,
                    finest ? settings.fineCgTolerance : settings.cgTolerance, settings.costTolerance);
    logEntry(log, "Level ", levels.size() - li, " of ", levels.size(), " (", level.grid.nx, " x ", level.grid.m, " x ",
             level.grid.nz, "): cost ", report.startCost, " -> ", report.endCost, ", ", report.iterations,
             " iterations", report.converged ? "" : " (stopped at the cap, not converged)", ", ", report.cgIterations,
             " CG steps, ", secondsSince(levelStart), " s");
  }
  const Volume v = centreMap(b, levels[0].grid, first.dimensions());
  logEntry(log, "\nTime taken: ", secondsSince(start));
  logEntry(log, "Inverse consistency check VDM: ", countFolds(v) == 0 ? "PASSED" : "some inconsistencies found");
  return v;
}

}  // namespace daxo
