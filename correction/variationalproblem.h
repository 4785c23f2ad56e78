#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "volume/columnthreads.h"

// The discrete problem that the variational estimator solves on one grid.
//
// Layout: the phase-encoding (PE) axis is contiguous. A grid has nx x nz
// columns of m cells along PE; column c = x + nx * z. Cell data (images,
// residuals) are stored at c * m + i, i = 0 .. m-1. The unknown b is
// face-staggered along PE: m + 1 values per column at c * (m + 1) + k, face k
// lying between cells k - 1 and k; across PE it sits at the cell centres.
// Units: voxels of this grid; intensities as the caller scaled them.
//
// The residual of cell i compares the two scans' signal in the cell. By
// default (cellMass) it is the difference of their masses between the cell's
// faces moved by b:
//   r_i = [C1(i + 1/2 + b_{i+1}) - C1(i - 1/2 + b_i)]
//         - [C2(i + 1/2 - b_{i+1}) - C2(i - 1/2 - b_i)],
// C the scan's cumulative signal along PE, exact at its voxel faces (a voxel
// holds the signal that the distortion moved into it), a cubic B-spline
// between them, 0 below the field of view and the column's total above.
// Otherwise, with A b the face average at a cell centre and D b the face
// difference,
//   r_i = I1(i + A b)(1 + D b) - I2(i - A b)(1 - D b),
// the two scans sampled and multiplied by their Jacobians; the images are
// cubic B-splines along PE, zero outside the field of view. The two agree to
// first order in the map's and the image's variation over a cell; sampling
// misses the signal that piles up or thins out inside a voxel, at the head's
// edge most. The cost is
//   J(b) = 1/2 |S (sqrt(w) r)|^2 + curvature/2 |K b|^2 + curvatureAcross/2 |K' b|^2
//          + mixedCurvature/2 |M b|^2 + thirdAcross/2 |T b|^2 + diffusion/2 |G b|^2
//          + barrier sum phi(D b),
// S the binomial filter along PE (or the identity, see smoothResidual), K the
// second differences along PE, K' those along x and z, M the mixed second
// differences of PE with x and of PE with z (between neighbouring columns and
// faces), T the third differences along x and z (windows of four columns),
// G the first differences along all three, phi(v) = v^4 / (1 - v^2), which keeps 1 +- D b
// positive (the map never folds). Each square of K' b and T b is weighted by
// the signal's scale there (see signalReference) and, for K' b, turns
// linear above a knee (see acrossKnee). The cell weights w are frozen at a
// linearisation point: 0 where a sample leaves the field of view, else
// 2 / ((1 + Db)^2 + (1 - Db)^2), the inverse of the residual's noise variance
// relative to an unwarped cell.
//
// Without S the Gauss-Newton matrix of the data and barrier terms is
// tridiagonal per column (with S banded, seven wide); the regulariser couples
// neighbouring columns. Every loop runs over columns (on `threads`, which must
// outlive the problem) and every sum is formed per column in double and then
// added in column order, so results do not depend on the thread count.
// Swapping I1 and I2 negates every result exactly.

namespace daxo {

struct ColumnGrid {
  int32_t m = 0;   // cells along PE
  int32_t nx = 0;  // columns along x
  int32_t nz = 0;  // columns along z

