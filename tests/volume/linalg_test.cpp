#include "volume/linalg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "testsupport/volumes.h"

namespace daxo {
namespace {

using testing::randomMatrix;

Matrix matrix2(float a00, float a01, float a10, float a11) {
  Matrix m(2, 2);
  m(0, 0) = a00;
  m(0, 1) = a01;
  m(1, 0) = a10;
  m(1, 1) = a11;
  return m;
}

void expectMatrixEq(const Matrix& actual, const Matrix& expected, float tolerance = 0.0f) {
  ASSERT_EQ(actual.rows(), expected.rows());
  ASSERT_EQ(actual.columns(), expected.columns());
  for (int r = 0; r < actual.rows(); ++r)
    for (int c = 0; c < actual.columns(); ++c) EXPECT_NEAR(actual(r, c), expected(r, c), tolerance) << r << "," << c;
}

TEST(Linalg, ProductsSumInIncreasingIndexOrder) {
  const Matrix a = randomMatrix(5, 7, 1), b = randomMatrix(7, 3, 2);
  Vector v(7);
  for (int k = 0; k < 7; ++k) v[k] = b(k, 1);
  const Matrix ab = a * b;
  const Vector av = a * v;
  ASSERT_EQ(ab.rows(), 5);
  ASSERT_EQ(ab.columns(), 3);
  for (int i = 0; i < 5; ++i) {
    for (int j = 0; j < 3; ++j) {
      float sum = a(i, 0) * b(0, j);
      for (int k = 1; k < 7; ++k) sum += a(i, k) * b(k, j);
      EXPECT_EQ(ab(i, j), sum);
    }
    EXPECT_EQ(av[i], ab(i, 1));
  }
}

TEST(Linalg, TransposeAndNegation) {
  const Matrix a = randomMatrix(2, 3, 3);
  const Matrix t = transpose(a);
  ASSERT_EQ(t.rows(), 3);
  ASSERT_EQ(t.columns(), 2);
  EXPECT_EQ(t(2, 1), a(1, 2));
  expectMatrixEq(transpose(t), a);
  const Matrix n = -Matrix(2, 2, 0.0f);
  EXPECT_TRUE(std::signbit(n(1, 0)));
  EXPECT_EQ((-a)(1, 2), -a(1, 2));
}

TEST(Linalg, SvdOfSmallMatricesGivesTheDocumentedFactors) {
  Matrix a = matrix2(1, 0, 0, 1);
  Vector w;
  Matrix v;
  ASSERT_TRUE(svd(a, w, v));
  EXPECT_EQ(w[0], 1.0f);
  EXPECT_EQ(w[1], 1.0f);
  expectMatrixEq(a, matrix2(-1, 0, 0, -1));  // each axis reflected once
  expectMatrixEq(v, matrix2(-1, 0, 0, -1));

  a = matrix2(1, 0, 0, 3);
  ASSERT_TRUE(svd(a, w, v));
  EXPECT_FLOAT_EQ(w[0], 1.0f);  // not sorted
  EXPECT_FLOAT_EQ(w[1], 3.0f);

  a = matrix2(2, 1, 1, 3);
  ASSERT_TRUE(svd(a, w, v));
  EXPECT_NEAR(w[0], 1.381966f, 1e-5f);
  EXPECT_NEAR(w[1], 3.618034f, 1e-5f);

  a = matrix2(-2, 0, 0, 1);
  ASSERT_TRUE(svd(a, w, v));
  EXPECT_EQ(w[0], 2.0f);
  EXPECT_EQ(w[1], 1.0f);
  expectMatrixEq(a, matrix2(-1, 0, 0, -1));
  expectMatrixEq(v, matrix2(1, 0, 0, -1));
}

// U * diag(w) * V^T rebuilt in double must give the input back, and U and V
// must have orthonormal columns. A backward-stable single-precision
// decomposition is exact up to a few times n * eps * |a| (eps = 6e-8, n <= 9,
// entries below 1), so 2e-5 leaves a margin of about ten.
TEST(Linalg, SvdReconstructsTheInputForTallSquareAndWideMatrices) {
  const int shapes[][2] = {{6, 4}, {9, 9}, {3, 5}, {1, 1}, {7, 1}};
  uint32_t seed = 10;
  for (const auto& shape : shapes) {
    const int m = shape[0], n = shape[1];
    const Matrix input = randomMatrix(m, n, seed++);
    Matrix u = input;
    Vector w;
    Matrix v;
    ASSERT_TRUE(svd(u, w, v)) << m << "x" << n;
    ASSERT_EQ(w.size(), n);
    for (int k = 0; k < n; ++k) EXPECT_GE(w[k], 0.0f);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < n; ++j) {
        double sum = 0.0;
        for (int k = 0; k < n; ++k) sum += double(u(i, k)) * w[k] * v(j, k);
        EXPECT_NEAR(sum, input(i, j), 2e-5) << m << "x" << n << " at " << i << "," << j;
      }
    for (int p = 0; p < n; ++p)
      for (int q = 0; q < n; ++q) {
        double vv = 0.0;
        for (int k = 0; k < n; ++k) vv += double(v(k, p)) * v(k, q);
        EXPECT_NEAR(vv, p == q ? 1.0 : 0.0, 2e-5);
      }
  }
}

TEST(Linalg, SvdOfNotANumberFailsInsteadOfLooping) {
  Matrix a(2, 2, NAN);
  Vector w;
  Matrix v;
  EXPECT_FALSE(svd(a, w, v));
}

TEST(Linalg, PseudoInverse) {
  Matrix a = matrix2(4, 7, 2, 6);  // det 10
  ASSERT_TRUE(pseudoInverse(a));
  expectMatrixEq(a, matrix2(0.6f, -0.7f, -0.2f, 0.4f), 1e-6f);

  a = matrix2(2, 0, 0, 0);
  ASSERT_TRUE(pseudoInverse(a));
  expectMatrixEq(a, matrix2(0.5f, 0, 0, 0), 1e-7f);

  Matrix wide = randomMatrix(2, 3, 5);
  const Matrix before = wide;
  EXPECT_FALSE(pseudoInverse(wide));
  expectMatrixEq(wide, before);

  // A well-conditioned 5 x 5 matrix: the product with its inverse is the
  // identity to within a few hundred eps.
  Matrix m = randomMatrix(5, 5, 6);
  for (int i = 0; i < 5; ++i) m(i, i) += 3.0f;
  Matrix inv = m;
  ASSERT_TRUE(pseudoInverse(inv));
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j) {
      double sum = 0.0;
      for (int k = 0; k < 5; ++k) sum += double(m(i, k)) * inv(k, j);
      EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-5);
    }
}

}  // namespace
}  // namespace daxo
