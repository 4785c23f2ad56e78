#pragma once

#include "volume/matrix.h"
#include "volume/vector.h"

// Small dense linear algebra on the single-precision Matrix (column-major) and
// Vector. All arithmetic is single precision; nothing is cached between calls.

namespace daxo {

// a (p x n) times b (n x q): a new p x q matrix. Element (i, j) is the sum over
// k of a(i, k) * b(k, j), started with the k = 0 term and added in increasing
// k. The inner extents are not checked; the caller must make them agree.
Matrix operator*(const Matrix& a, const Matrix& b);

// a (p x n) times v (n elements): p elements, summed as for the matrix
// product. v.size() == a.columns() is the caller's obligation.
Vector operator*(const Matrix& a, const Vector& v);

// Every element with its sign bit flipped.
Matrix operator-(const Matrix& a);

// q x p matrix with element (j, i) = a(i, j).
Matrix transpose(const Matrix& a);

// Golub-Reinsch singular value decomposition a = U * diag(w) * V^T of the
// m x n matrix a, in place: on return a holds U (m x n), w the n singular
// values and v the n x n matrix V. w and v are resized first (contents not
// kept). The singular values are non-negative but not sorted: w[i] belongs to
// column i of U and V. Returns false when a singular value does not converge
// within 30 tests; a, w and v then hold intermediate values.
bool svd(Matrix& a, Vector& w, Matrix& v);

// Replaces the square matrix a by V * diag(1/w) * U^T, leaving out the
// singular values that are exactly 0 (no relative threshold). Returns false,
// with a unchanged, for a non-square matrix; returns false, with a holding
// unusable intermediate values, when the decomposition fails.
bool pseudoInverse(Matrix& a);

}  // namespace daxo