  size_t columns() const { return static_cast<size_t>(nx) * static_cast<size_t>(nz); }
  size_t cells() const { return columns() * static_cast<size_t>(m); }
  size_t faces() const { return columns() * static_cast<size_t>(m + 1); }
};

// The limits of the signal's scale of the smoothing across PE (see
// VariationalWeights::signalReference).
constexpr double kLeastSignalScale = 0.25, kGreatestSignalScale = 4.0;

// The defaults were chosen on truth pairs with real anatomy and real fields
// as well as on synthetic heads (bench_estimate).
struct VariationalWeights {
  double curvature = 4e-3;        // second differences along PE
  double curvatureAcross = 2e-2;  // second differences along x and z (see acrossKnee)
  // Mixed second differences of PE with x and z: they couple the slope along
  // PE of neighbouring columns. Noise in the scans' intensities shows as
  // noise in that slope (the Jacobian term), which, integrated along PE,
  // would leave streaks along PE a column or two wide.
  double mixedCurvature = 2.4e-2;
  double diffusion = 1e-5;  // first differences, every axis
  double barrier = 1e-4;    // weight of phi(D b)
  // Third differences along x and z. Real fields bend across PE on scales of
  // a few voxels, most near the sinuses, which a strong penalty on second
  // differences flattens; noise
  // in the columns' independent fits is rough on the scale of one voxel,
  // where third differences grow twice as fast as second ones. Most of the
  // smoothing across PE is therefore done here, and little by
  // curvatureAcross.
  double thirdAcross = 8e-3;
  // The second difference across PE (voxels) above which its penalty grows
  // linearly rather than quadratically (0: quadratic throughout). Noise in
  // the columns' independent fits bends the map across PE a little in every
  // column, which the quadratic part smooths away; the sharp bends of real
  // fields near the sinuses are far larger, and a quadratic penalty would
  // flatten them.
  double acrossKnee = 0.01;
  // The smoothing across PE (second and third differences) follows the
  // pair's signal: each difference weighs g = I / signalReference, limited
  // to kLeastSignalScale .. kGreatestSignalScale, I the mean of the two scans at the middle of the
  // difference (in the scaled intensities, where the brighter scan's 99th
  // percentile is 1). Where the signal is strong, each column's own fit
  // carries the scans' noise into the map, which needs the smoothing; where
  // it is weak (near the sinuses and at the head's edge, where real fields
  // bend most) a weaker smoothing lets the little signal there bend the map.
  // 0: the same weight everywhere.
  double signalReference = 0.25;
  // Compare the unwarped scans through the binomial filter [1 2 1] / 4 along
  // PE: the residual r becomes S r. The part of two scans' difference that
  // their voxel sampling aliases sits near the Nyquist frequency, which S
  // removes; a consistent pair keeps S r = 0.
  bool smoothResidual = true;
  // Compare the cells' masses (see above) rather than Jacobian-weighted
  // samples.
  bool cellMass = true;
};

class VariationalProblem {
 public:
  // first, second: the scans' cell values in the layout above (grid.cells()
  // each). Computes their B-spline coefficients.
  VariationalProblem(const ColumnGrid& grid, const std::vector<double>& first, const std::vector<double>& second,
                     const VariationalWeights& weights, ColumnThreads& threads);

  const ColumnGrid& grid() const { return grid_; }

  // Freezes the cell weights at b, stores the Gauss-Newton matrix and its
  // preconditioner there, writes the cost's gradient into gradient (resized)
  // and returns the cost. Infinite when some |D b| >= 1.
  double linearise(const std::vector<double>& b, std::vector<double>& gradient);

  // The cost at b with the frozen weights (infinite when some |D b| >= 1).
  double cost(const std::vector<double>& b) const;

  // out = H p, H the Gauss-Newton matrix at the last linearisation (the data
  // term's exactly, through S). out is resized; it must not be p.
  void applyHessian(const std::vector<double>& p, std::vector<double>& out) const;

  // z = M^-1 r: per column, the tridiagonal part of H's diagonal block
  // without S (the curvature's band two away from the diagonal moved onto it,
  // which keeps M positive definite) plus the diagonal of the coupling between
  // columns, solved by the Thomas algorithm.
  void applyPreconditioner(const std::vector<double>& r, std::vector<double>& z) const;

  // Preconditioned conjugate gradients for H x = rhs from x = 0, stopped
  // after maxIterations or when |residual| <= tolerance |rhs|, or when a
  // direction of non-positive curvature appears. Returns the iterations.
  int solve(const std::vector<double>& rhs, std::vector<double>& x, int maxIterations, double tolerance) const;

  // max |D b| over all cells.
  double maxJacobianChange(const std::vector<double>& b) const;

  // Fixed-order dot product.
  double dot(const std::vector<double>& a, const std::vector<double>& b) const;

