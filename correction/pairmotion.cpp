#include "correction/pairmotion.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "correction/bspline.h"
#include "correction/pairagreement.h"
#include "correction/registration.h"
#include "correction/vdm.h"
#include "volume/separablegauss.h"

namespace daxo {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadiansPerDegree = kPi / 180.0;
// Fewer sample points than this cannot pin six parameters against noise.
constexpr size_t kFewestPoints = 200;

using Matrix3 = std::array<std::array<double, 3>, 3>;  // [row][column]
using Point = std::array<double, 3>;

Matrix3 product(const Matrix3& a, const Matrix3& b) {
  Matrix3 c{};
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) c[r][k] = a[r][0] * b[0][k] + a[r][1] * b[1][k] + a[r][2] * b[2][k];
  return c;
}

Point rotated(const Matrix3& m, const Point& p) {
  return {m[0][0] * p[0] + m[0][1] * p[1] + m[0][2] * p[2], m[1][0] * p[0] + m[1][1] * p[1] + m[1][2] * p[2],
          m[2][0] * p[0] + m[2][1] * p[1] + m[2][2] * p[2]};
}

Matrix3 aboutX(double a) { return {{{1, 0, 0}, {0, std::cos(a), -std::sin(a)}, {0, std::sin(a), std::cos(a)}}}; }
Matrix3 aboutY(double a) { return {{{std::cos(a), 0, std::sin(a)}, {0, 1, 0}, {-std::sin(a), 0, std::cos(a)}}}; }
Matrix3 aboutZ(double a) { return {{{std::cos(a), -std::sin(a), 0}, {std::sin(a), std::cos(a), 0}, {0, 0, 1}}}; }

// d/da of the three turns.
Matrix3 aboutXDerivative(double a) {
  return {{{0, 0, 0}, {0, -std::sin(a), -std::cos(a)}, {0, std::cos(a), -std::sin(a)}}};
}
Matrix3 aboutYDerivative(double a) {
  return {{{-std::sin(a), 0, std::cos(a)}, {0, 0, 0}, {-std::cos(a), 0, -std::sin(a)}}};
}
Matrix3 aboutZDerivative(double a) {
  return {{{-std::sin(a), -std::cos(a), 0}, {std::cos(a), -std::sin(a), 0}, {0, 0, 0}}};
}

std::array<double, 3> radians(const RigidMotion& m) {
  return {m.rotationDegrees[0] * kRadiansPerDegree, m.rotationDegrees[1] * kRadiansPerDegree,
          m.rotationDegrees[2] * kRadiansPerDegree};
}

Matrix3 rotationOf(const RigidMotion& m) {
  const std::array<double, 3> r = radians(m);
  return product(aboutZ(r[2]), product(aboutY(r[1]), aboutX(r[0])));
}

// The turns of R = Rz(c) Ry(b) Rx(a), |b| < 90 degrees.
std::array<double, 3> anglesOf(const Matrix3& r) {
  const double b = std::asin(std::clamp(-r[2][0], -1.0, 1.0));
  const double a = std::atan2(r[2][1], r[2][2]);
  const double c = std::atan2(r[1][0], r[0][0]);
  return {a / kRadiansPerDegree, b / kRadiansPerDegree, c / kRadiansPerDegree};
}

Float3 extentOf(const Volume& v, const std::array<double, 3>& voxelMm) {
  return {static_cast<float>(v.nx() * voxelMm[0]), static_cast<float>(v.ny() * voxelMm[1]),
          static_cast<float>(v.nz() * voxelMm[2])};
}

Point centred(const Volume& v, const std::array<double, 3>& voxelMm, int32_t x, int32_t y, int32_t z) {
  return {(x - 0.5 * (v.nx() - 1)) * voxelMm[0], (y - 0.5 * (v.ny() - 1)) * voxelMm[1],
          (z - 0.5 * (v.nz() - 1)) * voxelMm[2]};
}

Float3 toFloat(const Point& p) {
  return {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])};
}

