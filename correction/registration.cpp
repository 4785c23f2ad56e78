#include "correction/registration.h"

#include <array>
#include <cstddef>
#include <stdexcept>

#include "correction/registrationgrid.h"
#include "correction/rigidmotion.h"
#include "volume/assertion.h"
#include "volume/linalg.h"
#include "volume/matrix.h"

// Gauss-Newton registration of a moving volume to a fixed one. Every point,
// gradient and Jacobian entry is single precision. Sums whose order matters:
//  - the cost: sum of squared residuals in point order, from 0, divided by the
//    point count;
//  - the normal matrix J^T J and the right-hand side J^T r: per element the sum
//    over the points in point order, starting with the first point's term,
//    as the column-major matrix product forms it. J is never stored: the sums
//    are accumulated point by point, which keeps exactly that order;
//  - dot products over the three axes in x, y, z order.

namespace daxo {

namespace {

constexpr const char* kModule = "registration";
// A run takes at most this many steps.
constexpr unsigned kStepLimit = 300;

// The Jacobian needs the gradient as three components of one value per point.
void checkGradientComponents(const SplineGradientSamples& s, size_t pointCount) {
  const std::array<const std::vector<float>*, 3> components = {&s.dx, &s.dy, &s.dz};
  size_t delivered = 0;
  for (const std::vector<float>* c : components) delivered += c->size() == pointCount ? 1 : 0;
  check(delivered == 3, kModule, 147, "vec.size() == 3");
}

// Turns the spline gradients (per voxel coordinate) into the gradients the
// Jacobian uses, in place: each component divided by the voxel size of its
// axis, which gives the gradient per mm (the points move in mm, and a voxel
// coordinate grows by 1 / s per mm), then the vector g replaced by A g, A
// being the upper-left 3 x 3 block of `inverseMotion` (the transpose of R up
// to rounding). The exact derivative of R p + t would use g unturned; A lies
// within the rotation angle of the identity, so the turn only alters the
// steps slightly and leaves the zero-residual solution of a matching pair
// where it is.
void transformGradients(SplineGradientSamples& s, const Float3& voxelSize, const Matrix4& inverseMotion) {
  float* dx = s.dx.data();
  float* dy = s.dy.data();
  float* dz = s.dz.data();
  const size_t count = s.dx.size();
  for (size_t i = 0; i < count; ++i) {
    const Float3 g = rotatePoint(inverseMotion, {dx[i] / voxelSize.x, dy[i] / voxelSize.y, dz[i] / voxelSize.z});
    dx[i] = g.x;
    dy[i] = g.y;
    dz[i] = g.z;
  }
}

// Writes residual = reference - moving and returns the mean of its squares
// (NaN for no points).
float meanSquaredResidual(const std::vector<float>& reference, const std::vector<float>& moving,
                          std::vector<float>& residual) {
  const size_t count = reference.size();
  float sum = 0.0f;
  for (size_t i = 0; i < count; ++i) {
    const float r = reference[i] - moving[i];
    residual[i] = r;
    sum += r * r;
  }
  return sum / static_cast<float>(count);
}

// One row of J at point p (untransformed) with transformed gradient g: for the
// angles g . ((dR/dr_l) p), for the translations the components of g (the dot
// products with the unit vectors).
inline void jacobianRow(const Float3& p, const Float3& g, const std::array<Matrix4, 3>& dR, float j[6]) {
  for (int l = 0; l < 3; ++l) {
    const Float3 dq = rotatePoint(dR[static_cast<size_t>(l)], p);
    j[l] = g.x * dq.x + g.y * dq.y + g.z * dq.z;
  }
  j[3] = g.x;
  j[4] = g.y;
  j[5] = g.z;
}

struct NormalEquations {
  Matrix h;  // J^T J, 6 x 6
  Vector b;  // J^T r
};

// J^T J and J^T r without storing J; see the order of sums above. The matrix
// is symmetric by construction (a * b == b * a in floating point), so only
// its upper triangle is accumulated.
NormalEquations normalEquations(const std::vector<Float3>& points, const SplineGradientSamples& s,
                                const std::vector<float>& residual, const std::array<Matrix4, 3>& dR) {
  float h[6][6] = {};
  float b[6] = {};
  const size_t count = points.size();
  const Float3* p = points.data();
  const float* dx = s.dx.data();
  const float* dy = s.dy.data();
  const float* dz = s.dz.data();
  const float* r = residual.data();
  if (count > 0) {
    float j[6];
    jacobianRow(p[0], {dx[0], dy[0], dz[0]}, dR, j);
    for (int a = 0; a < 6; ++a) {
      for (int c = a; c < 6; ++c) h[a][c] = j[a] * j[c];
      b[a] = j[a] * r[0];
    }
  }
  for (size_t k = 1; k < count; ++k) {
    float j[6];
    jacobianRow(p[k], {dx[k], dy[k], dz[k]}, dR, j);
    for (int a = 0; a < 6; ++a) {
      for (int c = a; c < 6; ++c) h[a][c] += j[a] * j[c];
      b[a] += j[a] * r[k];
    }
  }
  NormalEquations eq{Matrix(6, 6), Vector(6)};
  for (int a = 0; a < 6; ++a) {
    for (int c = a; c < 6; ++c) eq.h(a, c) = eq.h(c, a) = h[a][c];
    eq.b[a] = b[a];
  }
  return eq;
}

}  // namespace

unsigned registerRigid(const Volume& fixed, const Float3& fixedExtent, const Volume& moving, const Float3& movingExtent,
                       const Dimensions& grid, Vector& parameters) {
  requireMotionParameters(parameters);
  const std::vector<Float3> points =
      pointsInsideMask(centredGrid(grid, fixedExtent), registrationMask(fixed, fixedExtent), fixedExtent);
  const size_t count = points.size();
  std::vector<float> reference(count);
  if (count > 0) bsplineSample(bsplineCoefficients(fixed), fixed.dimensions(), points, reference.data(), fixedExtent);
  const std::vector<double> coefficients = bsplineCoefficients(moving);
  const Float3 voxelSize = voxelSizeOf(moving.dimensions(), movingExtent);

  // Buffers reused by every iteration.
  std::vector<Float3> mapped(count);
  std::vector<float> residual(count);
  SplineGradientSamples samples;
  Vector step(6, 0.0f);

  unsigned n = 0;  // accepted steps
  float previousCost = 0.0f;
  for (;;) {
    const Matrix4 m = rigidMatrix(parameters);
    for (size_t k = 0; k < count; ++k) mapped[k] = rigidMap(m, points[k]);
    const std::array<Matrix4, 3> dR = rotationDerivatives(parameters);
    bsplineSampleGradient(coefficients, moving.dimensions(), mapped, movingExtent, samples);
    checkGradientComponents(samples, count);
    transformGradients(samples, voxelSize, inverse(m));
    const float cost = meanSquaredResidual(reference, samples.value, residual);

    // Stop when the cost fell by less than 1 or the step limit is reached; a
    // last step that raised the cost is taken back. A NaN cost (no points)
    // fails every comparison, so only the limit ends such a run.
    const float change = cost - previousCost;
    if ((n > 0 && change > -1.0f) || n >= kStepLimit) {
      if (change > 0.0f) {
        parameters -= step;
        --n;
      }
      return n;
    }
    previousCost = cost;

    NormalEquations eq = normalEquations(points, samples, residual, dR);
    if (!pseudoInverse(eq.h)) throw std::runtime_error("Matrix Inversion Failed!");
    step = eq.h * eq.b;
    parameters += step;
    ++n;
  }
}

Volume resampleRigid(const Volume& volume, const Float3& extent, const Vector& parameters) {
  requireMotionParameters(parameters);
  const Matrix4 m = rigidMatrix(parameters);
  std::vector<Float3> positions = centredGrid(volume.dimensions(), extent);
  for (Float3& p : positions) p = rigidMap(m, p);
  Volume out(volume.dimensions());
  if (!positions.empty())
    bsplineSample(bsplineCoefficients(volume), volume.dimensions(), positions, out.data(), extent);
  return out;
}

}  // namespace daxo