 private:
  // Adds the regulariser's matrix times p to out, column c.
  void addRegulariser(const double* p, double* out, size_t c) const;
  // Adds thirdAcross * T^T H T p to out, column c (T: third differences along
  // x and z; H the windows' signal scales, or 1).
  void addThirdAcross(const double* p, double* out, size_t c) const;
  bool signalScaled() const { return weights_.signalReference > 0.0; }
  // Whether the second differences across PE carry weights of their own
  // (acrossWeight_): with a knee, or scaled by the signal.
  bool weightedAcross() const {
    return (weights_.acrossKnee > 0.0 || signalScaled()) && weights_.curvatureAcross != 0.0;
  }
  // Adds curvatureAcross * K'^T W K' p to out, column c, W the weights frozen
  // by the last linearisation.
  void addAcrossWeighted(const double* p, double* out, size_t c) const;
  // Calls visit(column, axis, centre) for each column whose second
  // difference along x (axis 0), then along z (axis 1), holds column c: the
  // interior columns within one of c, centre true for c itself.
  template <typename Visit>
  void eachBendNeighbour(size_t c, Visit visit) const;
  // Calls store(index, t) for every second difference t across PE of p, its
  // index in the layout of acrossWeight_, column by column on the threads.
  template <typename Store>
  void eachSecondDifferenceAcross(const double* p, Store store) const;
  // The weight of each second difference across PE at b (the knee's times
  // the signal's scale): per column, along x then along z, one per face (0
  // where the column is not interior, set once).
  void freezeAcrossWeights(const std::vector<double>& b);
  // Sets signalScale_ and thirdScale_ from the scans' cells.
  void scaleBySignal(const std::vector<double>& first, const std::vector<double>& second);
  double regulariserCost(const double* b, size_t c) const;
  // linearise for column c on `thread`'s scratch: the cell weights, the
  // rows of the data term's Jacobian, the Gauss-Newton block and the column's
  // gradient, its cost in partial_[c]; false (and an infinite cost) when the
  // column folds.
  bool lineariseColumn(const std::vector<double>& b, std::vector<double>& gradient, size_t c, int thread);
  // z = M^-1 r for columns first .. first + count - 1 (count <= kLanes),
  // their r . z into rz[c]. r, z: whole vectors in the face layout.
  void preconditionColumns(size_t first, size_t count, const double* r, double* z, double* rz) const;
  // Columns whose preconditioner solves run side by side: a column's Thomas
  // recurrences are a chain of dependent multiplications, and independent
  // chains overlap. Each column's arithmetic is the same as alone.
  static constexpr size_t kLanes = 8;
  // The preconditioner of column c factorised (Thomas) from its block.
  void factorPreconditioner(size_t c);
  double sumOfPartials() const;

  ColumnGrid grid_;
  VariationalWeights weights_;
  ColumnThreads* threads_;
  mutable std::vector<std::array<std::vector<double>, 3>> scratch_;  // per thread: three columns of cells
  // Per column, padded_ B-spline coefficients of each scan: of its
  // cumulative signal at the m + 1 faces (cellMass), else of its m cells,
  // with kPad more on each end.
  int32_t padded_;
  std::vector<double> coeff1_;
  std::vector<double> coeff2_;
  std::vector<double> total1_, total2_;   // cellMass: each column's total signal
  std::vector<double> cellWeight_;        // frozen w per cell
  std::vector<double> rowA_;              // sqrt(w) dr/db at the cell's lower face, per cell
  std::vector<double> rowC_;              // ... at its upper face
  std::vector<double> barrierCurvature_;  // barrier * phi''(D b), per cell
  std::vector<double> diag_;              // data + barrier Gauss-Newton matrix: diagonal per face
  std::vector<double> off_;               // ... and the (k, k+1) entry, per cell
  std::vector<double> preLower_;          // Thomas factors of the preconditioner: c'_k per face
  std::vector<double> preInverse_;        // 1 / pivot per face
  std::vector<double> preOff_;            // the preconditioner's (k, k+1) entry, per cell
  mutable std::vector<double> partial_;   // per-column partial sums
  mutable std::vector<double> cgResidual_, cgPreconditioned_, cgDirection_, cgProduct_;  // solve's work
  mutable std::vector<double> nextRz_;  // per-column r . z of the conjugate gradients' next direction
  std::vector<double> acrossWeight_;    // see freezeAcrossWeights
  // With signalScaled(): the signal's scale g at each face (faces layout),
  // and that of each third difference across PE, per column where its window
  // of four starts, along x then along z, one per face (0 where no window
  // starts). Single precision: a smooth weighting.
  std::vector<float> signalScale_, thirdScale_;
};

}  // namespace daxo