// Solves the 6 x 6 symmetric positive definite system h x = g (Cholesky);
// false when it is not positive definite.
bool solve6(std::array<std::array<double, 6>, 6> h, std::array<double, 6>& x) {
  for (int j = 0; j < 6; ++j) {
    double d = h[j][j];
    for (int k = 0; k < j; ++k) d -= h[j][k] * h[j][k];
    if (!(d > 0.0)) return false;
    h[j][j] = std::sqrt(d);
    for (int i = j + 1; i < 6; ++i) {
      double s = h[i][j];
      for (int k = 0; k < j; ++k) s -= h[i][k] * h[j][k];
      h[i][j] = s / h[j][j];
    }
  }
  for (int i = 0; i < 6; ++i) {
    double s = x[i];
    for (int k = 0; k < i; ++k) s -= h[i][k] * x[k];
    x[i] = s / h[i][i];
  }
  for (int i = 5; i >= 0; --i) {
    double s = x[i];
    for (int k = i + 1; k < 6; ++k) s -= h[k][i] * x[k];
    x[i] = s / h[i][i];
  }
  return true;
}

double meanInside(const Volume& v, const Volume& mask) {
  double sum = 0.0;
  size_t n = 0;
  for (size_t i = 0; i < v.voxelCount(); ++i)
    if (mask.data()[i] != 0.0f) {
      sum += v.data()[i];
      ++n;
    }
  return n ? sum / static_cast<double>(n) : 0.0;
}

// Aitken's extrapolation of three successive values of each parameter of a
// geometrically converging sequence; a parameter that does not converge that
// way keeps its last value.
RigidMotion extrapolated(const RigidMotion& a, const RigidMotion& b, const RigidMotion& c) {
  const auto limit = [](double x0, double x1, double x2) {
    const double d1 = x1 - x0, d2 = x2 - x1, curvature = d2 - d1;
    // Ratios d2 / d1 in (0, 0.9): steady convergence from one side.
    if (!(std::fabs(curvature) > 1e-12) || !(d1 * d2 > 0.0) || !(std::fabs(d2) < 0.9 * std::fabs(d1))) return x2;
    return x2 - d2 * d2 / curvature;
  };
  RigidMotion out;
  for (int i = 0; i < 3; ++i) {
    out.rotationDegrees[i] = limit(a.rotationDegrees[i], b.rotationDegrees[i], c.rotationDegrees[i]);
    out.translationMm[i] = limit(a.translationMm[i], b.translationMm[i], c.translationMm[i]);
  }
  return out;
}

}  // namespace

std::array<double, 3> RigidMotion::map(const std::array<double, 3>& p) const {
  const Point q = rotated(rotationOf(*this), p);
  return {q[0] + translationMm[0], q[1] + translationMm[1], q[2] + translationMm[2]};
}

double RigidMotion::largestTurn() const {
  return std::max({std::fabs(rotationDegrees[0]), std::fabs(rotationDegrees[1]), std::fabs(rotationDegrees[2])});
}

double RigidMotion::largestShift() const {
  return std::max({std::fabs(translationMm[0]), std::fabs(translationMm[1]), std::fabs(translationMm[2])});
}

RigidMotion composedMotion(const RigidMotion& first, const RigidMotion& second) {
  const Matrix3 r = rotationOf(first);
  const Point shifted = rotated(r, second.translationMm);
  RigidMotion out;
  out.rotationDegrees = anglesOf(product(r, rotationOf(second)));
  for (int i = 0; i < 3; ++i) out.translationMm[i] = shifted[i] + first.translationMm[i];
  return out;
}

RigidMotion swappedXY(const RigidMotion& m) {
  const Matrix3 r = rotationOf(m);
  Matrix3 t{};
  const int p[3] = {1, 0, 2};
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) t[i][k] = r[p[i]][p[k]];
  RigidMotion out;
  out.rotationDegrees = anglesOf(t);
  out.translationMm = {m.translationMm[1], m.translationMm[0], m.translationMm[2]};
  return out;
}

RigidMotion inverseMotion(const RigidMotion& m) {
  const Matrix3 r = rotationOf(m);
  Matrix3 t{};
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) t[i][k] = r[k][i];
  const Point back = rotated(t, m.translationMm);
  RigidMotion out;
  out.rotationDegrees = anglesOf(t);
  out.translationMm = {-back[0], -back[1], -back[2]};
  return out;
}

Volume movedSecondScan(const Volume& second, const std::array<double, 3>& voxelSizeMm, const RigidMotion& motion,
                       const Volume* map) {
  const Matrix3 r = rotationOf(motion);
  // R e_y - e_y, per voxel of the map along y.
  const Point tilt{r[0][1] * voxelSizeMm[1], (r[1][1] - 1.0) * voxelSizeMm[1], r[2][1] * voxelSizeMm[1]};
  std::vector<Float3> points;
  points.reserve(second.voxelCount());
  for (int32_t z = 0; z < second.nz(); ++z)
    for (int32_t y = 0; y < second.ny(); ++y)
      for (int32_t x = 0; x < second.nx(); ++x) {
        const Point q = rotated(r, centred(second, voxelSizeMm, x, y, z));
        const double d = map ? (*map)(x, y, z) : 0.0;
        points.push_back(
            toFloat({q[0] + motion.translationMm[0] + d * tilt[0], q[1] + motion.translationMm[1] + d * tilt[1],
                     q[2] + motion.translationMm[2] + d * tilt[2]}));
      }
  Volume out(second.dimensions());
  bsplineSample(bsplineCoefficients(second), second.dimensions(), points, out.data(), extentOf(second, voxelSizeMm));
  return out;
}

Volume movedBy(const Volume& volume, const std::array<double, 3>& voxelSizeMm, const RigidMotion& motion) {
  return movedSecondScan(volume, voxelSizeMm, motion, nullptr);
}

RigidMotion registerRigidPair(const Volume& fixed, const Volume& moving, const Volume& mask,
                              const std::array<double, 3>& voxelSizeMm, const RigidMotion& start,
                              bool holdShiftAlongY) {
  std::vector<Point> points;
  std::vector<double> reference;
  for (int32_t z = 0; z < fixed.nz(); z += 2)
    for (int32_t y = 0; y < fixed.ny(); y += 2)
      for (int32_t x = 0; x < fixed.nx(); x += 2)
        if (mask(x, y, z) != 0.0f) {
          points.push_back(centred(fixed, voxelSizeMm, x, y, z));
          reference.push_back(fixed(x, y, z));
        }
  RigidMotion motion = start;
  if (points.size() < kFewestPoints) return motion;
  const std::vector<double> coefficients = bsplineCoefficients(moving);
  const Float3 extent = extentOf(moving, voxelSizeMm);
  std::vector<Float3> mapped(points.size());
  std::vector<uint8_t> inside(points.size(), 1);
  SplineGradientSamples samples;
  // A point counts while its image lies 1.5 voxels or more inside the moving
  // volume: past its edge the spline is 0, and the part of the head that
  // moved out of the field of view would pull the motion back.
  const Point limit{0.5 * extent.x - 1.5 * voxelSizeMm[0], 0.5 * extent.y - 1.5 * voxelSizeMm[1],
                    0.5 * extent.z - 1.5 * voxelSizeMm[2]};

  // The cost and, when asked, the normal equations at `m`; the points that
  // count are chosen with the normal equations, and the cost of a trial is
  // taken over the same points.
  std::array<std::array<double, 6>, 6> h{};
  std::array<double, 6> g{};
  const auto evaluate = [&](const RigidMotion& m, bool equations) {
    const std::array<double, 3> a = radians(m);
    const Matrix3 rx = aboutX(a[0]), ry = aboutY(a[1]), rz = aboutZ(a[2]);
    const Matrix3 r = product(rz, product(ry, rx));
    const Matrix3 d0 = product(rz, product(ry, aboutXDerivative(a[0])));
    const Matrix3 d1 = product(rz, product(aboutYDerivative(a[1]), rx));
    const Matrix3 d2 = product(aboutZDerivative(a[2]), product(ry, rx));
    for (size_t k = 0; k < points.size(); ++k) {
      const Point q = rotated(r, points[k]);
      mapped[k] = toFloat({q[0] + m.translationMm[0], q[1] + m.translationMm[1], q[2] + m.translationMm[2]});
    }
    bsplineSampleGradient(coefficients, moving.dimensions(), mapped, extent, samples);
    double cost = 0.0;
    if (equations) {
      h = {};
      g = {};
      for (size_t k = 0; k < points.size(); ++k)
        inside[k] = std::fabs(mapped[k].x) <= limit[0] && std::fabs(mapped[k].y) <= limit[1] &&
                    std::fabs(mapped[k].z) <= limit[2];
    }
    for (size_t k = 0; k < points.size(); ++k) {
      if (!inside[k]) continue;
      const double residual = samples.value[k] - reference[k];
      cost += residual * residual;
      if (!equations) continue;
      // The gradient in mm (the spline's is per voxel).
      const Point grad{samples.dx[k] / voxelSizeMm[0], samples.dy[k] / voxelSizeMm[1], samples.dz[k] / voxelSizeMm[2]};
      const Point e0 = rotated(d0, points[k]), e1 = rotated(d1, points[k]), e2 = rotated(d2, points[k]);
      const auto dot = [&](const Point& e) { return grad[0] * e[0] + grad[1] * e[1] + grad[2] * e[2]; };
      // Per radian for the turns, per mm for the shifts.
      const double j[6] = {dot(e0), dot(e1), dot(e2), grad[0], grad[1], grad[2]};
      for (int u = 0; u < 6; ++u) {
        g[u] -= j[u] * residual;
        for (int v = 0; v <= u; ++v) h[u][v] += j[u] * j[v];
      }
    }
    if (equations) {
      for (int u = 0; u < 6; ++u)
        for (int v = u + 1; v < 6; ++v) h[u][v] = h[v][u];
      if (holdShiftAlongY) {
        for (int u = 0; u < 6; ++u) h[4][u] = h[u][4] = 0.0;
        h[4][4] = 1.0;
        g[4] = 0.0;
      }
    }
    return cost;
  };

  double cost = evaluate(motion, true);
  double damping = 1e-3;
  for (int iteration = 0; iteration < 50; ++iteration) {
    std::array<std::array<double, 6>, 6> damped = h;
    for (int u = 0; u < 6; ++u) damped[u][u] *= 1.0 + damping;
    std::array<double, 6> step = g;
    if (!solve6(damped, step)) break;
    RigidMotion trial = motion;
    for (int i = 0; i < 3; ++i) {
      trial.rotationDegrees[i] += step[i] / kRadiansPerDegree;
      trial.translationMm[i] += step[3 + i];
    }
    const double trialCost = evaluate(trial, false);
    if (trialCost < cost) {
      const double turn = std::max({std::fabs(step[0]), std::fabs(step[1]), std::fabs(step[2])}) / kRadiansPerDegree;
      const double shift = std::max({std::fabs(step[3]), std::fabs(step[4]), std::fabs(step[5])});
      motion = trial;
      cost = evaluate(motion, true);
      damping = std::max(damping * 0.3, 1e-6);
      if (turn < 1e-4 && shift < 1e-4) break;
    } else {
      damping *= 10.0;
      if (damping > 1e6) break;
    }
  }
  return motion;
}

void correctPair(const Volume& first, const Volume& second, const Volume& map, Volume& firstOut, Volume& secondOut) {
  firstOut = Volume(first.dimensions());
  secondOut = Volume(second.dimensions());
  warpCubic(firstOut, first, map, false);
  warpCubic(secondOut, second, map, true);
  const Volume slope = derivativeY(map);
  for (size_t i = 0; i < map.voxelCount(); ++i) {
    firstOut.data()[i] *= 1.0f + slope.data()[i];
    secondOut.data()[i] *= 1.0f - slope.data()[i];
  }
}

namespace {

bool counted(const RigidMotion& m, const MotionSettings& s) {
  return !(m.largestTurn() < s.smallestTurn && m.largestShift() < s.smallestShift);
}

// The registration step of one round: the pair corrected by `map` (the
// second moved already), the second at the first's intensity, both smoothed.
RigidMotion registrationStep(const Volume& first, const Volume& moved, const Volume& map,
                             const std::array<double, 3>& voxelSizeMm, const MotionSettings& settings) {
  Volume a, b;
  correctPair(first, moved, map, a, b);
  const Volume mask = pairHeadMask(a, a);
  // A brighter second scan must not pull the registration.
  const double ma = meanInside(a, mask), mb = meanInside(b, mask);
  if (ma > 0.0 && mb > 0.0) b *= static_cast<float>(ma / mb);
  return registerRigidPair(gaussianSmoothed(a, settings.registrationSigma),
                           gaussianSmoothed(b, settings.registrationSigma), mask, voxelSizeMm, {}, true);
}

// Each axis of 8 voxels or more halved: voxel j the mean of voxels 2j and
// 2j + 1 (the last alone at an odd end).
Volume halved(const Volume& v, std::array<double, 3>& voxelSizeMm) {
  const Dimensions e = v.dimensions();
  const auto count = [](int32_t n) { return n >= 8 ? (n + 1) / 2 : n; };
  const Dimensions h{count(e.x), count(e.y), count(e.z)};
  const int32_t fx = h.x == e.x ? 1 : 2, fy = h.y == e.y ? 1 : 2, fz = h.z == e.z ? 1 : 2;
  voxelSizeMm = {voxelSizeMm[0] * fx, voxelSizeMm[1] * fy, voxelSizeMm[2] * fz};
  Volume out(h);
  for (int32_t z = 0; z < h.z; ++z)
    for (int32_t y = 0; y < h.y; ++y)
      for (int32_t x = 0; x < h.x; ++x) {
        double sum = 0.0;
        int n = 0;
        for (int32_t k = z * fz; k < std::min(e.z, z * fz + fz); ++k)
          for (int32_t j = y * fy; j < std::min(e.y, y * fy + fy); ++j)
            for (int32_t i = x * fx; i < std::min(e.x, x * fx + fx); ++i) {
              sum += v(i, j, k);
              ++n;
            }
        out(x, y, z) = static_cast<float>(sum / n);
      }
  return out;
}

// The motion from the rounds on a pair: map, then registration, repeated,
// every third round extrapolated; `map` holds the last map.
// `map` holds the start's map on entry (null motion: the pair's own map) and
// the last map on return; a null `start` begins with a registration.
RigidMotion searchMotion(const Volume& first, const Volume& second, const std::array<double, 3>& voxelSizeMm,
                         const VariationalSettings& settings, const MotionSettings& motionSettings,
                         const RigidMotion& start, Volume& map, int& rounds) {
  RigidMotion motion = start;
  const bool still = !counted(start, motionSettings);
  std::vector<RigidMotion> history{motion};
  for (int round = 1; round <= motionSettings.rounds; ++round) {
    rounds += 1;
    const Volume moved = round == 1 && still ? second : movedSecondScan(second, voxelSizeMm, motion, &map);
    if (round > 1 || !still) {
      VariationalSettings warm = settings;
      const Volume start = map;
      warm.initial = &start;
      warm.fineIterations = std::min(settings.fineIterations, motionSettings.roundIterations);
      map = estimateVariational(first, moved, warm, nullptr);
    }
    const RigidMotion step = registrationStep(first, moved, map, voxelSizeMm, motionSettings);
    motion = composedMotion(motion, step);
    // The map, estimated with the motion not yet undone, took up part of it
    // (about half: structures offset across y look shifted along y at
    // oblique edges, and the map moves each scan halfway), so the rounds
    // close in on the motion geometrically; every third round extrapolates
    // each parameter to its limit (Aitken).
    history.push_back(motion);
    if (history.size() == 3) {
      motion = extrapolated(history[0], history[1], history[2]);
      history.assign(1, motion);
    }
    const bool settled = step.largestTurn() < 0.2 * motionSettings.smallestTurn &&
                         step.largestShift() < 0.2 * motionSettings.smallestShift;
    if (settled || (round == 1 && still && !counted(motion, motionSettings))) break;
  }
  return motion;
}

// The estimation during the search: the map kept stiffer across PE than the
// final one. A map free to bend from column to column takes up part of a
// shift or turn across PE (the scans' edges offset across y fit as local
// shifts along it), and the rounds would stop short of the motion. The
// search compares the scans as they are, noise floor and all, as the
// registration does: with the floor removed, the rounds found a turn of 2
// degrees 0.11 degree off on the truth pair of the tests (0.1 allowed). It
// also compares the scans' Jacobian-weighted samples, as the registration
// samples the moved scan, not their cells' masses: with the masses that turn
// came out 0.29 degree off. And it iterates each map further: the motion
// is read from what the maps leave unexplained, and with the final maps'
// tolerance the rounds found that turn 0.12 degree off (0.1 allowed).
VariationalSettings searchSettings(const VariationalSettings& settings) {
  // Across PE: quadratic second differences and mixed ones, no third
  // differences.
  constexpr double kStiff = 1.6e-2;
  constexpr double kSearchTolerance = 3e-4;
  VariationalSettings search = settings;
  search.weights.curvatureAcross = kStiff;
  search.weights.acrossKnee = 0.0;
  search.weights.mixedCurvature = kStiff;
  search.weights.thirdAcross = 0.0;
  search.removeNoiseFloor = false;
  search.weights.cellMass = false;
  search.costTolerance = kSearchTolerance;
  return search;
}

}  // namespace

MotionAndMap estimateVariationalWithMotion(const Volume& first, const Volume& second,
                                           const std::array<double, 3>& voxelSizeMm,
                                           const VariationalSettings& settings, const MotionSettings& motionSettings,
                                           std::ostream* log) {
  MotionAndMap result;
  result.map = estimateVariational(first, second, settings, log);
  // Half of any motion is in that map (see searchMotion): twice the step.
  const RigidMotion first_step = registrationStep(first, second, result.map, voxelSizeMm, motionSettings);
  RigidMotion motion = composedMotion(first_step, first_step);
  result.rounds = 1;
  if (!counted(motion, motionSettings)) {
    return result;
  }
  // There is motion: the first step again, from the stiffer map of the search.
  const VariationalSettings search = searchSettings(settings);
  result.map = estimateVariational(first, second, search, nullptr);
  const RigidMotion stiffStep = registrationStep(first, second, result.map, voxelSizeMm, motionSettings);
  motion = composedMotion(stiffStep, stiffStep);
  // Most of the search on the pair at half resolution, where a round costs
  // an eighth, then rounds at full resolution from there.
  std::array<double, 3> coarseMm = voxelSizeMm, sameMm = voxelSizeMm;
  const Volume coarseFirst = halved(first, coarseMm), coarseSecond = halved(second, sameMm);
  VariationalSettings coarseSettings = search;
  coarseSettings.levels = std::max(1, settings.levels - 1);
  Volume coarseMap = estimateVariational(coarseFirst, movedSecondScan(coarseSecond, coarseMm, motion, nullptr),
                                         coarseSettings, nullptr);
  motion = searchMotion(coarseFirst, coarseSecond, coarseMm, coarseSettings, motionSettings, motion, coarseMap,
                        result.rounds);
  MotionSettings fine = motionSettings;
  fine.rounds = std::min(motionSettings.rounds, motionSettings.fullRounds);
  motion = searchMotion(first, second, voxelSizeMm, search, fine, motion, result.map, result.rounds);
  // The rounds' maps had few iterations: the last one to convergence.
  VariationalSettings warm = settings;
  const Volume start = result.map;
  warm.initial = &start;
  result.map = estimateVariational(first, movedSecondScan(second, voxelSizeMm, motion, &start), warm, log);
  result.motion = motion;
  result.moved = true;
  return result;
}

}  // namespace daxo
